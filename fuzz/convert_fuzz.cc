// The whole converter over any bytes and options (differential_fuzz checks the exact bytes).
// Input: 16 little-endian option bits, then the file; bits 0-13 stand for "abcfijkmnorsuw", bits
// 14-15 pick the read size or, under w, the disk call that fails. Checked: the text is at most
// twice the file plus a little; the output of no options converts to itself; under w a converted
// file holds what standard output shows, a failed one is as it was, no stray file or descriptor.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter.h"
#include "driver/command_line.h"
#include "driver/file_loop.h"
#include "require.h"
#include "support/encoding_guard.h"
#include "support/fake_disk.h"
#include "support/text_reader.h"

namespace lowtags {
namespace {

const std::string kPath = "page.htm";

// The last write is the message when a conversion fails.
struct RecordingSink : ByteSink {
  void Write(std::string_view bytes) override { text.append(bytes), last = bytes.size(); }
  std::string text;
  std::size_t last = 0;
};

// The file as standard output would show it (newline as LF), read `read_chunk` bytes at a time;
// empty when it does not convert.
std::optional<std::string> ToStdout(const std::string& letters, std::string_view file,
                                    std::size_t read_chunk) {
  const std::string group = "-" + letters;
  const char* const args[] = {group.c_str(), "x"};
  FakeDisk disk;
  disk.AddFile(kPath, file);
  disk.set_read_chunk(read_chunk);
  int in = -1;
  Require(disk.OpenRead(kPath, &in) == 0, "fake disk opens the file");
  PieceReader reader(disk, in);
  RecordingSink sink;
  const bool converted =
      Converter(ParseCommandLine(args).options, FastestEngine()).Convert(reader, kPath, sink) ==
      ConvResult::kConverted;
  Require(sink.text.size() - (converted ? 0 : sink.last) <= 2 * file.size() + 16,
          "converted text at most twice the file");
  return converted ? std::optional(sink.text) : std::nullopt;
}

// A NUL ends its line's text for the converter, which then joins the rest of the file to what
// went before: converting the output again reads other lines, so nothing is promised there.
void CheckIdempotent(std::string_view file, std::size_t read_chunk) {
  const auto first = ToStdout("", file, read_chunk);
  if (!first || file.substr(0, file.find('\x1A')).find('\0') != std::string::npos) return;
  Require(ToStdout("", *first, read_chunk) == first, "own output converts to itself");
}

// The whole -w path of the program on the fake disk, with one disk call failing by `selector`:
// the file holds what standard output shows, or is left as it was with a message that says why.
void CheckOverwrite(const std::string& letters, std::string_view file, unsigned selector) {
  const auto plain = ToStdout(letters, file, static_cast<std::size_t>(-1));
  FakeDisk disk;
  disk.AddFile(kPath, file);
  disk.AddFile("out", "");
  constexpr DiskOp kOps[] = {DiskOp::kWrite, DiskOp::kWrite, DiskOp::kRename, DiskOp::kRead};
  if (selector != 0) disk.FailCall(kOps[selector], selector == 3 ? 2 : 1, selector == 1 ? 28 : 5);
  int out = -1;
  Require(disk.OpenWrite("out", &out) == 0, "fake disk opens stdout");
  const std::string option = "-w" + letters;
  const char* const args[] = {option.c_str(), kPath.c_str()};
  const int status = RunLowtags(args, disk, out, out, Charset::kShiftJis);
  disk.Close(out);
  const std::string messages = disk.Contents("out").value_or("");
  Require(disk.OpenDescriptors() == 0, "every descriptor closed");
  Require(disk.Paths() == std::vector<std::string>{"out", kPath}, "no stray file left");
  const std::string after = disk.Contents(kPath).value_or("<gone>");
  if (status == 0 && messages.empty()) {
    std::string shown;
    for (const char c : plain.value_or("")) shown += c == '\n' ? "\r\n" : std::string(1, c);
    Require(plain && after == shown, "rewritten as stdout shows");
    return;
  }
  Require(after == file, "a file that failed is unchanged");
  const NotSjis refused = CheckNotSjis(file);
  if (refused != NotSjis::kNone && selector == 0) {
    Require(status == 2 && messages == "page.htm: not Shift_JIS text (" +
                                           std::string(NotSjisWord(refused)) + ")\r\n",
            "a file that is no Shift_JIS text is refused, and only so");
    return;
  }
  // Messages and the write error share the descriptor here: a failed write may have hit the
  // messages instead of the file, and then the error on them is the reason.
  if (status == 1 &&
      messages.find("lowtags: write error on standard output: ") == std::string::npos) {
    Require(messages == "page.htm: failed to rewrite\r\n" ||
                messages == "page.htm: cannot open to write\r\n",
            "a stopped rewrite says why");
  }
  Require(selector != 0 || (status != 1 && !plain), "fails unfaulted only where stdout fails");
}

}  // namespace
}  // namespace lowtags

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags;
  if (size < 2) return 0;
  const unsigned bits = data[0] | (static_cast<unsigned>(data[1]) << 8);
  std::string letters;  // without 'w'
  for (std::size_t i = 0; i < 13; ++i) {
    if ((bits >> i & 1U) != 0) letters += "abcfijkmnorsu"[i];
  }
  const unsigned selector = bits >> 14 & 3U;
  const std::string_view file(reinterpret_cast<const char*>(data) + 2, size - 2);
  if ((bits >> 13 & 1U) != 0) return CheckOverwrite(letters, file, selector), 0;
  constexpr std::size_t kChunks[] = {static_cast<std::size_t>(-1), 1, 4093, 10000};
  if (!letters.empty()) (void)ToStdout(letters, file, kChunks[selector]);
  CheckIdempotent(file, kChunks[selector]);
  return 0;
}

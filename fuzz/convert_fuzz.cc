// The whole converter over arbitrary bytes with an arbitrary option set.
//
// Input: two bytes of option bits, then the file. Bits 0 to 13 of the little-endian 16-bit value
// stand for the letters "abcfijkmnorsuw" in that order; bits 14 and 15 pick how the file is read
// (standard output mode: the largest read size) or which disk call fails (under w).
//
// Checked on every input (the exact bytes are differential_fuzz's to check):
// - the converted text is never longer than twice the file plus a little (messages not counted);
// - without options, converting the converter's own output again changes nothing;
// - under w, a converted file holds exactly what standard output would have shown, and a file
//   that failed to convert, or to be rewritten, is byte for byte as it was, with no stray file
//   left beside it and every descriptor closed.
#include <cstddef>
#include <cstdint>
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

constexpr std::string_view kLetters = "abcfijkmnorsuw";
const std::string kPath = "page.htm";

// Keeps the text as the converter hands it out (newline as LF) and the size of the last write:
// the message, when a conversion fails.
class RecordingSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override {
    text.append(bytes);
    last = bytes.size();
  }
  std::string text;
  std::size_t last = 0;
};

struct Run {
  bool converted = false;
  std::string text;  // lines and messages, newline as LF
};

// Converts the file as standard output would show it, read `read_chunk` bytes at a time.
Run ToStdout(const std::string& letters, std::string_view file, std::size_t read_chunk) {
  const std::string group = "-" + letters;
  const char* const args[] = {group.c_str(), "x"};
  FakeDisk disk;
  disk.AddFile(kPath, file);
  disk.set_read_chunk(read_chunk);
  int in = -1;
  Require(disk.OpenRead(kPath, &in) == 0, "fake disk opens the file");
  PieceReader reader(disk, in);
  RecordingSink sink;
  const Converter converter(ParseCommandLine(args).options, FastestEngine());
  const bool converted = converter.Convert(reader, kPath, sink) == ConvResult::kConverted;
  Require(sink.text.size() - (converted ? 0 : sink.last) <= 2 * file.size() + 16,
          "converted text at most twice the file");
  return {converted, std::move(sink.text)};
}

std::string WithCrLf(std::string_view text) {
  std::string out;
  for (const char c : text) out += c == '\n' ? "\r\n" : std::string(1, c);
  return out;
}

// A NUL ends its line's text for the converter, which then joins the rest of the file to what
// went before: converting the output again reads other lines, so nothing is promised there.
void CheckIdempotent(std::string_view file, std::size_t read_chunk) {
  const Run first = ToStdout("", file, read_chunk);
  if (!first.converted || file.substr(0, file.find('\x1A')).find('\0') != std::string::npos) return;
  const Run second = ToStdout("", first.text, read_chunk);
  Require(second.converted && second.text == first.text, "own output converts to itself");
}

// The whole -w path of the program on the fake disk, with one disk call failing by `selector`:
// the file holds what standard output shows, or is left as it was with a message that says why.
void CheckOverwrite(const std::string& letters, std::string_view file, unsigned selector) {
  const Run plain = ToStdout(letters, file, static_cast<std::size_t>(-1));
  FakeDisk disk;
  disk.AddFile(kPath, file);
  disk.AddFile("out", "");
  if (selector == 1) disk.FailCall(DiskOp::kWrite, 1, 28 /* ENOSPC */);
  if (selector == 2) disk.FailCall(DiskOp::kRename, 1, 5 /* EIO */);
  if (selector == 3) disk.FailCall(DiskOp::kRead, 2, 5 /* EIO */);
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
    Require(plain.converted && after == WithCrLf(plain.text), "rewritten as stdout shows");
    return;
  }
  Require(after == file, "a file that failed is unchanged");
  // A file that is no Shift_JIS text is refused before any rule runs.
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
  if (selector == 0) {
    Require(status != 1, "a rewrite without faults does not stop");
    Require(!plain.converted, "fails only where standard output fails");
  }
}

}  // namespace
}  // namespace lowtags

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags;
  if (size < 2) return 0;
  const unsigned bits = data[0] | (static_cast<unsigned>(data[1]) << 8);
  std::string letters;  // without 'w'
  for (std::size_t i = 0; i + 1 < kLetters.size(); ++i) {
    if ((bits >> i & 1U) != 0) letters += kLetters[i];
  }
  const unsigned selector = bits >> 14 & 3U;
  const std::string_view file(reinterpret_cast<const char*>(data) + 2, size - 2);
  if ((bits >> 13 & 1U) != 0) {
    CheckOverwrite(letters, file, selector);
    return 0;
  }
  constexpr std::size_t kChunks[] = {static_cast<std::size_t>(-1), 1, 4093, 10000};
  if (!letters.empty()) (void)ToStdout(letters, file, kChunks[selector]);
  CheckIdempotent(file, kChunks[selector]);
  return 0;
}

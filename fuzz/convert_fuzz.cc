// The whole converter over any bytes and options (differential_fuzz checks the exact bytes).
// Input: 16 little-endian option bits, then the file; bits 0-13 stand for "abcfijkmnorsuw", bits
// 14-15 pick the read size or, under w, the disk call that fails. Checked: converted text is at
// most twice the file plus a little; the output of no options converts to itself; under w a
// converted file holds what standard output shows, a failed one is as it was, and no stray file
// or descriptor is left.
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
#include "test_support.h"

namespace lowtags {
namespace {

const std::string kPath = "page.htm";

// The file as standard output would show it (newline as LF), read `read_chunk` bytes at a time;
// nothing when it does not convert.
std::optional<std::string> ToStdout(const char* group, std::string_view file,
                                    std::size_t read_chunk) {
  const char* const args[] = {group, "x"};
  FakeDisk disk;
  disk.AddFile(kPath, file);
  disk.set_read_chunk(read_chunk);
  int in = -1;
  Require(disk.OpenRead(kPath, &in) == 0, "fake disk opens the file");
  PieceReader reader(disk, in);
  testing::StringSink sink;
  const Converter converter(ParseCommandLine(args).options, FastestEngine());
  if (converter.Convert(reader, kPath, sink) != ConvResult::kConverted) return std::nullopt;
  Require(sink.text.size() <= 2 * file.size() + 16, "converted text at most twice the file");
  return sink.text;
}

// The whole -w path of the program on the fake disk, with one disk call failing by `selector`.
void CheckOverwrite(const std::string& group, std::string_view file, unsigned selector) {
  const auto plain = ToStdout(group.c_str(), file, static_cast<std::size_t>(-1));
  FakeDisk disk;
  disk.AddFile(kPath, file);
  disk.AddFile("out", "");
  constexpr DiskOp kOps[] = {DiskOp::kWrite, DiskOp::kWrite, DiskOp::kRename, DiskOp::kRead};
  if (selector != 0) disk.FailCall(kOps[selector], selector == 3 ? 2 : 1, selector == 1 ? 28 : 5);
  int out = -1;
  Require(disk.OpenWrite("out", &out) == 0, "fake disk opens stdout");
  const std::string option = group + "w";
  const char* const args[] = {option.c_str(), kPath.c_str()};
  const int status = RunLowtags(args, disk, out, out, Charset::kShiftJis);
  disk.Close(out);
  Require(disk.OpenDescriptors() == 0, "every descriptor closed");
  Require(disk.Paths() == std::vector<std::string>{"out", kPath}, "no stray file left");
  const std::string after = disk.Contents(kPath).value_or("<gone>");
  if (status != 0 || !disk.Contents("out").value_or("").empty()) {
    Require(after == file, "a file that failed is unchanged");
    Require(selector != 0 || !plain || CheckNotSjis(file) != NotSjis::kNone,
            "fails unfaulted only where stdout fails or the file is no Shift_JIS text");
    return;
  }
  std::string shown;
  for (const char c : plain.value_or("")) shown += c == '\n' ? "\r\n" : std::string(1, c);
  Require(plain && after == shown, "rewritten as stdout shows");
}

}  // namespace
}  // namespace lowtags

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags;
  if (size < 2) return 0;
  const unsigned bits = data[0] | (static_cast<unsigned>(data[1]) << 8);
  std::string group = "-";  // alone, "-" names standard input and sets no option
  for (std::size_t i = 0; i < 13; ++i) {
    if ((bits >> i & 1U) != 0) group += "abcfijkmnorsu"[i];
  }
  const unsigned selector = bits >> 14 & 3U;
  const std::string_view file(reinterpret_cast<const char*>(data) + 2, size - 2);
  if ((bits >> 13 & 1U) != 0) return CheckOverwrite(group, file, selector), 0;
  constexpr std::size_t kChunks[] = {static_cast<std::size_t>(-1), 1, 4093, 10000};
  (void)ToStdout(group.c_str(), file, kChunks[selector]);
  // A NUL ends its line's text, and the rest of the file joins what went before: converting
  // the output again reads other lines, so nothing is promised there.
  const auto first = ToStdout("-", file, kChunks[selector]);
  if (!first || file.substr(0, file.find('\x1A')).find('\0') != std::string::npos) return 0;
  Require(ToStdout("-", *first, kChunks[selector]) == first, "own output converts to itself");
  return 0;
}

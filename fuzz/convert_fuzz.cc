// The whole converter over arbitrary bytes with an arbitrary option set.
//
// Input: two bytes of option bits, then the file. Bits 0 to 13 of the little-endian 16-bit value
// stand for the letters "abcfijkmnorsuw" in that order; bits 14 and 15 pick how the file is read
// (standard output mode: the largest read size) or which disk call fails (under w).
//
// Checked on every input:
// - the converted text is never longer than twice the file plus a little (messages not counted);
// - the CR LF writer never produces a lone CR or LF;
// - without options, converting the program's own output again changes nothing;
// - under w, a converted file holds exactly what standard output would have shown, and a file
//   that failed to convert, or to be rewritten, is byte for byte as it was, with no stray file
//   left beside it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter.h"
#include "driver/command_line.h"
#include "driver/file_loop.h"
#include "require.h"
#include "support/byte_sink.h"
#include "support/encoding_guard.h"
#include "support/fake_disk.h"
#include "support/text_reader.h"
#include "support/text_writer.h"

namespace lowtags {
namespace {

constexpr std::string_view kLetters = "abcfijkmnorsuw";
constexpr std::string_view kPath = "page.htm";
// The one line a message may add to the converted text does not count; this covers the rest of
// the slack (nothing the rules add comes near it).
constexpr std::size_t kSlack = 16;

struct Input {
  std::string letters;  // without 'w'
  bool overwrite = false;
  unsigned selector = 0;  // 0 to 3
  std::string_view file;
};

Input Parse(const std::uint8_t* data, std::size_t size) {
  Input in;
  if (size < 2) return in;
  const unsigned bits = data[0] | (static_cast<unsigned>(data[1]) << 8);
  for (std::size_t i = 0; i < kLetters.size(); ++i) {
    if ((bits >> i & 1U) == 0) continue;
    if (kLetters[i] == 'w') {
      in.overwrite = true;
    } else {
      in.letters += kLetters[i];
    }
  }
  in.selector = bits >> 14 & 3U;
  in.file = std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2);
  return in;
}

// The options the command line reads from the letters.
OptionSet OptionsOf(const std::string& letters) {
  const std::string group = "-" + letters;
  const char* args[] = {group.c_str(), "x"};
  return ParseCommandLine(args).options;
}

// Keeps the text as the converter hands it out (newline as LF), remembers the size of the last
// write (the message, when a conversion fails), and passes everything on to the CR LF writer.
class RecordingSink : public ByteSink {
 public:
  explicit RecordingSink(ByteSink& copy) : copy_(copy) {}
  void Write(std::string_view bytes) override {
    text.append(bytes);
    last = bytes.size();
    copy_.Write(bytes);
  }
  std::string text;
  std::size_t last = 0;

 private:
  ByteSink& copy_;
};

class StringSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

struct StdoutRun {
  ConvResult result = ConvResult::kConverted;
  std::string text;         // lines and messages, newline as LF
  std::size_t message = 0;  // bytes at the end of text that are the failure message
  std::string crlf;         // what the CR LF writer wrote
};

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (const char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

bool HasLoneCrOrLf(std::string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\r' && (i + 1 == s.size() || s[i + 1] != '\n')) return true;
    if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) return true;
  }
  return false;
}

std::size_t ReadChunk(unsigned selector) {
  constexpr std::size_t kChunks[] = {static_cast<std::size_t>(-1), 1, 4093, 10000};
  return kChunks[selector];
}

// Converts the file with the options set. With `through_writer` standard output is the real CR LF
// writer over an in-memory disk; otherwise only the text is kept (each writer and reader holds a
// large block, and under AddressSanitizer every one of them costs fresh pages).
StdoutRun ToStdout(const OptionSet& options, std::string_view file, std::size_t read_chunk,
                   bool through_writer) {
  FakeDisk disk;
  disk.AddFile(std::string(kPath), file);
  disk.AddFile("stdout", "");
  disk.set_read_chunk(read_chunk);
  int in = -1;
  int out = -1;
  Require(disk.OpenRead(std::string(kPath), &in) == 0, "fake disk opens the file");
  Require(disk.OpenWrite("stdout", &out) == 0, "fake disk opens stdout");
  StdoutRun run;
  {
    PieceReader reader(disk, in);
    StringSink text;
    std::optional<TextWriter> writer;
    if (through_writer) writer.emplace(disk, out);
    RecordingSink sink(writer ? static_cast<ByteSink&>(*writer) : text);
    run.result = Converter(options, FastestEngine()).Convert(reader, std::string(kPath), sink);
    if (writer) Require(writer->Flush() == 0, "stdout accepts every write");
    run.text = std::move(sink.text);
    if (run.result != ConvResult::kConverted) run.message = sink.last;
  }
  disk.Close(in);
  disk.Close(out);
  Require(run.text.size() - run.message <= 2 * file.size() + kSlack,
          "converted text at most twice the file");
  if (through_writer) {
    run.crlf = disk.Contents("stdout").value_or("");
    Require(!HasLoneCrOrLf(run.crlf), "no lone CR or LF on standard output");
    Require(run.crlf == WithCrLf(run.text), "standard output is the text with CR LF");
  } else {
    run.crlf = WithCrLf(run.text);
  }
  return run;
}

// The text before the first 0x1A, which ends a text-mode file.
std::string_view TextPart(std::string_view file) { return file.substr(0, file.find('\x1A')); }

// A NUL ends its line's text for the converter, which then joins the rest of the file to what
// went before: converting the output again reads other lines, so nothing is promised there.
// `first` is the file converted without options.
void CheckIdempotent(std::string_view file, const StdoutRun& first, std::size_t read_chunk) {
  if (TextPart(file).find('\0') != std::string_view::npos) return;
  if (first.result != ConvResult::kConverted) return;
  const StdoutRun second = ToStdout(OptionSet{}, first.text, read_chunk, false);
  Require(second.result == ConvResult::kConverted, "own output converts without error");
  Require(second.text == first.text, "own output converts to itself");
}

void InjectFault(FakeDisk& disk, unsigned selector) {
  switch (selector) {
    case 1:
      disk.FailCall(DiskOp::kWrite, 1, 28 /* ENOSPC */);
      break;
    case 2:
      disk.FailCall(DiskOp::kRename, 1, 5 /* EIO */);
      break;
    case 3:
      disk.FailCall(DiskOp::kRead, 2, 5 /* EIO */);
      break;
    default:
      break;
  }
}

// The whole -w path of the program on the fake disk: the file holds what standard output shows,
// or is left as it was with a message that says why.
void CheckOverwrite(const Input& in) {
  const StdoutRun plain = ToStdout(OptionsOf(in.letters), in.file, ReadChunk(0), false);

  FakeDisk disk;
  disk.AddFile(std::string(kPath), in.file);
  disk.AddFile("out", "");
  InjectFault(disk, in.selector);
  int out = -1;
  Require(disk.OpenWrite("out", &out) == 0, "fake disk opens stdout");
  const std::string option = "-w" + std::string(in.letters);
  const std::string path(kPath);
  const char* const args[] = {option.c_str(), path.c_str()};
  const int status = RunLowtags(args, disk, out, out, Charset::kShiftJis);
  disk.Close(out);
  const std::string messages = disk.Contents("out").value_or("");
  Require(disk.OpenDescriptors() == 0, "every descriptor closed");
  Require(disk.Paths() == std::vector<std::string>{"out", path}, "no stray file left");
  const std::string after = disk.Contents(path).value_or("<gone>");
  if (status == 0 && messages.empty()) {
    Require(plain.result == ConvResult::kConverted, "rewritten only what converts");
    Require(after == plain.crlf, "rewritten file holds what standard output shows");
    return;
  }
  Require(after == in.file, "a file that failed is unchanged");
  // A file that is no Shift_JIS text is refused before any rule runs.
  const NotSjis refused = CheckNotSjis(in.file);
  if (refused != NotSjis::kNone && in.selector == 0) {
    Require(status == 2 && messages == "page.htm: not Shift_JIS text (" +
                                           std::string(NotSjisWord(refused)) + ")\r\n",
            "a file that is no Shift_JIS text is refused, and only so");
    return;
  }
  // Messages and the write error share the descriptor here: a failed write may have hit the
  // messages instead of the file, and then the error on them is the reason.
  const bool messages_lost =
      messages.find("lowtags: write error on standard output: ") != std::string::npos;
  if (status == 1 && !messages_lost) {
    Require(messages == "page.htm: failed to rewrite\r\n" ||
                messages == "page.htm: cannot open to write\r\n",
            "a stopped rewrite says why");
  }
  if (in.selector == 0) {
    Require(status != 1, "a rewrite without faults does not stop");
    Require(plain.result == ConvResult::kFailed, "fails only where standard output fails");
  }
}

}  // namespace
}  // namespace lowtags

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags;
  const Input in = Parse(data, size);
  if (size < 2) return 0;
  if (in.overwrite) {
    CheckOverwrite(in);
  } else {
    const std::size_t chunk = ReadChunk(in.selector);
    const StdoutRun run = ToStdout(OptionsOf(in.letters), in.file, chunk, true);
    if (in.letters.empty()) {
      CheckIdempotent(in.file, run, chunk);
    } else {
      CheckIdempotent(in.file, ToStdout(OptionSet{}, in.file, chunk, false), chunk);
    }
  }
  return 0;
}

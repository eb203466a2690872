#include "support/message.h"

#include <array>
#include <charconv>
#include <cstdint>

namespace lowtags {

namespace {

std::string_view UpToNul(std::string_view s) { return s.substr(0, s.find('\0')); }

// One message being put together, on the stack. A piece begun below the limit may run past it
// by the digits of a number at most.
class Message {
 public:
  Message& Text(std::string_view fixed) {
    if (len_ < kMsgLimit) Put(fixed.substr(0, kMsgLimit - len_));
    return *this;
  }
  Message& Name(std::string_view s) {
    s = UpToNul(s);
    if (len_ + s.size() <= kMsgLimit) {
      Put(s);
    } else if (len_ < kMsgCutTo) {
      Put(s.substr(0, kMsgCutTo - len_));
    }
    return *this;
  }
  Message& Number(std::int32_t n) {
    if (len_ >= kMsgLimit) return *this;
    const auto end = std::to_chars(bytes_.data() + len_, bytes_.data() + bytes_.size(), n).ptr;
    len_ = static_cast<std::size_t>(end - bytes_.data());
    return *this;
  }
  void WriteTo(ByteSink& out) const { out.Write(std::string_view(bytes_.data(), len_)); }

 private:
  void Put(std::string_view s) {
    s.copy(bytes_.data() + len_, s.size());
    len_ += s.size();
  }

  std::array<char, kMsgLimit + 16> bytes_;
  std::size_t len_ = 0;
};

void NameThen(ByteSink& out, std::string_view name, std::string_view rest) {
  Message().Name(name).Text(rest).WriteTo(out);
}

void LineError(ByteSink& out, std::string_view path, int line_no, std::string_view line,
               std::string_view what) {
  Message().Name(path).Text(":").Number(line_no).Text(": ").Name(line).Text(what).WriteTo(out);
}

}  // namespace

void NotFound(ByteSink& out, std::string_view name) { NameThen(out, name, ": not found\n"); }

void NotRegularFile(ByteSink& out, std::string_view name) {
  NameThen(out, name, ": not a regular file\n");
}

void FailedToConvert(ByteSink& out, std::string_view name) {
  NameThen(out, name, ": failed to convert\n");
}

void NotShiftJis(ByteSink& out, std::string_view name, std::string_view rule) {
  Message().Name(name).Text(": not Shift_JIS text (").Name(rule).Text(")\n").WriteTo(out);
}

void CannotOpenToWrite(ByteSink& out, std::string_view name) {
  NameThen(out, name, ": cannot open to write\n");
}

void FailedToRewrite(ByteSink& out, std::string_view name) {
  NameThen(out, name, ": failed to rewrite\n");
}

void ChangedWhileConverting(ByteSink& out, std::string_view name) {
  NameThen(out, name, ": changed while converting\n");
}

void UnknownOption(ByteSink& out, char letter) {
  Message().Text(std::string_view(&letter, 1)).Text(": unknown option\n").WriteTo(out);
}

void UnknownLongOption(ByteSink& out, std::string_view word) {
  NameThen(out, word, ": unknown option\n");
}

void CannotConvertHelp(ByteSink& out, std::string_view reason) {
  Message().Text("cannot convert the help text: ").Name(reason).Text("\n").WriteTo(out);
}

void LibraryFault(ByteSink& out, std::string_view reason) { NameThen(out, reason, "\n"); }

void NoFreeSpace(ByteSink& out) { out.Write("no free disk space\n"); }

void NoFreeSpaceOnDrive(ByteSink& out, char drive) {
  Message().Text(std::string_view(&drive, 1)).Text(" drive: no free disk space\n").WriteTo(out);
}

void TagNotClosed(ByteSink& out, std::string_view path, int line_no, std::string_view line) {
  LineError(out, path, line_no, line, "'<' does not close.\n");
}

void NoOpeningBracket(ByteSink& out, std::string_view path, int line_no, std::string_view line) {
  LineError(out, path, line_no, line, "'>' does not correspond with '<'.\n");
}

void TagOpenAtEnd(ByteSink& out, std::string_view path) {
  NameThen(out, path, ": '<' unmatch to '>'\n");
}

void NotConvertibleToUtf8(ByteSink& out, std::string_view path, long long line_no) {
  // The count is given as 32 bits, as every line number in a message.
  Message()
      .Name(path)
      .Text(":")
      .Number(static_cast<std::int32_t>(line_no))
      .Text(": not convertible to UTF-8\n")
      .WriteTo(out);
}

std::size_t LinePrefixSize(std::string_view path, int line_no) {
  std::array<char, 16> digits;
  const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), line_no).ptr;
  return UpToNul(path).size() + 3 + static_cast<std::size_t>(end - digits.data());
}

}  // namespace lowtags

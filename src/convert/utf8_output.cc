#include "convert/utf8_output.h"

#include <algorithm>

#include "convert/charset_declaration.h"
#include "support/message.h"
#include "support/sjis.h"

namespace lowtags {

namespace {

constexpr std::size_t kSlice = 64 * 1024;

long long CountLines(std::string_view text) {
  return static_cast<long long>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

Utf8Output::Utf8Output(ByteSink& out)
    : out_(out), table_(Cp932ToUtf8::Get()), block_(Cp932ToUtf8::Room(kSlice + 1)) {}

void Utf8Output::Write(std::string_view bytes) {
  if (failed_) return;
  if (head_decided_) {
    Convert(bytes);
    return;
  }
  // "</head" or "<body" may begin in the text held before.
  const std::size_t from = head_.size() < 5 ? 0 : head_.size() - 5;
  head_.append(bytes);
  if (HoldsHeadEnd(head_, from) || head_.size() >= kHeadBound) {
    head_decided_ = true;
    Convert(DeclareUtf8(head_));
    std::string().swap(head_);
  }
}

bool Utf8Output::Finish() {
  if (!head_decided_) {
    head_decided_ = true;
    if (!failed_) Convert(DeclareUtf8(head_));
    std::string().swap(head_);
  }
  if (carrying_ && !failed_) Fail({});
  carrying_ = false;
  return !failed_;
}

void Utf8Output::Convert(std::string_view bytes) {
  if (carrying_ && !bytes.empty()) {
    carrying_ = false;
    const char pair[2] = {carry_, bytes.front()};
    ConvertSlice(std::string_view(pair, 2));
    bytes.remove_prefix(1);
  }
  while (!bytes.empty() && !failed_) {
    const std::string_view slice = bytes.substr(0, kSlice);
    ConvertSlice(slice);
    bytes.remove_prefix(slice.size());
  }
}

void Utf8Output::ConvertSlice(std::string_view bytes) {
  const Cp932ToUtf8::Step step = table_.Convert(bytes, block_.data());
  std::string_view converted(block_.data(), step.written);
  if (step.bad) {
    // The line that holds the sequence is left out, as a line with a bracket error is.
    converted = converted.substr(0, converted.rfind('\n') + 1);
    out_.Write(converted);
    Fail(bytes.substr(0, step.used));
    return;
  }
  out_.Write(converted);
  lines_ += CountLines(bytes.substr(0, step.used));
  if (step.used < bytes.size()) {  // a lead byte at the end
    carry_ = bytes.back();
    carrying_ = true;
  }
}

void Utf8Output::Fail(std::string_view before) {
  failed_ = true;
  failed_line_ = lines_ + CountLines(before) + 1;
}

std::string MessageLine(std::string_view cp932, std::size_t prefix) {
  const Cp932ToUtf8& table = Cp932ToUtf8::Get();
  std::string line;
  std::vector<std::size_t> ends;  // where each character ends in `line`
  for (std::size_t at = 0; at < cp932.size();) {
    const std::size_t n = CharLength(cp932, at);
    char out[Cp932ToUtf8::Room(2)];
    const Cp932ToUtf8::Step step = table.Convert(cp932.substr(at, n), out);
    if (step.used == n) {
      line.append(out, step.written);
    } else {
      line += '?';
    }
    ends.push_back(line.size());
    at += n;
  }
  if (prefix + line.size() <= kMsgLimit) return line;
  constexpr std::size_t kCutTo = kMsgLimit - 256;
  const std::size_t room = prefix < kCutTo ? kCutTo - prefix : 0;
  const auto last = std::upper_bound(ends.begin(), ends.end(), room);
  line.resize(last == ends.begin() ? 0 : *(last - 1));
  return line;
}

}  // namespace lowtags

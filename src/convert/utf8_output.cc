#include "convert/utf8_output.h"

#include <algorithm>

#include "convert/charset_declaration.h"
#include "support/message.h"
#include "support/sjis.h"
#include "support/text_reader.h"

namespace lowtags {

namespace {

// Small enough that its room fits a writer's block many times over.
constexpr std::size_t kSlice = 32 * 1024;

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
  if (carrying_ && !failed_) Fail();
  carrying_ = false;
  return !failed_;
}

std::span<char> Utf8Output::Room(std::size_t n) {
  if (!head_decided_ || failed_ || out_.Room(Cp932ToUtf8::Room(kSlice)).empty()) return {};
  room_.resize(n);
  return room_;
}

void Utf8Output::Filled(std::size_t n) {
  const std::span<char> text(room_.data(), n);
  // The sink took final text when the room was asked for; should it not now, its line ends
  // become LF first, over the whole lines, so that no CR LF is cut in two.
  if (out_.Room(Cp932ToUtf8::Room(kSlice)).empty()) {
    Convert(std::string_view(text.data(), FoldCarriageReturns(text, false)));
  } else {
    Convert(std::string_view(text.data(), n), true);
  }
}

void Utf8Output::Convert(std::string_view bytes, bool final_text) {
  while (!bytes.empty() && !failed_) {
    if (carrying_) {
      carrying_ = false;
      const char pair[2] = {carry_, bytes.front()};
      ConvertSlice(std::string_view(pair, 2), final_text);
      bytes.remove_prefix(1);
      continue;
    }
    const std::string_view slice = bytes.substr(0, kSlice);
    ConvertSlice(slice, final_text);
    bytes.remove_prefix(slice.size());
  }
}

// Straight into the room of a sink that writes newlines as CR LF, when it has room to give.
void Utf8Output::ConvertSlice(std::string_view bytes, bool final_text) {
  const std::span<char> room = out_.Room(Cp932ToUtf8::Room(bytes.size()));
  const bool to_room = !room.empty();
  char* const to = to_room ? room.data() : block_.data();
  const Cp932ToUtf8::Step step = table_.Convert(bytes, to, to_room && !final_text);
  std::size_t written = step.written;
  if (step.bad) {
    // The line that holds the sequence is left out, as a line with a bracket error is.
    written = std::string_view(to, written).rfind('\n') + 1;
  }
  if (to_room) {
    out_.Filled(written);
  } else {
    out_.Write(std::string_view(to, written));
  }
  lines_ += static_cast<long long>(step.lines);
  if (step.bad) {
    Fail();
  } else if (step.used < bytes.size()) {  // a lead byte at the end
    carry_ = bytes.back();
    carrying_ = true;
  }
}

void Utf8Output::Fail() {
  failed_ = true;
  failed_line_ = lines_ + 1;
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
  const std::size_t room = prefix < kMsgCutTo ? kMsgCutTo - prefix : 0;
  const auto last = std::upper_bound(ends.begin(), ends.end(), room);
  line.resize(last == ends.begin() ? 0 : *(last - 1));
  return line;
}

}  // namespace lowtags

#include "support/text_reader.h"

#include <cstring>

#include "support/byte_scan.h"
#include "support/sjis.h"

namespace lowtags {

PieceReader::PieceReader(Disk& disk, int fd)
    : disk_(disk), fd_(fd), buffer_(kBlock + kReadablePastEnd) {}

bool PieceReader::ReadMore() {
  if (ended_) return false;
  const std::size_t capacity = buffer_.size() - kReadablePastEnd;
  if (begin_ > 0 && capacity - end_ < kPiece + 2) {
    std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
    clean_end_ = clean_end_ > begin_ ? clean_end_ - begin_ : 0;
    end_ -= begin_;
    begin_ = 0;
  }
  std::size_t got = 0;
  const int rc = disk_.Read(fd_, buffer_.data() + end_, capacity - end_, &got);
  if (rc != 0 || got == 0) {
    error_ = rc;
    ended_ = true;
    return false;
  }
  char* fresh = buffer_.data() + end_;
  if (const void* eof = std::memchr(fresh, 0x1A, got)) {
    got = static_cast<std::size_t>(static_cast<const char*>(eof) - fresh);
    ended_ = true;
  }
  if (!may_hold_nul_ && std::memchr(fresh, '\0', got) != nullptr) may_hold_nul_ = true;
  end_ += got;
  return true;
}

std::size_t RemoveCarriageReturns(std::span<char> text) {
  char* const first = static_cast<char*>(std::memchr(text.data(), '\r', text.size()));
  if (first == nullptr) return text.size();
  // Stretches between carriage returns move down whole.
  char* out = first;
  const char* in = first + 1;
  const char* const end = text.data() + text.size();
  while (in < end) {
    const void* next = std::memchr(in, '\r', static_cast<std::size_t>(end - in));
    const char* stop = next != nullptr ? static_cast<const char*>(next) : end;
    std::memmove(out, in, static_cast<std::size_t>(stop - in));
    out += stop - in;
    in = stop + 1;
  }
  return static_cast<std::size_t>(out - text.data());
}

void PieceReader::DropCarriageReturns() {
  if (clean_end_ < begin_) clean_end_ = begin_;
  const std::span<char> dirty(buffer_.data() + clean_end_, end_ - clean_end_);
  end_ = clean_end_ + RemoveCarriageReturns(dirty);
  clean_end_ = end_;
}

std::string_view PieceReader::Text(std::size_t want) {
  while (end_ - begin_ < want && ReadMore()) {
  }
  const std::size_t pending = end_ - begin_;
  return {buffer_.data() + begin_, pending < want ? pending : want};
}

bool PieceReader::NextLine(std::span<char>* piece) {
  char* start = buffer_.data() + begin_;
  const std::size_t pending = end_ - begin_;
  const std::size_t window = pending < kPiece ? pending : kPiece;
  const std::size_t k = FindAnyOf<'\r', '\n'>(start, window);
  if (k == window) return false;
  if (start[k] == '\n') {
    *piece = std::span<char>(start, k + 1);
    begin_ += k + 1;
    return true;
  }
  // CR LF, the common line end: the CR becomes the newline and the LF is passed over.
  if (k + 1 < pending && start[k + 1] == '\n') {
    start[k] = '\n';
    *piece = std::span<char>(start, k + 1);
    begin_ += k + 2;
    return true;
  }
  return false;
}

bool PieceReader::Next(std::span<char>* piece) {
  while (end_ - begin_ < kPiece + 2 && ReadMore()) {
  }
  // Most lines end within a piece in the buffer as read: no bytes need to move.
  if (NextLine(piece)) return true;
  // Otherwise carriage returns go first, then the piece is cut from clean text.
  DropCarriageReturns();
  while (end_ - begin_ < kPiece + 1 && ReadMore()) DropCarriageReturns();
  const std::size_t pending = end_ - begin_;
  if (pending == 0) return false;
  char* start = buffer_.data() + begin_;
  const std::size_t window = pending < kPiece ? pending : kPiece;
  std::size_t length = window;
  if (const void* nl = std::memchr(start, '\n', window)) {
    length = static_cast<std::size_t>(static_cast<const char*>(nl) - start) + 1;
  } else if (error_ != 0 && pending <= kPiece) {
    // After a read error only whole pieces count: the file fails, it does not merely end.
    return false;
  } else if (window == kPiece && pending > kPiece) {
    const std::string_view text(start, pending);
    if (IsLeadByte(text[kPiece - 1]) && IsCharBoundary(text, 0, kPiece - 1)) ++length;
  }
  *piece = std::span<char>(start, length);
  begin_ += length;
  return true;
}

}  // namespace lowtags

#include "support/text_reader.h"

#include <cstring>

#include "support/sjis.h"

namespace lowtags {

PieceReader::PieceReader(Disk& disk, int fd) : disk_(disk), fd_(fd), buffer_(kBlock) {}

std::size_t PieceReader::Clean(char* fresh, std::size_t n) {
  if (const void* eof = std::memchr(fresh, 0x1A, n)) {
    n = static_cast<std::size_t>(static_cast<char*>(const_cast<void*>(eof)) - fresh);
    ended_ = true;
  }
  if (!may_hold_nul_ && std::memchr(fresh, '\0', n) != nullptr) may_hold_nul_ = true;
  char* cr = static_cast<char*>(std::memchr(fresh, '\r', n));
  if (cr == nullptr) return n;
  // Stretches between carriage returns move down whole; text has one at every line end.
  char* out = cr;
  const char* in = cr + 1;
  const char* const end = fresh + n;
  while (in < end) {
    const void* next = std::memchr(in, '\r', static_cast<std::size_t>(end - in));
    const char* stop = next != nullptr ? static_cast<const char*>(next) : end;
    std::memmove(out, in, static_cast<std::size_t>(stop - in));
    out += stop - in;
    in = stop + 1;
  }
  return static_cast<std::size_t>(out - fresh);
}

void PieceReader::Fill(std::size_t want) {
  while (!ended_ && end_ - begin_ < want) {
    if (begin_ > 0 && buffer_.size() - end_ < want) {
      std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
      end_ -= begin_;
      begin_ = 0;
    }
    std::size_t got = 0;
    const int rc = disk_.Read(fd_, buffer_.data() + end_, buffer_.size() - end_, &got);
    if (rc != 0) {
      error_ = rc;
      ended_ = true;
      return;
    }
    if (got == 0) {
      ended_ = true;
      return;
    }
    end_ += Clean(buffer_.data() + end_, got);
  }
}

bool PieceReader::Next(std::span<char>* piece) {
  Fill(kPiece + 1);
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

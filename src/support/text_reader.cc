#include "support/text_reader.h"

#include <cstring>

#include "simd/byte_scan.h"
#include "support/sjis.h"

namespace lowtags {

PieceReader::PieceReader(Disk& disk, int fd)
    : disk_(disk), fd_(fd), buffer_(kBlock + kReadablePastEnd) {}

bool PieceReader::ReadMore() {
  if (ended_) return false;
  const std::size_t capacity = buffer_.size() - kReadablePastEnd;
  if (begin_ > 0 && capacity - end_ < kPiece + kMarkerOverhang + 2) {
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

std::size_t FoldCarriageReturns(std::span<char> text, bool more_may_follow) {
  char* const first = static_cast<char*>(std::memchr(text.data(), '\r', text.size()));
  if (first == nullptr) return text.size();
  char* out = first;
  const char* in = first;
  const char* const end = text.data() + text.size();
  while (in < end) {
    const char* run_end = in;
    while (run_end < end && *run_end == '\r') ++run_end;
    if (run_end == end) {
      // Whether this run ends a line or goes before an LF is up to the next read.
      *out++ = more_may_follow ? '\r' : '\n';
      break;
    }
    if (*run_end != '\n') *out++ = '\n';
    // Stretches between runs move down whole.
    const void* next = std::memchr(run_end, '\r', static_cast<std::size_t>(end - run_end));
    const char* stop = next != nullptr ? static_cast<const char*>(next) : end;
    std::memmove(out, run_end, static_cast<std::size_t>(stop - run_end));
    out += stop - run_end;
    in = stop;
  }
  return static_cast<std::size_t>(out - text.data());
}

void PieceReader::DropCarriageReturns() {
  if (clean_end_ < begin_) clean_end_ = begin_;
  const std::span<char> dirty(buffer_.data() + clean_end_, end_ - clean_end_);
  end_ = clean_end_ + FoldCarriageReturns(dirty, !ended_);
  // A CR kept at the end waits for the byte after it.
  clean_end_ = end_ > begin_ && buffer_[end_ - 1] == '\r' ? end_ - 1 : end_;
}

namespace {

// Bytes past `cut` that complete a "<!--" or "-->" begun before it, "<!--" tried first: a
// comment's mark split between two pieces would be seen by neither.
std::size_t MarkerOverhang(std::string_view text, std::size_t cut) {
  for (const std::string_view marker : {std::string_view("<!--"), std::string_view("-->")}) {
    for (std::size_t in_piece = 1; in_piece < marker.size(); ++in_piece) {
      const std::size_t rest = marker.size() - in_piece;
      if (cut >= in_piece && cut + rest <= text.size() &&
          text.substr(cut - in_piece, in_piece) == marker.substr(0, in_piece) &&
          text.substr(cut, rest) == marker.substr(in_piece)) {
        return rest;
      }
    }
  }
  return 0;
}

}  // namespace

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
  while (clean_end_ - begin_ < kPiece + kMarkerOverhang + 1 && ReadMore()) DropCarriageReturns();
  if (ended_) DropCarriageReturns();  // a CR that ends the file ends its last line
  const std::size_t pending = clean_end_ - begin_;
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
    if (IsLeadByte(text[kPiece - 1]) && IsCharBoundary(text, 0, kPiece - 1)) {
      ++length;
    } else {
      length += MarkerOverhang(text, kPiece);
    }
  }
  *piece = std::span<char>(start, length);
  begin_ += length;
  return true;
}

}  // namespace lowtags

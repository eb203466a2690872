// Text-mode input in large blocks, cut into the pieces the converter works on.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "support/disk.h"

namespace lowtags {

// Takes the CRs out of `text` in place and returns the length left: a run of CRs before an LF
// goes (a CR LF line end), any other run becomes one LF (a Mac line end). A run that ends the
// text is kept as one CR when more text may follow, else it is one LF.
std::size_t FoldCarriageReturns(std::span<char> text, bool more_may_follow);

class PieceReader {
 public:
  // Bytes of text per piece, before the one-byte overhang.
  static constexpr std::size_t kPiece = 9999;
  // Bytes a piece may take past kPiece to finish a comment mark.
  static constexpr std::size_t kMarkerOverhang = 3;
  static constexpr std::size_t kBlock = 256 * 1024;
  // Bytes after the end of every piece that may be read, never written: vector searches look at
  // whole blocks and ignore what lies past the end.
  static constexpr std::size_t kReadablePastEnd = 128;

  PieceReader(Disk& disk, int fd);
  PieceReader(const PieceReader&) = delete;
  PieceReader& operator=(const PieceReader&) = delete;

  // The next piece: up to and including a newline, or kPiece bytes, one more when the last of
  // them would start a double-byte character, so that a piece never ends inside one, else up
  // to three more when they finish a "<!--" or "-->". Carriage returns are folded (see
  // FoldCarriageReturns) and a 0x1A byte ends the text. The bytes are the caller's to edit until
  // the next call. False at the end of the text or on a read error (then error() != 0).
  bool Next(std::span<char>* piece);
  int error() const { return error_; }
  // The pending text as read (CR LF line ends still in it), at least `want` bytes of it when
  // the file has them, at most `want`. For a caller that converts whole lines in place; the
  // pieces go on after what it consumes, which must end a line.
  std::string_view Text(std::size_t want);
  void Consume(std::size_t n) { begin_ += n; }
  // False when no NUL byte has been read into the pending text, so pieces need no search for one.
  bool may_hold_nul() const { return may_hold_nul_; }

 private:
  // Appends one read to the buffer, the text cut at a 0x1A byte; false once nothing more comes.
  bool ReadMore();
  // Removes the carriage returns from the pending bytes not yet cleaned.
  void DropCarriageReturns();
  // The next piece when it is a whole line ending in LF or CR LF within reach; false otherwise.
  bool NextLine(std::span<char>* piece);

  Disk& disk_;
  int fd_;
  std::vector<char> buffer_;
  std::size_t begin_ = 0;      // first pending byte
  std::size_t end_ = 0;        // one past the last pending byte
  std::size_t clean_end_ = 0;  // pending bytes before this hold no carriage return
  bool ended_ = false;         // end of file, 0x1A or error: nothing more will be read
  bool may_hold_nul_ = false;
  int error_ = 0;
};

}  // namespace lowtags

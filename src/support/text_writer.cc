#include "support/text_writer.h"

#include <algorithm>
#include <cstring>

namespace lowtags {

TextWriter::TextWriter(Disk& disk, int fd, std::size_t block, LineEnds ends)
    : disk_(disk),
      fd_(fd),
      crlf_(ends == LineEnds::kCrLf),
      buffer_(std::max<std::size_t>(block, 2)) {}

void TextWriter::Write(std::string_view bytes) {
  // Half a block at a time: room for twice its bytes covers a text made only of newlines.
  const std::size_t slice = buffer_.size() / 2;
  for (std::size_t at = 0; at < bytes.size() && error_.ok(); at += slice) {
    WriteSlice(bytes.substr(at, slice));
  }
}

void TextWriter::WriteSlice(std::string_view bytes) {
  if (buffer_.size() - used_ < 2 * bytes.size()) Spill();
  if (!error_.ok()) return;
  char* out = buffer_.data() + used_;
  if (!crlf_) {
    std::memcpy(out, bytes.data(), bytes.size());
    used_ += bytes.size();
    return;
  }
  const char* p = bytes.data();
  const char* const end = p + bytes.size();
  while (p < end) {
    const void* nl = std::memchr(p, '\n', static_cast<std::size_t>(end - p));
    const char* stop = nl ? static_cast<const char*>(nl) : end;
    std::memcpy(out, p, static_cast<std::size_t>(stop - p));
    out += stop - p;
    if (stop == end) break;
    *out++ = '\r';
    *out++ = '\n';
    p = stop + 1;
  }
  used_ = static_cast<std::size_t>(out - buffer_.data());
}

void TextWriter::WriteLine(std::string_view line) {
  if (line.size() > buffer_.size() / 2) {
    Write(line);
    return;
  }
  if (!error_.ok()) return;
  if (buffer_.size() - used_ < line.size() + 1) Spill();
  if (!error_.ok()) return;
  const bool ends_line = crlf_ && !line.empty() && line.back() == '\n';
  const std::size_t text = line.size() - (ends_line ? 1 : 0);
  char* out = buffer_.data() + used_;
  std::memcpy(out, line.data(), text);
  used_ += text;
  if (ends_line) {
    out[text] = '\r';
    out[text + 1] = '\n';
    used_ += 2;
  }
}

std::span<char> TextWriter::Room(std::size_t n) {
  if (!crlf_ || n > buffer_.size()) return {};
  if (buffer_.size() - used_ < n) Spill();
  return {buffer_.data() + used_, n};
}

void TextWriter::Filled(std::size_t n) {
  // After a failed write the rest is dropped, as everywhere.
  if (error_.ok()) used_ += n;
}

Status TextWriter::Flush() {
  Spill();
  if (behind_ != nullptr) {
    const Status error = behind_->Drain();
    if (error_.ok()) error_ = error;
  }
  return error_;
}

void TextWriter::WriteInBackground() {
  behind_ = std::make_unique<WriteBehind>(disk_, fd_, buffer_.size(), sync_early_);
}

void TextWriter::Spill() {
  if (error_.ok() && used_ > 0) {
    if (behind_ != nullptr) {
      error_ = behind_->Hand(buffer_, used_);
    } else {
      error_ = Status(Status::Step::kWrite, disk_.Write(fd_, buffer_.data(), used_));
      if (error_.ok() && sync_early_) disk_.StartSync(fd_);
    }
  }
  used_ = 0;
}

}  // namespace lowtags

// Text-mode output in large blocks: every newline goes out as CR LF, or as it is.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "support/byte_sink.h"
#include "support/disk.h"
#include "support/status.h"
#include "support/write_behind.h"

namespace lowtags {

enum class LineEnds {
  kCrLf,  // a newline is written as CR LF
  kLf,    // a newline is written as it is
};

class TextWriter : public ByteSink {
 public:
  static constexpr std::size_t kBlock = 256 * 1024;

  // `block` bytes are buffered at most: less for a text known to be short.
  TextWriter(Disk& disk, int fd, std::size_t block = kBlock, LineEnds ends = LineEnds::kCrLf);
  TextWriter(const TextWriter&) = delete;
  TextWriter& operator=(const TextWriter&) = delete;

  // Buffers the bytes, newline as the line ends say. After a failed write the rest is dropped.
  void Write(std::string_view bytes) override;
  void WriteLine(std::string_view line) override;
  // None when newlines stay LF: the room is for text whose newlines are CR LF already.
  std::span<char> Room(std::size_t n) override;
  void Filled(std::size_t n) override;
  // Writes out what is buffered; returns the first failed write so far, or ok.
  Status Flush();
  // From now on full blocks are written on a second thread while the next fills; Flush waits
  // for them. Throws std::bad_alloc or std::system_error when that cannot be set up.
  void WriteInBackground();
  const Status& error() const { return error_; }
  // After each block written, the disk starts syncing it: for a file that is synced at the end.
  void SyncEarly() { sync_early_ = true; }

 private:
  // Writes at most half a block.
  void WriteSlice(std::string_view bytes);
  // Sends the buffered bytes on, without waiting for a background write.
  void Spill();

  Disk& disk_;
  int fd_;
  bool crlf_;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  Status error_;
  bool sync_early_ = false;
  std::unique_ptr<WriteBehind> behind_;
};

}  // namespace lowtags

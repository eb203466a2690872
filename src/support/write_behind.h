// Writes blocks to a file on a second thread, so that the next block can be filled meanwhile.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "support/disk.h"
#include "support/status.h"

namespace lowtags {

class WriteBehind {
 public:
  // Blocks that may wait for the thread or be written by it, besides the one being filled.
  static constexpr std::size_t kBlocksInFlight = 3;

  // Makes the blocks it lends out, of block_size bytes each, and starts the thread. With
  // sync_early the disk starts syncing each block once it is written. Throws std::bad_alloc or
  // std::system_error when either fails.
  WriteBehind(Disk& disk, int fd, std::size_t block_size, bool sync_early);
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;
  // Stops the thread at once: blocks not written yet are dropped.
  ~WriteBehind();

  // Queues the first `used` bytes of `block` for writing and puts an empty block of the same
  // size in its place, waiting while every block is in flight. Returns the first failed write so
  // far; after one, nothing more is written.
  Status Hand(std::vector<char>& block, std::size_t used);
  // Waits until every queued block is written; the first failed write, or ok.
  Status Drain();

 private:
  struct Queued {
    std::vector<char> bytes;
    std::size_t used = 0;
  };
  void Run();

  Disk& disk_;
  const int fd_;
  const bool sync_early_;
  std::mutex mutex_;  // guards every member below but the thread
  std::condition_variable changed_;
  std::vector<Queued> queued_;            // oldest first
  std::vector<std::vector<char>> spare_;  // written, ready to be lent again
  bool writing_ = false;                  // the thread holds a block
  bool stopping_ = false;
  Status error_;
  std::thread thread_;  // last: it starts once everything else is in place
};

}  // namespace lowtags

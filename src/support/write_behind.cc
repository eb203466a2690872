#include "support/write_behind.h"

#include <cerrno>
#include <new>
#include <utility>

namespace lowtags {

WriteBehind::WriteBehind(Disk& disk, int fd, std::size_t block_size, bool sync_early)
    : disk_(disk), fd_(fd), sync_early_(sync_early) {
  // Everything the queue will ever hold is reserved here: handing a block over never allocates,
  // so running out of memory cannot lose a block halfway.
  queued_.reserve(kBlocksInFlight);
  spare_.reserve(kBlocksInFlight);
  for (std::size_t i = 0; i < kBlocksInFlight; ++i) spare_.emplace_back(block_size);
  thread_ = std::thread([this] { Run(); });
}

WriteBehind::~WriteBehind() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

Status WriteBehind::Hand(std::vector<char>& block, std::size_t used) {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !spare_.empty(); });
  queued_.push_back({std::move(block), used});
  block = std::move(spare_.back());
  spare_.pop_back();
  const Status error = error_;
  lock.unlock();
  changed_.notify_all();
  return error;
}

Status WriteBehind::Drain() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queued_.empty() && !writing_; });
  return error_;
}

void WriteBehind::Run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
    if (stopping_) return;
    Queued block = std::move(queued_.front());
    queued_.erase(queued_.begin());
    writing_ = true;
    const bool write = error_.ok();
    lock.unlock();
    int error = 0;
    if (write) {
      // An exception must not end this thread: it would end the program.
      try {
        error = disk_.Write(fd_, block.bytes.data(), block.used);
        if (error == 0 && sync_early_) disk_.StartSync(fd_);
      } catch (const std::bad_alloc&) {
        error = ENOMEM;
      }
    }
    lock.lock();
    if (error_.ok()) error_ = Status(Status::Step::kWrite, error);
    spare_.push_back(std::move(block.bytes));
    writing_ = false;
    changed_.notify_all();
  }
}

}  // namespace lowtags

#include "driver/progress.h"

#include <cstdio>
#include <string>

namespace lowtags {

Progress::Progress(Disk& disk, int fd, bool shown, std::size_t total, Clock::time_point start)
    : disk_(disk), fd_(fd), shown_(shown), total_(total), next_(start + kQuiet) {}

void Progress::FileDone(off_t bytes, Clock::time_point now) {
  ++done_;
  bytes_ += static_cast<double>(bytes);
  if (!shown_ || now < next_) return;
  next_ = now + kStep;
  char line[96];
  const int n =
      std::snprintf(line, sizeof line, "\r%zu of %zu files, %.1f MB", done_, total_, bytes_ / 1e6);
  if (n <= 0) return;
  // A failed write to the terminal loses nothing that matters.
  (void)disk_.Write(fd_, line, static_cast<std::size_t>(n));
  width_ = static_cast<std::size_t>(n) - 1;
}

void Progress::Clear() {
  if (width_ == 0) return;
  const std::string blank = "\r" + std::string(width_, ' ') + "\r";
  (void)disk_.Write(fd_, blank.data(), blank.size());
  width_ = 0;
}

}  // namespace lowtags

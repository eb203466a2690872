// One line on standard error, where it is a terminal, while a long -w run goes on.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>

#include "support/disk.h"

namespace lowtags {

class Progress {
 public:
  using Clock = std::chrono::steady_clock;
  // Nothing is shown before this much of the run has passed, nor more often than every kStep.
  static constexpr std::chrono::milliseconds kQuiet{1000};
  static constexpr std::chrono::milliseconds kStep{100};

  // Shows nothing at all unless `shown` (standard error is a terminal).
  Progress(Disk& disk, int fd, bool shown, std::size_t total, Clock::time_point start);
  // Counts a file and its bytes, and shows "files done of total, MB" when it is time.
  void FileDone(off_t bytes, Clock::time_point now);
  // Removes the line, if one was shown.
  void Clear();

 private:
  Disk& disk_;
  int fd_;
  bool shown_;
  std::size_t total_;
  std::size_t done_ = 0;
  double bytes_ = 0;
  Clock::time_point next_;
  std::size_t width_ = 0;  // of the line on screen
};

}  // namespace lowtags

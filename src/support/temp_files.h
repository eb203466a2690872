// The temporary files of a run that a signal must not leave behind, in a fixed table that a
// signal handler may walk.
#pragma once

#include <array>
#include <atomic>
#include <climits>
#include <cstddef>
#include <string>

namespace lowtags {

class TempFiles {
 public:
  // More than two batches of files (one put in place, one filled) ever hold at once.
  static constexpr std::size_t kSlots = 520;

  // Lists a name before the file is made, so that no moment exists when it is there unlisted.
  // False when the table is full or the name too long.
  bool Add(int folder, const std::string& name);
  // Forgets a name once the file is renamed or removed.
  void Remove(int folder, const std::string& name);
  // Removes every listed file. Only async-signal-safe calls: for a signal handler.
  void RemoveAllFiles() const;

 private:
  struct Slot {
    std::atomic<bool> used{false};  // set after folder and name are written
    int folder = -1;
    std::array<char, NAME_MAX + 1> name{};
  };
  std::array<Slot, kSlots> slots_;
};

// SIGHUP, SIGINT, SIGQUIT and SIGTERM remove the files of `files` and then end the program by
// the same signal; SIGXFSZ is ignored, so that a write past the file size limit fails with EFBIG.
// `files` must outlive every signal, or be replaced by nullptr before it goes.
void InstallSignalHandlers(TempFiles* files);

}  // namespace lowtags

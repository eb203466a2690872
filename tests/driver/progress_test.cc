// The progress line: only on a terminal, only after the first second, not too often, and gone at
// the end.
#include "driver/progress.h"

#include <gtest/gtest.h>

#include <string>

#include "support/fake_disk.h"

namespace lowtags {
namespace {

using std::chrono::milliseconds;

TEST(ProgressTest, ShowsFilesAndMegabytesOnATerminalAfterASecond) {
  const std::string line = "\r2 of 3 files, 3.5 MB";
  for (const bool terminal : {true, false}) {
    FakeDisk disk;
    disk.AddFile("err", "");
    int fd = -1;
    ASSERT_EQ(disk.OpenWrite("err", &fd), 0);
    const Progress::Clock::time_point start{};
    Progress progress(disk, fd, terminal, 3, start);
    progress.FileDone(1'500'000, start + milliseconds(900));   // too early
    progress.FileDone(2'000'000, start + milliseconds(1000));  // shown
    progress.FileDone(0, start + milliseconds(1050));          // too soon after
    progress.Clear();
    progress.Clear();  // nothing left to clear
    EXPECT_EQ(disk.Contents("err"),
              terminal ? line + "\r" + std::string(line.size() - 1, ' ') + "\r" : "");
  }
}

}  // namespace
}  // namespace lowtags

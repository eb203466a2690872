#include "driver/checked_close.h"

#include "support/message.h"

namespace lowtags {

namespace {

// A pipe, a device or read-only media has no free space worth asking about (read-only media
// always shows none). Asked before the close, while fd still names the file; a file that
// vanished meanwhile still answers, and its drive is then asked by a path that is gone.
bool WantsRoom(Disk& disk, int fd) {
  bool writable = true;
  if (disk.IsWritableRegular(fd, &writable) != 0) return true;
  return writable;
}

int CheckRoom(Disk& disk, const std::string& path, ByteSink& out) {
  if (getFreeSpace(disk, path) > 0) return 0;
  // Names with a drive prefix keep the message that names the drive.
  if (path.size() >= 2 && path[1] == ':') {
    NoFreeSpaceOnDrive(out, path[0]);
  } else {
    NoFreeSpace(out);
  }
  return -1;
}

}  // namespace

double FreeDiskSpace = 0.0;

int getFreeSpace(Disk& disk, const std::string& path) {
  double bytes = -1.0;
  if (disk.FreeSpace(path, &bytes) != 0) bytes = -1.0;
  FreeDiskSpace = bytes;
  if (bytes > 2147483647.0) return 2147483647;
  return static_cast<int>(bytes);
}

int Fclose(Disk& disk, int fd, const std::string& path, ByteSink& out) {
  const bool wants_room = WantsRoom(disk, fd);
  if (const int rc = disk.Close(fd); rc != 0) return rc;
  return wants_room ? CheckRoom(disk, path, out) : 0;
}

int CheckStdinRoom(Disk& disk, ByteSink& out) {
  return WantsRoom(disk, 0) ? CheckRoom(disk, "/dev/stdin", out) : 0;
}

}  // namespace lowtags

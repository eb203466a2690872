#include "driver/checked_close.h"

#include <cerrno>

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

Status CheckRoom(Disk& disk, const std::string& path, ByteSink& out) {
  double bytes = 0.0;
  if (disk.FreeSpace(path, &bytes) == 0 && bytes >= 1.0) return Status();
  // Names with a drive prefix keep the message that names the drive.
  if (path.size() >= 2 && path[1] == ':') {
    NoFreeSpaceOnDrive(out, path[0]);
  } else {
    NoFreeSpace(out);
  }
  return Status(Status::Step::kRoom, ENOSPC);
}

}  // namespace

Status CloseChecked(Disk& disk, int fd, const std::string& path, ByteSink& out) {
  const bool wants_room = WantsRoom(disk, fd);
  const Status closed(Status::Step::kClose, disk.Close(fd));
  if (!closed.ok()) return closed;
  return wants_room ? CheckRoom(disk, path, out) : Status();
}

Status CheckStdinRoom(Disk& disk, ByteSink& out) {
  return WantsRoom(disk, 0) ? CheckRoom(disk, "/dev/stdin", out) : Status();
}

}  // namespace lowtags

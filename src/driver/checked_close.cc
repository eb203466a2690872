#include "driver/checked_close.h"

#include "support/message.h"

namespace lowtags {

double FreeDiskSpace = 0.0;

int getFreeSpace(Disk& disk, const std::string& path) {
  double bytes = -1.0;
  if (disk.FreeSpace(path, &bytes) != 0) bytes = -1.0;
  FreeDiskSpace = bytes;
  if (bytes > 2147483647.0) return 2147483647;
  return static_cast<int>(bytes);
}

int Fclose(Disk& disk, int fd, const std::string& path, ByteSink& out) {
  if (const int rc = disk.Close(fd); rc != 0) return rc;
  if (getFreeSpace(disk, path) > 0) return 0;
  // Names with a drive prefix keep the message that names the drive.
  if (path.size() >= 2 && path[1] == ':') {
    errmsg(out, "%c drive: no free disk space\n", {path[0]});
  } else {
    errmsg(out, "no free disk space\n");
  }
  return -1;
}

}  // namespace lowtags

// Closing an input file in standard-output mode, with the test that its drive has room left.
#pragma once

#include <string>

#include "support/byte_sink.h"
#include "support/disk.h"

namespace lowtags {

// The value of the last free-space query, in bytes; -1.0 when it failed.
extern double FreeDiskSpace;

// Bytes available to the user where `path` lives: 2147483647 at most, -1 when the query fails.
// Also sets FreeDiskSpace.
int getFreeSpace(Disk& disk, const std::string& path);

// Closes fd. Returns the close's own error, or -1 after a message when the drive shows no free
// space (or cannot be asked), else 0. The drive is asked only when fd is a regular file on a
// file system mounted read-write, or when that cannot be told.
int Fclose(Disk& disk, int fd, const std::string& path, ByteSink& out);

// The same test for standard input, which stays open: -1 after a message, else 0.
int CheckStdinRoom(Disk& disk, ByteSink& out);

}  // namespace lowtags

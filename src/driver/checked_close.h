// Closing an input file in standard-output mode, with the test that its drive has room left.
#pragma once

#include <string>

#include "support/byte_sink.h"
#include "support/disk.h"
#include "support/status.h"

namespace lowtags {

// Closes fd. A failed close is its status, without a message; a drive that shows less than a
// byte free (or cannot be asked) is kRoom, after a message. The drive is asked only when fd is a
// regular file on a file system mounted read-write, or when that cannot be told.
Status CloseChecked(Disk& disk, int fd, const std::string& path, ByteSink& out);

// The same test for standard input, which stays open.
Status CheckStdinRoom(Disk& disk, ByteSink& out);

}  // namespace lowtags

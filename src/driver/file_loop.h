// The whole program: usage requests, options, and the loop over the named files.
#pragma once

#include <span>

#include "support/disk.h"

namespace lowtags {

// Runs lowtags on arguments already split by the shell (the program's own name left out) and
// returns the exit status. Standard output and standard error are the given descriptors.
int RunLowtags(std::span<const char* const> args, Disk& disk, int out_fd, int err_fd);

}  // namespace lowtags

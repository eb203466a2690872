// The whole program: usage requests, options, and the loop over the named files.
#pragma once

#include <span>

#include "driver/help.h"
#include "support/disk.h"

namespace lowtags {

// Runs lowtags on arguments already split by the shell (the program's own name left out) and
// returns the exit status: 0 when every file converted, 1 on a usage error or a run that ended
// early, 2 when the loop ran to its end but some file failed. Standard output and standard error
// are the given descriptors; the help text is written in the terminal's `charset`.
int RunLowtags(std::span<const char* const> args, Disk& disk, int out_fd, int err_fd,
               Charset charset);

}  // namespace lowtags

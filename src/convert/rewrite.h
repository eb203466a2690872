// Writing a converted file back without ever losing it.
#pragma once

#include <string>

#include "support/disk.h"
#include "support/line_store.h"

namespace lowtags {

enum class RewriteStatus {
  kDone,
  kCannotOpen,  // the file may not be written, or no temporary file can be made beside it
  kFailed,      // a write, sync or rename failed; the file is as it was
};

// Replaces the file at `path` by the entries of `store`, each newline written as CR LF.
// The new text goes to a temporary file in the same folder, is synced and renamed over the
// file, keeping its permission bits and, where allowed, its owner. A symbolic link is followed
// and stays a link. A file with several hard links, or one that is not a regular file, is
// written in place so that every link sees the new text, and its old text is restored when
// that write fails.
RewriteStatus rewrite(Disk& disk, const std::string& path, name_lst& store);

}  // namespace lowtags

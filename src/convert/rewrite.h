// Writing a converted file back without ever losing it.
#pragma once

#include <memory>
#include <string>

#include "support/byte_sink.h"
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

// The rewrite of a large file, begun while its conversion goes on: the text converted so far is
// written to the temporary file, and the rest follows as it comes, written on a second thread, so
// that writing overlaps converting and the text need not wait in memory. The file itself is
// replaced in Finish only, and stays as it was when Finish is never called.
class RewriteAhead {
 public:
  explicit RewriteAhead(Disk& disk);
  RewriteAhead(const RewriteAhead&) = delete;
  RewriteAhead& operator=(const RewriteAhead&) = delete;
  // Stops the writing; the temporary file goes unless Finish renamed it.
  ~RewriteAhead();

  // Opens the temporary file and writes the entries of `store` to it; the store is not needed
  // afterwards. False when the file is not one to replace whole, or when anything fails:
  // rewrite() then does it all after the conversion, and reports what fails there.
  bool Start(const std::string& path, name_lst& store);
  // Where the rest of the new text goes, after a successful Start. After a failed write it
  // drops what it is given, and Finish fails.
  ByteSink& text();
  // Waits for the writing and puts the new text in place of the file's.
  RewriteStatus Finish();

 private:
  struct Open;
  Disk& disk_;
  std::unique_ptr<Open> open_;
};

}  // namespace lowtags

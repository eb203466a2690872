// Replacements that share one durable point: the temporary files of a batch of files are synced
// together, renamed in command-line order, and each folder is synced once. The messages of the
// files wait with them, so that they come out in command-line order, exactly as if each file
// had been put in place on its own.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "convert/rewrite.h"
#include "support/byte_sink.h"
#include "support/disk.h"

namespace lowtags {

class Batch {
 public:
  static constexpr std::size_t kMaxFiles = 64;
  static constexpr off_t kMaxBytes = off_t{64} << 20;
  // Up to this many files, each temporary file is synced on its own rather than the whole
  // file system with them.
  static constexpr std::size_t kOwnSyncs = 2;

  Batch(Disk& disk, ByteSink& out) : disk_(disk), out_(out) {}

  // Where the files' messages go while files wait.
  ByteSink& messages() { return held_; }
  // True when the file (as read) waits to be replaced.
  bool Holds(const FileInfo& file) const;
  // Adds the new text of the file named `path`; commits when the batch is full. False when a
  // file could not be put in place: the program must stop with status 1.
  bool Add(Pending pending, const std::string& path);
  // Puts every waiting file in place and passes the messages on. False as for Add: the files
  // before the failed one are in place, it and every later one are left as they were, and the
  // messages of the later ones are dropped.
  bool Commit();
  // Files left alone because they changed while converting, so far.
  int changed_files() const { return changed_; }

 private:
  struct Entry {
    Pending pending;
    std::string path;
    std::size_t messages_end;  // of the held messages, those of files up to this one
  };
  class Held : public ByteSink {
   public:
    void Write(std::string_view bytes) override { text.append(bytes); }
    std::string text;
  };

  // Syncs the temporary files; the index of the first one that cannot be trusted, or size().
  std::size_t SyncAll();
  void SyncFolders(const std::vector<const Folder*>& folders);
  void Show(std::size_t* shown, std::size_t end);

  Disk& disk_;
  ByteSink& out_;
  Held held_;
  std::vector<Entry> entries_;
  off_t bytes_ = 0;
  int changed_ = 0;
};

}  // namespace lowtags

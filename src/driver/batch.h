// Replacements that share one durable point: the temporary files of a batch of files are synced
// together (one syncfs) and renamed in command-line order; the renames become durable with the
// next batch's syncfs, or with one more when the run ends. A full batch is put in
// place on a second thread while the next one is converted; the messages of the files wait, so
// that they come out in command-line order, exactly as if each file had been put in place on its
// own.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "convert/rewrite.h"
#include "support/byte_sink.h"
#include "support/disk.h"

namespace lowtags {

class Batch {
 public:
  static constexpr std::size_t kMaxFiles = 128;
  static constexpr off_t kMaxBytes = off_t{64} << 20;
  // Up to this many files, each temporary file is synced on its own rather than the whole
  // file system with them.
  static constexpr std::size_t kOwnSyncs = 2;

  Batch(Disk& disk, ByteSink& out) : disk_(disk), out_(out) {}
  Batch(const Batch&) = delete;
  Batch& operator=(const Batch&) = delete;
  // Waits for a batch being put in place; the files of a batch not committed are left alone.
  ~Batch();

  // Where the files' messages go while files wait.
  ByteSink& messages() { return held_; }
  // True when the file (as read) waits to be replaced.
  bool Holds(const FileInfo& file) const;
  // Adds the new text of the file named `path`; a full batch starts being put in place. False
  // when a file could not be put in place: the program must stop with status 1.
  bool Add(Pending pending, const std::string& path);
  // Puts every waiting file in place and passes the messages on. False as for Add: the files
  // before the failed one are in place, it and every later one are left as they were, and the
  // messages of the later ones are dropped.
  bool Commit();
  // The folder of the last file opened, kept for the next one.
  LastFolder& last_folder() { return last_folder_; }
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
  // A batch on its way into place, with everything it needs made beforehand.
  struct Flight {
    std::vector<Entry> entries;
    std::string messages;
    std::vector<Status> results;  // per file; ESTALE when it changed, ECANCELED when not tried
    std::vector<std::pair<dev_t, ino_t>> files;  // as read
    std::vector<const Folder*> renamed;
    std::thread thread;
    bool threaded = false;  // Apply ran on `thread`
  };
  // Ends a flight: its old files, freed when their last descriptor closes, and its temporary
  // files not renamed. That takes the file system a while per file, so a flight that ran on a
  // second thread is ended on a third, beside the next conversion.
  void End(std::unique_ptr<Flight> flight);

  // Hands the waiting files to a flight; on a second thread unless `here`.
  void Launch(bool here);
  // Waits for the flight and passes its messages on; false after a failed file.
  bool Settle();
  // Syncs, checks and renames the files of a flight, stopping at the first that fails.
  void Apply(Flight& flight);
  // Syncs the temporary files; the index of the first one that cannot be trusted, or size().
  std::size_t SyncAll(std::vector<Entry>& entries);
  void SyncFolders(const std::vector<const Folder*>& folders);
  bool AwaitSync(const Flight& f);
  // Makes the renames not yet synced durable: one syncfs per file system.
  void SyncRenames();
  void Drop();

  Disk& disk_;
  ByteSink& out_;
  Held held_;
  std::vector<Entry> entries_;
  off_t bytes_ = 0;
  std::unique_ptr<Flight> flight_;
  std::thread ending_;  // ends the last flight that ran on a second thread
  LastFolder last_folder_;
  // A folder on each file system with renames not yet synced. Only the thread that runs a flight
  // touches it, and the main thread when none runs.
  std::vector<std::pair<dev_t, std::shared_ptr<const Folder>>> unsynced_;
  int changed_ = 0;
};

}  // namespace lowtags

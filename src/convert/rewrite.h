// Replacing a converted file by its new text without ever losing either: the file named is found
// from folder descriptors, its new text goes to a temporary file beside it, and only a complete
// temporary file takes its name, by a rename.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "support/byte_sink.h"
#include "support/disk.h"
#include "support/status.h"
#include "support/text_writer.h"

namespace lowtags {

// Under -w, once this much of a file's new text is kept its temporary file is begun, and the
// rest is written there as the conversion goes on.
inline constexpr std::size_t kRewriteAheadFrom = std::size_t{1} << 20;

// An open folder, closed with the last owner.
class Folder {
 public:
  Folder(Disk& disk, int fd) : disk_(disk), fd_(fd) {}
  ~Folder() { (void)disk_.Close(fd_); }  // opened for reading: its close loses nothing
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  int fd() const { return fd_; }

 private:
  Disk& disk_;
  int fd_;
};

// The regular file a name given under -w finally is, open for reading.
struct Source {
  Source() = default;
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
  ~Source() { Reset(); }
  // Closes the file and forgets it.
  void Reset();
  Disk* disk = nullptr;
  std::shared_ptr<const Folder> folder;  // holds the file's own name
  std::string name;                      // the name in that folder, never a symbolic link
  int fd = -1;                           // closed with the Source
  FileInfo info;                         // as the file was opened
};

// The folder of the last name given, kept for the next name in the same folder: a site's pages
// share few folders, and opening one costs two calls.
struct LastFolder {
  std::string path;  // the folder part of the name as typed
  std::shared_ptr<const Folder> folder;
};

// Follows symbolic links, once, to the file that `path` names, working from folder descriptors so
// that no path is ever built: any depth works. A FIFO, device or socket is not opened (kKind);
// whatever else fails is kOpen.
Status OpenSource(Disk& disk, const std::string& path, Source* source, LastFolder* last = nullptr);

// A file's complete new text in a temporary file beside it, waiting to take its name. The
// temporary file goes with the Pending unless Rename is called.
class Pending {
 public:
  Pending(Disk& disk, std::shared_ptr<const Folder> folder, std::string name, const FileInfo& read);
  Pending(Pending&& other) noexcept;
  Pending& operator=(Pending&&) = delete;
  Pending(const Pending&) = delete;
  ~Pending();

  // Makes the temporary file and opens it for writing.
  Status Create();
  // Keeps the file that was read open until the Pending goes: the rename then only drops a name,
  // and freeing the old file is left to whoever ends the Pending.
  void KeepOpen(int fd) { old_fd_ = fd; }
  int fd() const { return fd_; }
  const Folder& folder() const { return *folder_; }
  const std::shared_ptr<const Folder>& shared_folder() const { return folder_; }
  const FileInfo& read() const { return read_; }
  // Syncs the temporary file's data (when not synced with its whole file system) and closes it.
  Status SyncAndClose(bool synced);
  // Renames the temporary file over the file, if the name still gives the file as it was read:
  // ESTALE when it does not.
  Status Rename();

 private:
  Disk& disk_;
  std::shared_ptr<const Folder> folder_;
  std::string name_;
  FileInfo read_;
  std::string temp_;
  int fd_ = -1;
  int old_fd_ = -1;
  bool live_ = false;  // the temporary file exists
};

// Where the converted text of a file under -w goes. It is compared with the file's bytes as it
// comes: while they agree nothing is kept, so an unchanged file costs neither memory nor a
// temporary file. From the first difference on the text is kept in memory, and once a
// file proves large its temporary file is begun and written on a second thread while the
// conversion goes on.
class Replacement : public ByteSink {
 public:
  // The new text is compared and written with its newlines as `ends` say.
  Replacement(Disk& disk, const Source& source, LineEnds ends = LineEnds::kCrLf);
  Replacement(const Replacement&) = delete;
  Replacement& operator=(const Replacement&) = delete;
  ~Replacement() override;

  void Write(std::string_view bytes) override;
  void WriteLine(std::string_view line) override;
  std::span<char> Room(std::size_t n) override;
  void Filled(std::size_t n) override;
  // A line could not be kept: the file must not be replaced.
  bool failed() const { return failed_; }
  // Once the whole file is converted: writes what is left, copies owner, mode and extended
  // attributes. When ok, the temporary file, not yet synced, is in *pending, or nothing is when
  // the new text is the old. kCreate when the file may not be written or no temporary file can
  // be made beside it.
  Status Finish(std::optional<Pending>* pending);

 private:
  class SameText;
  void Keep(std::string_view bytes);
  bool StartEarly();
  Status Begin();
  Status Complete(std::optional<Pending>* pending);

  Disk& disk_;
  const Source& source_;
  LineEnds ends_;
  std::unique_ptr<SameText> same_;  // while the text agrees with the file
  off_t agreed_ = 0;                // bytes of the file that begin the new text
  std::string kept_;  // the new text after the agreed start, until the temporary file is begun
  bool tried_early_ = false;
  bool failed_ = false;
  std::optional<Pending> temp_;
  std::optional<TextWriter> text_;  // after temp_: it stops writing before the file is closed
};

}  // namespace lowtags

#include "convert/rewrite.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstddef>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "support/text_writer.h"

namespace lowtags {

namespace {

constexpr std::size_t kReadBlock = std::size_t{64} * 1024;

// Hands every entry of the store to `out`; after a failed write the rest is not walked.
void PutEntries(TextWriter& out, name_lst& store) {
  for (auto entry = get_name(store, 0); entry && out.error() == 0; entry = get_name(store, 1)) {
    out.Write(*entry);
  }
}

// Writes every entry of the store, newline as CR LF. An empty entry writes nothing.
int WriteEntries(Disk& disk, int fd, name_lst& store) {
  try {
    TextWriter out(disk, fd);
    out.SyncEarly();  // the new text is synced before it replaces the old
    PutEntries(out, store);
    return out.Flush();
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
}

// Finds out whether the user may write the file, and what kind of file it is, without changing
// it: an open for writing that does not truncate touches neither the bytes nor the times. Asking
// the open rather than the permission bits also covers read-only mounts and access lists.
int Probe(Disk& disk, const std::string& target, FileInfo* info) {
  int fd = -1;
  if (const int err = disk.OpenWrite(target, false, &fd); err != 0) {
    return err;
  }
  const int err = disk.Stat(fd, info);
  (void)disk.Close(fd);  // nothing went through it, so its close cannot lose anything
  return err;
}

// A temporary file that is removed again unless it has been renamed over its target.
class TempFile {
 public:
  explicit TempFile(Disk& disk) : disk_(disk) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (fd_ >= 0) {
      (void)disk_.Close(fd_);
    }
    if (live_) {
      (void)disk_.Unlink(name_);
    }
  }

  int Create(const std::string& near) {
    int fd = -1;
    std::string name;
    if (const int err = disk_.CreateTemp(near, &fd, &name); err != 0) {
      return err;
    }
    fd_ = fd;
    name_ = std::move(name);
    live_ = true;
    return 0;
  }
  int fd() const { return fd_; }
  // The descriptor is gone afterwards even when the close fails.
  int Close() { return disk_.Close(std::exchange(fd_, -1)); }
  int RenameOver(const std::string& target) {
    const int err = disk_.Rename(name_, target);
    if (err == 0) {
      live_ = false;
    }
    return err;
  }

 private:
  Disk& disk_;
  int fd_ = -1;
  std::string name_;
  bool live_ = false;
};

// The mode is set after the writes, because a write by someone other than root clears the
// set-user-ID and set-group-ID bits, and before the sync, which then makes it durable too.
// Without the sync a crash after the rename could leave an empty file under the old name.
RewriteStatus PutInPlace(Disk& disk, TempFile& temp, const std::string& target,
                         const FileInfo& info) {
  if (disk.CopyOwnerAndMode(temp.fd(), info) != 0 || disk.Sync(temp.fd()) != 0 ||
      temp.Close() != 0 || temp.RenameOver(target) != 0) {
    return RewriteStatus::kFailed;  // the temporary file goes with `temp`
  }
  // The new text is in place by now; a folder that will not sync, even for want of memory, is no
  // reason to report it lost.
  try {
    (void)disk.SyncFolderOf(target);
  } catch (const std::bad_alloc&) {
  }
  return RewriteStatus::kDone;
}

// Writing a file in place truncates it first, so a full disk halfway through would leave it
// mangled. Instead the new text goes to a temporary file beside it (the same folder, because a
// rename cannot cross file systems) and only a complete, synced file replaces the old one, in a
// single rename. Until then the old file is untouched.
RewriteStatus ReplaceWhole(Disk& disk, const std::string& target, const FileInfo& info,
                           name_lst& store) {
  TempFile temp(disk);
  if (temp.Create(target) != 0) {
    return RewriteStatus::kCannotOpen;
  }
  if (WriteEntries(disk, temp.fd(), store) != 0) {
    return RewriteStatus::kFailed;
  }
  return PutInPlace(disk, temp, target, info);
}

// A file that a rename may replace: anything else is written through itself.
bool ReplaceableWhole(const FileInfo& info) { return S_ISREG(info.mode) && info.links <= 1; }

// The whole content of a file, for putting it back after a failed write.
int ReadAll(Disk& disk, const std::string& target, std::string* bytes) {
  int fd = -1;
  if (const int err = disk.OpenRead(target, &fd); err != 0) {
    return err;
  }
  int err = 0;
  try {
    std::string block(kReadBlock, '\0');
    std::size_t got = 0;
    while ((err = disk.Read(fd, block.data(), block.size(), &got)) == 0 && got > 0) {
      bytes->append(block, 0, got);
    }
  } catch (const std::bad_alloc&) {
    err = ENOMEM;
  }
  (void)disk.Close(fd);  // opened for reading only
  return err;
}

// fsync on a terminal, a pipe or /dev/null fails with EINVAL: such a file has no storage to flush.
int SyncResult(Disk& disk, int fd, const FileInfo& info) {
  const int err = disk.Sync(fd);
  return err == EINVAL && !S_ISREG(info.mode) ? 0 : err;
}

// Writes, syncs and closes; the descriptor is closed whatever fails.
int WriteThrough(Disk& disk, int fd, const FileInfo& info, name_lst& store) {
  int err = WriteEntries(disk, fd, store);
  if (err == 0) {
    err = SyncResult(disk, fd, info);
  }
  const int closed = disk.Close(fd);
  return err != 0 ? err : closed;
}

// Best effort: when this fails too there is nothing left to try, and the caller reports the file
// as failed either way. The old bytes go back raw: they are the file as it was, not text to
// translate again.
void PutBack(Disk& disk, const std::string& target, const std::string& old) {
  int fd = -1;
  if (disk.OpenWrite(target, true, &fd) != 0) {
    return;
  }
  if (disk.Write(fd, old.data(), old.size()) == 0) {
    (void)disk.Sync(fd);
  }
  (void)disk.Close(fd);
}

// A rename would give the new text to this one name only: the file's other hard links would keep
// the old inode and the old text, and a device or a FIFO cannot be replaced by a regular file at
// all. Such files are written through themselves. The old text of a regular file is kept in
// memory first so that it can be put back when the write fails after the truncation. A device or
// FIFO is not read: it holds no text to lose, and reading it would steal another reader's data or
// never end.
RewriteStatus RewriteInPlace(Disk& disk, const std::string& target, const FileInfo& info,
                             name_lst& store) {
  const bool regular = S_ISREG(info.mode);
  std::string old;
  if (regular && ReadAll(disk, target, &old) != 0) {
    return RewriteStatus::kFailed;
  }
  int fd = -1;
  if (disk.OpenWrite(target, true, &fd) != 0) {
    return RewriteStatus::kCannotOpen;
  }
  if (WriteThrough(disk, fd, info, store) == 0) {
    return RewriteStatus::kDone;
  }
  if (regular) {
    PutBack(disk, target, old);
  }
  return RewriteStatus::kFailed;
}

}  // namespace

RewriteStatus rewrite(Disk& disk, const std::string& path, name_lst& store) {
  try {
    // A symbolic link is followed so that its target gets the new text and the link stays a link.
    std::string target;
    FileInfo info;
    if (disk.Resolve(path, &target) != 0 || Probe(disk, target, &info) != 0) {
      return RewriteStatus::kCannotOpen;
    }
    if (ReplaceableWhole(info)) {
      return ReplaceWhole(disk, target, info, store);
    }
    return RewriteInPlace(disk, target, info, store);
  } catch (const std::bad_alloc&) {
    return RewriteStatus::kFailed;  // before any truncation; a temporary file is removed on the way
  }
}

struct RewriteAhead::Open {
  Open(Disk& disk, std::string target_path, const FileInfo& target_info)
      : target(std::move(target_path)), info(target_info), temp(disk) {}
  const std::string target;
  const FileInfo info;
  TempFile temp;
  std::optional<TextWriter> text;  // after temp: it stops writing before the file is closed
};

RewriteAhead::RewriteAhead(Disk& disk) : disk_(disk) {}

RewriteAhead::~RewriteAhead() = default;

bool RewriteAhead::Start(const std::string& path, name_lst& store) {
  try {
    std::string target;
    FileInfo info;
    if (disk_.Resolve(path, &target) != 0 || Probe(disk_, target, &info) != 0 ||
        !ReplaceableWhole(info)) {
      return false;
    }
    auto open = std::make_unique<Open>(disk_, std::move(target), info);
    if (open->temp.Create(open->target) != 0) return false;
    TextWriter& text = open->text.emplace(disk_, open->temp.fd());
    text.SyncEarly();  // the new text is synced before it replaces the old
    text.WriteInBackground();
    PutEntries(text, store);
    open_ = std::move(open);
    return true;
  } catch (const std::exception&) {  // no memory, or no thread to be had
    return false;
  }
}

ByteSink& RewriteAhead::text() { return *open_->text; }

RewriteStatus RewriteAhead::Finish() {
  if (open_->text->Flush() != 0) return RewriteStatus::kFailed;
  return PutInPlace(disk_, open_->temp, open_->target, open_->info);
}

}  // namespace lowtags

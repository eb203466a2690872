#include "convert/rewrite.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <new>
#include <utility>
#include <vector>

namespace lowtags {

namespace {

// As Linux: a longer chain of symbolic links is taken for a loop.
constexpr int kMaxLinks = 40;
constexpr std::size_t kCopyBlock = std::size_t{256} * 1024;

struct SplitPath {
  std::string folder;  // empty for the working folder
  std::string name;    // empty when the path ends in a slash
};

SplitPath Split(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// Opens a folder by a path of any length: a path the system finds too long in one piece is
// walked one name at a time.
int OpenFolderPath(Disk& disk, int at, const std::string& folder, int* fd) {
  const std::string path = folder.empty() ? "." : folder;
  const int err = disk.OpenFolder(at, path, fd);
  if (err != ENAMETOOLONG) return err;
  int current = -1;
  if (const int e = disk.OpenFolder(at, path[0] == '/' ? "/" : ".", &current); e != 0) return e;
  for (std::size_t begin = 0; begin < path.size();) {
    std::size_t end = path.find('/', begin);
    if (end == std::string::npos) end = path.size();
    if (end > begin) {
      int next = -1;
      const int e = disk.OpenFolder(current, path.substr(begin, end - begin), &next);
      (void)disk.Close(current);
      if (e != 0) return e;
      current = next;
    }
    begin = end + 1;
  }
  *fd = current;
  return 0;
}

Status Opening(int err) { return Status(Status::Step::kOpen, err); }

// Opens the folder that holds the last name of `path` (relative to `at`), and gives that name.
Status OpenIn(Disk& disk, int at, const std::string& path, std::shared_ptr<const Folder>* opened,
              std::string* name) {
  const SplitPath split = Split(path);
  if (split.name.empty()) return Opening(EISDIR);
  int fd = -1;
  if (const int err = OpenFolderPath(disk, at, split.folder, &fd); err != 0) return Opening(err);
  *opened = std::make_shared<const Folder>(disk, fd);
  *name = split.name;
  return Status();
}

// The first n bytes of one file, raw, to another.
Status CopyStart(Disk& disk, int from, int to, off_t n) {
  std::vector<char> block(kCopyBlock);
  for (off_t at = 0; at < n;) {
    std::size_t got = 0;
    const auto want = static_cast<std::size_t>(std::min<off_t>(n - at, kCopyBlock));
    if (const int err = disk.ReadAt(from, at, block.data(), want, &got); err != 0) {
      return Status(Status::Step::kRead, err);
    }
    // The file shrank: it changed while converting.
    if (got == 0) return Status(Status::Step::kRead, EIO);
    if (const int err = disk.Write(to, block.data(), got); err != 0) {
      return Status(Status::Step::kWrite, err);
    }
    at += static_cast<off_t>(got);
  }
  return Status();
}

// Access lists decide who may read the file: without them the new file would be open to users
// the old one shut out. User attributes are the user's data. Other names are set by the system
// (a security label) or reserved to an administrator: copied where allowed, else left.
bool MustKeep(const std::string& name) {
  return name == "system.posix_acl_access" || name == "system.posix_acl_default" ||
         name.starts_with("user.");
}

Status CopyAttributes(Disk& disk, int from, int to) {
  std::vector<std::string> names;
  if (const int err = disk.ListAttributes(from, &names); err != 0) {
    return Status(Status::Step::kCopy, err);
  }
  std::string value;
  for (const std::string& name : names) {
    int err = disk.GetAttribute(from, name, &value);
    if (err == ENODATA) continue;  // removed since the list was made
    if (err == 0) err = disk.SetAttribute(to, name, value);
    if (err != 0 && MustKeep(name)) return Status(Status::Step::kCopy, err);
  }
  return Status();
}

}  // namespace

void Source::Reset() {
  if (fd >= 0) (void)disk->Close(fd);  // opened for reading only
  fd = -1;
  folder.reset();
}

Status OpenSource(Disk& disk, const std::string& path, Source* source, LastFolder* last) {
  std::shared_ptr<const Folder> folder;
  std::string name;
  const SplitPath split = Split(path);
  if (last != nullptr && last->folder && last->path == split.folder && !split.name.empty()) {
    folder = last->folder;
    name = split.name;
  } else if (const Status opened = OpenIn(disk, kWorkingFolder, path, &folder, &name);
             !opened.ok()) {
    return opened;
  } else if (last != nullptr) {
    last->path = split.folder;
    last->folder = folder;
  }
  const Status not_regular(Status::Step::kKind, EINVAL);
  for (int links = 0; links <= kMaxLinks; ++links) {
    FileInfo info;
    if (const int err = disk.StatAt(folder->fd(), name, &info); err != 0) return Opening(err);
    if (S_ISLNK(info.mode)) {
      std::string target;
      if (const int err = disk.ReadLinkAt(folder->fd(), name, &target); err != 0) {
        return Opening(err);
      }
      if (target.empty()) return Opening(ENOENT);
      // A relative target starts from the link's own folder.
      const std::shared_ptr<const Folder> from = folder;
      if (const Status opened = OpenIn(disk, from->fd(), target, &folder, &name); !opened.ok()) {
        return opened;
      }
      continue;
    }
    if (S_ISDIR(info.mode)) return Opening(EISDIR);
    if (!S_ISREG(info.mode)) return not_regular;
    source->disk = &disk;
    if (const int err = disk.OpenReadAt(folder->fd(), name, &source->fd); err != 0) {
      return Opening(err);
    }
    // The name may have changed hands between the look and the open.
    if (const int err = disk.Stat(source->fd, &source->info); err != 0) return Opening(err);
    if (!S_ISREG(source->info.mode)) return not_regular;
    source->folder = std::move(folder);
    source->name = std::move(name);
    return Status();
  }
  return Opening(ELOOP);
}

// ----- Pending

Pending::Pending(Disk& disk, std::shared_ptr<const Folder> folder, std::string name,
                 const FileInfo& read)
    : disk_(disk), folder_(std::move(folder)), name_(std::move(name)), read_(read) {}

Pending::Pending(Pending&& other) noexcept
    : disk_(other.disk_),
      folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      read_(other.read_),
      temp_(std::move(other.temp_)),
      fd_(std::exchange(other.fd_, -1)),
      old_fd_(std::exchange(other.old_fd_, -1)),
      live_(std::exchange(other.live_, false)) {}

Pending::~Pending() {
  if (fd_ >= 0) (void)disk_.Close(fd_);
  if (old_fd_ >= 0) (void)disk_.Close(old_fd_);  // opened for reading only
  if (live_) (void)disk_.UnlinkAt(folder_->fd(), temp_);
}

Status Pending::Create() {
  const int err = disk_.CreateTempAt(folder_->fd(), name_, &fd_, &temp_);
  live_ = err == 0;
  return Status(Status::Step::kCreate, err);
}

Status Pending::SyncAndClose(bool synced) {
  const Status sync(Status::Step::kSync, synced ? 0 : disk_.Sync(fd_));
  const Status closed(Status::Step::kClose, disk_.Close(std::exchange(fd_, -1)));
  return sync.ok() ? closed : sync;
}

Status Pending::Rename() {
  // Another program may have saved the file, or put a link in its place, since it was read:
  // then the new text belongs to nothing that is there now.
  FileInfo now;
  if (disk_.StatAt(folder_->fd(), name_, &now) != 0 || !SameVersion(now, read_)) {
    return Status(Status::Step::kRename, ESTALE);
  }
  const Status renamed(Status::Step::kRename, disk_.RenameAt(folder_->fd(), temp_, name_));
  if (renamed.ok()) live_ = false;
  return renamed;
}

// ----- Replacement

// Compares converted text, each newline taken as CR LF, with a file's bytes from its start.
class Replacement::SameText {
 public:
  static constexpr std::size_t kWindow = std::size_t{64} * 1024;

  // A small file gets a window of its own size: a fresh large one for each of many small files
  // would cost more than reading them.
  SameText(Disk& disk, int fd, off_t size, LineEnds ends)
      : disk_(disk),
        fd_(fd),
        newline_(ends == LineEnds::kCrLf ? "\r\n" : "\n"),
        window_(static_cast<std::size_t>(std::clamp<off_t>(size + 1, 1, kWindow))) {}

  // True when the file goes on with this text; after false the position is meaningless.
  bool Take(std::string_view text) {
    while (!text.empty()) {
      const std::size_t nl = text.find('\n');
      if (!Expect(text.substr(0, nl))) return false;
      if (nl == std::string_view::npos) return true;
      if (!Expect(newline_)) return false;
      text.remove_prefix(nl + 1);
    }
    return true;
  }
  // True when the file ends here; false also when it cannot be read.
  bool AtEnd() { return Available() == 0 && !error_; }
  off_t offset() const { return offset_; }

 private:
  // The window's bytes from the position on, read when none are left: 0 at the end or on error.
  std::size_t Available() {
    const off_t end = window_at_ + static_cast<off_t>(window_len_);
    if (offset_ < end) return static_cast<std::size_t>(end - offset_);
    window_at_ = offset_;
    window_len_ = 0;
    error_ = disk_.ReadAt(fd_, offset_, window_.data(), window_.size(), &window_len_) != 0;
    return error_ ? 0 : window_len_;
  }
  bool Expect(std::string_view bytes) {
    while (!bytes.empty()) {
      const std::size_t n = std::min(Available(), bytes.size());
      if (n == 0) return false;
      if (std::memcmp(window_.data() + (offset_ - window_at_), bytes.data(), n) != 0) return false;
      offset_ += static_cast<off_t>(n);
      bytes.remove_prefix(n);
    }
    return true;
  }

  Disk& disk_;
  int fd_;
  std::string_view newline_;  // as the new text is written
  std::vector<char> window_;
  off_t window_at_ = 0;
  std::size_t window_len_ = 0;
  off_t offset_ = 0;
  bool error_ = false;
};

Replacement::Replacement(Disk& disk, const Source& source, LineEnds ends)
    : disk_(disk),
      source_(source),
      ends_(ends),
      same_(std::make_unique<SameText>(disk, source.fd, source.info.size, ends)) {}

Replacement::~Replacement() = default;

void Replacement::Write(std::string_view bytes) {
  if (text_) {
    text_->Write(bytes);
    return;
  }
  if (same_) {
    const off_t before = same_->offset();
    if (same_->Take(bytes)) return;
    agreed_ = before;
    same_.reset();
  }
  Keep(bytes);
}

void Replacement::WriteLine(std::string_view line) {
  if (text_) {
    text_->WriteLine(line);
  } else {
    Write(line);
  }
}

std::span<char> Replacement::Room(std::size_t n) {
  return text_ ? text_->Room(n) : std::span<char>();
}

void Replacement::Filled(std::size_t n) {
  if (text_) text_->Filled(n);
}

void Replacement::Keep(std::string_view bytes) {
  try {
    kept_.append(bytes);
  } catch (const std::bad_alloc&) {
    failed_ = true;  // the text kept so far is as it was
    return;
  }
  if (kept_.size() >= kRewriteAheadFrom && !tried_early_) {
    tried_early_ = true;
    if (StartEarly()) std::string().swap(kept_);
  }
}

// Whatever fails here is tried again, and reported, in Finish.
bool Replacement::StartEarly() {
  try {
    if (!Begin().ok()) {
      temp_.reset();
      return false;
    }
    TextWriter& text = text_.emplace(disk_, temp_->fd(), TextWriter::kBlock, ends_);
    text.SyncEarly();  // the new text is synced before it replaces the old
    text.WriteInBackground();
    text.Write(kept_);
    return true;
  } catch (const std::exception&) {  // no memory, or no thread to be had
    text_.reset();
    temp_.reset();
    return false;
  }
}

// Makes the temporary file and copies the start that the new text shares with the old.
Status Replacement::Begin() {
  const Status may(Status::Step::kCreate, disk_.MayWriteAt(source_.folder->fd(), source_.name));
  if (!may.ok()) return may;
  temp_.emplace(disk_, source_.folder, source_.name, source_.info);
  if (const Status created = temp_->Create(); !created.ok()) return created;
  return CopyStart(disk_, source_.fd, temp_->fd(), agreed_);
}

Status Replacement::Finish(std::optional<Pending>* pending) {
  try {
    if (same_) {
      if (same_->AtEnd()) return Status();
      agreed_ = same_->offset();  // the new text is the start of the old
      same_.reset();
    }
    if (!text_) {
      if (const Status begun = Begin(); !begun.ok()) {
        temp_.reset();
        return begun;
      }
      // Room for every newline of the kept text as CR LF: one write for a small file.
      TextWriter out(disk_, temp_->fd(), std::min(TextWriter::kBlock, 2 * kept_.size() + 64),
                     ends_);
      out.Write(kept_);
      if (const Status written = out.Flush(); !written.ok()) return written;
    } else if (const Status written = text_->Flush(); !written.ok()) {
      return written;
    }
    text_.reset();  // its thread is done
    return Complete(pending);
  } catch (const std::bad_alloc&) {
    return Status(Status::Step::kWrite, ENOMEM);  // a temporary file goes with the Replacement
  }
}

// The mode is set after the writes, because a write by someone other than root clears the
// set-user-ID and set-group-ID bits; the access list after the mode, which would rewrite its
// mask.
Status Replacement::Complete(std::optional<Pending>* pending) {
  const Status mode(Status::Step::kCopy, disk_.CopyOwnerAndMode(temp_->fd(), source_.info));
  if (!mode.ok()) return mode;
  if (const Status copied = CopyAttributes(disk_, source_.fd, temp_->fd()); !copied.ok()) {
    return copied;
  }
  pending->emplace(std::move(*temp_));
  temp_.reset();
  return Status();
}

}  // namespace lowtags

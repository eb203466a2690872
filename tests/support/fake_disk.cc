#include "support/fake_disk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <utility>

namespace lowtags {

namespace {

constexpr int kMaxLinkDepth = 40;  // as Linux: a longer chain is taken for a loop

std::string Join(const std::string& folder, const std::string& name) {
  std::string path = !name.empty() && name[0] == '/' ? name
                     : folder == "."                 ? name
                     : folder.ends_with('/')         ? folder + name
                                                     : folder + "/" + name;
  while (path.size() > 1 && path.ends_with('/')) path.pop_back();
  while (path.size() > 2 && path.ends_with("/.")) path.resize(path.size() - 2);
  if (path.starts_with("./") && path.size() > 2) path.erase(0, 2);
  return path.empty() ? "." : path;
}

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

FileInfo OfType(mode_t mode) {
  FileInfo info;
  info.mode = mode;
  return info;
}

}  // namespace

// --- Setting up

std::shared_ptr<FakeDisk::Inode> FakeDisk::NewInode(mode_t mode) {
  auto inode = std::make_shared<Inode>();
  inode->mode = mode;
  inode->ino = next_ino_++;
  return inode;
}

void FakeDisk::AddFile(const std::string& path, std::string_view bytes, mode_t perms, uid_t uid,
                       gid_t gid) {
  auto inode = NewInode(S_IFREG | (perms & 07777));
  inode->bytes.assign(bytes);
  inode->uid = uid;
  inode->gid = gid;
  symlinks_.erase(path);
  files_[path] = std::move(inode);
}

void FakeDisk::AddSymlink(const std::string& path, const std::string& target) {
  files_.erase(path);
  symlinks_[path] = target;
}

void FakeDisk::AddSpecial(const std::string& path, mode_t type) {
  symlinks_.erase(path);
  files_[path] = NewInode(type | 0666);
}

void FakeDisk::SetAttributeOf(const std::string& path, const std::string& name,
                              const std::string& value) {
  Find(path)->attributes[name] = value;
}

void FakeDisk::FailCall(DiskOp op, int nth, int err) { rules_.push_back({op, nth, err, {}}); }

void FakeDisk::OnCall(DiskOp op, int nth, std::function<void()> action) {
  rules_.push_back({op, nth, 0, std::move(action)});
}

void FakeDisk::SetStdin(std::string_view bytes, mode_t type) {
  auto inode = std::make_shared<Inode>();
  inode->bytes.assign(bytes);
  inode->mode = type | 0600;
  fds_[0] = OpenFile{std::move(inode), "(standard input)", true, false, 0};
}

int FakeDisk::OpenWrite(const std::string& path, int* fd) {
  return Call(DiskOp::kOpenWrite, path, [&](int) {
    const auto inode = Find(path);
    if (!inode) return ENOENT;
    *fd = NewDescriptor({inode, path, false, true, 0});
    return 0;
  });
}

// --- Looking at the result

std::optional<std::string> FakeDisk::Contents(const std::string& path) const {
  const auto inode = Find(path);
  return inode ? std::optional(inode->bytes) : std::nullopt;
}

std::optional<FileInfo> FakeDisk::Info(const std::string& path) const {
  const auto inode = Find(path);
  if (!inode) return std::nullopt;
  FileInfo info;
  InfoOf(*inode, &info);
  return info;
}

std::optional<std::string> FakeDisk::LinkTarget(const std::string& path) const {
  const auto it = symlinks_.find(path);
  return it == symlinks_.end() ? std::nullopt : std::optional(it->second);
}

std::map<std::string, std::string> FakeDisk::Attributes(const std::string& path) const {
  const auto inode = Find(path);
  return inode ? inode->attributes : std::map<std::string, std::string>{};
}

std::vector<std::string> FakeDisk::Paths() const {
  std::vector<std::string> paths;
  for (const auto& entry : files_) paths.push_back(entry.first);
  for (const auto& entry : symlinks_) paths.push_back(entry.first);
  std::sort(paths.begin(), paths.end());
  return paths;
}

int FakeDisk::Count(DiskOp op) const {
  return static_cast<int>(
      std::count_if(calls_.begin(), calls_.end(), [op](const DiskCall& c) { return c.op == op; }));
}

// --- Helpers

template <typename Body>
int FakeDisk::Call(DiskOp op, const std::string& path, Body body) {
  const std::lock_guard lock(mutex_);
  // A call made from a destructor while memory runs out must not throw: the log loses it then.
  try {
    calls_.push_back({op, path, 0});
  } catch (const std::bad_alloc&) {
    calls_.clear();
  }
  const int nth = ++counts_[static_cast<std::size_t>(op)];
  int injected = 0;
  for (const Rule& rule : rules_) {
    if (rule.op != op || rule.nth != nth) continue;
    if (rule.action) rule.action();
    if (rule.err != 0) injected = rule.err;
  }
  const bool runs = injected == 0 || op == DiskOp::kWrite || op == DiskOp::kClose;
  const int result = runs ? body(injected) : injected;
  if (!calls_.empty()) calls_.back().result = result;
  return result;
}

FakeDisk::OpenFile* FakeDisk::File(int fd, bool writes) {
  const auto it = fds_.find(fd);
  if (it == fds_.end() || !it->second.inode) return nullptr;
  return (writes ? it->second.writes : it->second.reads) ? &it->second : nullptr;
}

int FakeDisk::Follow(const std::string& path, std::string* target) const {
  std::string at = path;
  for (int depth = 0; depth <= kMaxLinkDepth; ++depth) {
    const auto link = symlinks_.find(at);
    if (link == symlinks_.end()) {
      if (files_.count(at) == 0) return ENOENT;
      *target = at;
      return 0;
    }
    at = Join(FolderOf(at), link->second);
  }
  return ELOOP;
}

std::shared_ptr<FakeDisk::Inode> FakeDisk::Find(const std::string& path) const {
  std::string target;
  return Follow(path, &target) == 0 ? files_.at(target) : nullptr;
}

std::string FakeDisk::PathOf(int fd) const {
  const std::lock_guard lock(mutex_);
  if (fd == kWorkingFolder) return ".";
  const auto it = fds_.find(fd);
  return it == fds_.end() ? "(bad descriptor " + std::to_string(fd) + ")" : it->second.path;
}

std::string FakeDisk::At(int folder, const std::string& name) const {
  return Join(PathOf(folder), name);
}

int FakeDisk::NewDescriptor(OpenFile file) {
  const int fd = next_fd_++;
  fds_.emplace(fd, std::move(file));
  return fd;
}

bool FakeDisk::Exists(const std::string& path) const {
  return files_.count(path) != 0 || symlinks_.count(path) != 0;
}

bool FakeDisk::IsFolder(const std::string& path) const {
  if (path == "." || path == "/") return true;
  const std::string prefix = path + "/";
  const auto below = [&](const auto& entry) { return entry.first.starts_with(prefix); };
  return std::any_of(files_.begin(), files_.end(), below) ||
         std::any_of(symlinks_.begin(), symlinks_.end(), below);
}

void FakeDisk::InfoOf(const Inode& inode, FileInfo* info) {
  info->mode = inode.mode;
  info->uid = inode.uid;
  info->gid = inode.gid;
  info->size = static_cast<off_t>(inode.bytes.size());
  info->dev = 1;
  info->ino = inode.ino;
  info->mtime = {inode.changes, 0};
  info->ctime = {inode.changes, 0};
}

// --- Disk

int FakeDisk::OpenRead(const std::string& path, int* fd) {
  return Call(DiskOp::kOpenRead, path, [&](int) {
    const auto inode = Find(path);
    if (!inode) return IsFolder(path) ? EISDIR : ENOENT;
    if ((inode->mode & S_IRUSR) == 0) return EACCES;
    *fd = NewDescriptor({inode, path, true, false, 0});
    return 0;
  });
}

int FakeDisk::OpenFolder(int at, const std::string& path, int* fd) {
  return Call(DiskOp::kOpenFolder, At(at, path), [&](int) {
    const std::string folder = At(at, path);
    if (path.size() > kPathMax) return ENAMETOOLONG;
    std::string target = folder;
    if (symlinks_.count(folder) != 0 && Follow(folder, &target) != 0) {
      target = Join(FolderOf(folder), symlinks_.at(folder));
    }
    if (files_.count(folder) != 0) return ENOTDIR;
    if (!IsFolder(target)) return ENOENT;
    *fd = NewDescriptor({nullptr, target, true, false, 0});
    return 0;
  });
}

int FakeDisk::StatAt(int folder, const std::string& name, FileInfo* info) {
  return Call(DiskOp::kStatAt, At(folder, name), [&](int) {
    const std::string path = At(folder, name);
    if (symlinks_.count(path) != 0) {
      *info = OfType(S_IFLNK | 0777);
    } else if (const auto it = files_.find(path); it != files_.end()) {
      InfoOf(*it->second, info);
    } else if (IsFolder(path)) {
      *info = OfType(S_IFDIR | 0755);
    } else {
      return ENOENT;
    }
    return 0;
  });
}

int FakeDisk::ReadLinkAt(int folder, const std::string& name, std::string* target) {
  return Call(DiskOp::kReadLinkAt, At(folder, name), [&](int) {
    const auto it = symlinks_.find(At(folder, name));
    if (it == symlinks_.end()) return EINVAL;
    *target = it->second;
    return 0;
  });
}

int FakeDisk::OpenReadAt(int folder, const std::string& name, int* fd) {
  return Call(DiskOp::kOpenReadAt, At(folder, name), [&](int) {
    const std::string path = At(folder, name);
    if (symlinks_.count(path) != 0) return ELOOP;
    const auto it = files_.find(path);
    if (it == files_.end()) return ENOENT;
    if ((it->second->mode & S_IRUSR) == 0) return EACCES;
    *fd = NewDescriptor({it->second, path, true, false, 0});
    return 0;
  });
}

int FakeDisk::MayWriteAt(int folder, const std::string& name) {
  return Call(DiskOp::kMayWriteAt, At(folder, name), [&](int) {
    const auto inode = Find(At(folder, name));
    if (!inode) return ENOENT;
    return (inode->mode & S_IWUSR) == 0 ? EACCES : 0;
  });
}

int FakeDisk::CreateTempAt(int folder, const std::string& near, int* fd, std::string* name) {
  return Call(DiskOp::kCreateTemp, At(folder, near), [&](int) {
    do {
      *name = near + ".tmp" + std::to_string(++temp_serial_);
    } while (Exists(At(folder, *name)));
    const std::string path = At(folder, *name);
    files_[path] = NewInode(S_IFREG | 0600);
    *fd = NewDescriptor({files_[path], path, false, true, 0});
    return 0;
  });
}

// Like rename(2), this replaces the name `to` itself: a symbolic link there is not followed.
int FakeDisk::RenameAt(int folder, const std::string& from_name, const std::string& to_name) {
  const std::string log = At(folder, from_name) + " -> " + At(folder, to_name);
  return Call(DiskOp::kRename, log, [&](int) {
    const std::string from = At(folder, from_name);
    std::string to = At(folder, to_name);
    if (!Exists(from)) return ENOENT;
    if (from == to) return 0;
    // As atomic as the real one: everything that may allocate comes before the first change.
    const auto move = [&](auto& from_map, auto& other_map) {
      auto node = from_map.extract(from);
      node.key() = to;
      other_map.erase(to);
      from_map.erase(to);
      from_map.insert(std::move(node));
    };
    if (files_.count(from) != 0) {
      move(files_, symlinks_);
    } else {
      move(symlinks_, files_);
    }
    return 0;
  });
}

int FakeDisk::UnlinkAt(int folder, const std::string& name) {
  return Call(DiskOp::kUnlink, At(folder, name), [&](int) {
    const std::string path = At(folder, name);
    return files_.erase(path) == 0 && symlinks_.erase(path) == 0 ? ENOENT : 0;
  });
}

int FakeDisk::Read(int fd, char* buffer, std::size_t cap, std::size_t* got) {
  return Call(DiskOp::kRead, PathOf(fd), [&](int) {
    OpenFile* file = File(fd);
    if (file == nullptr) return EBADF;
    const std::string& bytes = file->inode->bytes;
    *got = 0;
    if (!S_ISCHR(file->inode->mode) && file->offset < bytes.size()) {
      *got = bytes.copy(buffer, std::min(cap, read_chunk_), file->offset);
    }
    file->offset += *got;
    return 0;
  });
}

int FakeDisk::ReadAt(int fd, off_t offset, char* buffer, std::size_t cap, std::size_t* got) {
  return Call(DiskOp::kReadAt, PathOf(fd), [&](int) {
    const OpenFile* file = File(fd);
    if (file == nullptr) return EBADF;
    const std::string& bytes = file->inode->bytes;
    const auto at = static_cast<std::size_t>(offset);
    *got = at < bytes.size() ? bytes.copy(buffer, std::min(cap, read_chunk_), at) : 0;
    return 0;
  });
}

int FakeDisk::Write(int fd, const char* bytes, std::size_t n) {
  return Call(DiskOp::kWrite, PathOf(fd), [&](int injected) {
    OpenFile* file = File(fd, true);
    if (file == nullptr) return EBADF;
    const std::size_t take = injected != 0 ? n / 2 : n;
    std::string& data = file->inode->bytes;
    if (data.size() < file->offset + take) data.resize(file->offset + take);
    data.replace(file->offset, take, bytes, take);
    file->offset += take;
    ++file->inode->changes;
    return injected;
  });
}

int FakeDisk::Sync(int fd) {
  return Call(DiskOp::kSync, PathOf(fd), [&](int) { return fds_.count(fd) != 0 ? 0 : EBADF; });
}

int FakeDisk::SyncFileSystem(int fd) {
  return Call(DiskOp::kSyncFileSystem, PathOf(fd),
              [&](int) { return fds_.count(fd) != 0 ? 0 : EBADF; });
}

int FakeDisk::Close(int fd) {
  return Call(DiskOp::kClose, PathOf(fd),
              [&](int injected) { return fds_.erase(fd) == 0 ? EBADF : injected; });
}

int FakeDisk::Stat(int fd, FileInfo* info) {
  return Call(DiskOp::kStat, PathOf(fd), [&](int) {
    const auto it = fds_.find(fd);
    if (it == fds_.end()) return EBADF;
    if (it->second.inode) {
      InfoOf(*it->second.inode, info);
    } else {
      *info = OfType(S_IFDIR | 0755);
      info->ino = std::hash<std::string>{}(it->second.path);
    }
    return 0;
  });
}

int FakeDisk::IsWritableRegular(int fd, bool* answer) {
  return Call(DiskOp::kIsWritableRegular, PathOf(fd), [&](int) {
    const auto it = fds_.find(fd);
    if (it == fds_.end() || !it->second.inode) return EBADF;
    *answer = S_ISREG(it->second.inode->mode) && !read_only_;
    return 0;
  });
}

int FakeDisk::CopyOwnerAndMode(int fd, const FileInfo& like) {
  return Call(DiskOp::kCopyOwnerAndMode, PathOf(fd), [&](int) {
    const OpenFile* file = File(fd, true);
    if (file == nullptr) return EBADF;
    Inode& inode = *file->inode;
    inode.mode = (inode.mode & S_IFMT) | (like.mode & 07777);
    inode.uid = like.uid;
    inode.gid = like.gid;
    ++inode.changes;
    return 0;
  });
}

int FakeDisk::ListAttributes(int fd, std::vector<std::string>* names) {
  return Call(DiskOp::kListAttributes, PathOf(fd), [&](int) {
    const OpenFile* file = File(fd);
    if (file == nullptr) return EBADF;
    names->clear();
    for (const auto& entry : file->inode->attributes) names->push_back(entry.first);
    return 0;
  });
}

int FakeDisk::GetAttribute(int fd, const std::string& name, std::string* value) {
  return Call(DiskOp::kGetAttribute, PathOf(fd) + " " + name, [&](int) {
    const OpenFile* file = File(fd);
    if (file == nullptr) return EBADF;
    const auto it = file->inode->attributes.find(name);
    if (it == file->inode->attributes.end()) return ENODATA;
    *value = it->second;
    return 0;
  });
}

int FakeDisk::SetAttribute(int fd, const std::string& name, const std::string& value) {
  return Call(DiskOp::kSetAttribute, PathOf(fd) + " " + name, [&](int) {
    const OpenFile* file = File(fd, true);
    if (file == nullptr) return EBADF;
    file->inode->attributes[name] = value;
    ++file->inode->changes;
    return 0;
  });
}

int FakeDisk::FreeSpace(const std::string& path, double* bytes) {
  return Call(DiskOp::kFreeSpace, path, [&](int) {
    *bytes = free_space_;
    return 0;
  });
}

}  // namespace lowtags

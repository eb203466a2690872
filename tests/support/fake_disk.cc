#include "support/fake_disk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace lowtags {

namespace {

constexpr int kMaxLinkDepth = 40;  // as Linux: a longer chain is taken for a loop

bool IsDevice(mode_t mode) { return S_ISCHR(mode); }

}  // namespace

// --- Setting up

void FakeDisk::AddFile(const std::string& path, std::string_view bytes, mode_t perms, uid_t uid,
                       gid_t gid) {
  auto inode = std::make_shared<Inode>();
  inode->bytes.assign(bytes);
  inode->mode = S_IFREG | (perms & 07777);
  inode->uid = uid;
  inode->gid = gid;
  symlinks_.erase(path);
  files_[path] = std::move(inode);
}

void FakeDisk::AddSymlink(const std::string& path, const std::string& target) {
  files_.erase(path);
  symlinks_[path] = target;
}

void FakeDisk::AddHardLink(const std::string& existing, const std::string& path) {
  symlinks_.erase(path);
  files_[path] = files_.at(existing);
}

void FakeDisk::AddDevice(const std::string& path) {
  auto inode = std::make_shared<Inode>();
  inode->mode = S_IFCHR | 0666;
  inode->uid = 0;
  inode->gid = 0;
  symlinks_.erase(path);
  files_[path] = std::move(inode);
}

void FakeDisk::FailCall(DiskOp op, int nth, int err) { rules_.push_back({op, nth, err}); }

void FakeDisk::SetStdin(std::string_view bytes, mode_t type) {
  auto inode = std::make_shared<Inode>();
  inode->bytes.assign(bytes);
  inode->mode = type | 0600;
  fds_[0] = OpenFile{std::move(inode), "(standard input)", true, false, 0};
}

// --- Looking at the result

std::optional<std::string> FakeDisk::Contents(const std::string& path) const {
  const auto inode = Find(path);
  if (!inode) {
    return std::nullopt;
  }
  return inode->bytes;
}

std::optional<FileInfo> FakeDisk::Info(const std::string& path) const {
  const auto inode = Find(path);
  if (!inode) {
    return std::nullopt;
  }
  FileInfo info;
  info.mode = inode->mode;
  info.uid = inode->uid;
  info.gid = inode->gid;
  info.links = LinksTo(inode.get());
  info.size = static_cast<off_t>(inode->bytes.size());
  return info;
}

std::optional<std::string> FakeDisk::LinkTarget(const std::string& path) const {
  const auto it = symlinks_.find(path);
  if (it == symlinks_.end()) {
    return std::nullopt;
  }
  return it->second;
}

bool FakeDisk::SameFile(const std::string& a, const std::string& b) const {
  const auto first = Find(a);
  return first != nullptr && first == Find(b);
}

std::vector<std::string> FakeDisk::Paths() const {
  std::vector<std::string> paths;
  for (const auto& entry : files_) {
    paths.push_back(entry.first);
  }
  for (const auto& entry : symlinks_) {
    paths.push_back(entry.first);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

int FakeDisk::Count(DiskOp op) const {
  return static_cast<int>(
      std::count_if(calls_.begin(), calls_.end(), [op](const DiskCall& c) { return c.op == op; }));
}

// --- Helpers

int FakeDisk::Enter(DiskOp op, const std::string& path, bool truncate) {
  calls_.push_back({op, path, truncate, 0});
  const int nth = ++counts_[op];
  for (const Rule& rule : rules_) {
    if (rule.op == op && rule.nth == nth) {
      return rule.err;
    }
  }
  return 0;
}

int FakeDisk::Leave(int result) {
  calls_.back().result = result;
  return result;
}

int FakeDisk::Follow(const std::string& path, std::string* target) const {
  std::string at = path;
  for (int depth = 0; depth <= kMaxLinkDepth; ++depth) {
    const auto link = symlinks_.find(at);
    if (link == symlinks_.end()) {
      if (files_.count(at) == 0) {
        return ENOENT;
      }
      *target = at;
      return 0;
    }
    const std::string& to = link->second;
    if (!to.empty() && to[0] == '/') {
      at = to;
    } else {
      at = FolderOf(at).append("/").append(to);
    }
  }
  return ELOOP;
}

std::shared_ptr<FakeDisk::Inode> FakeDisk::Find(const std::string& path) const {
  std::string target;
  if (Follow(path, &target) != 0) {
    return nullptr;
  }
  return files_.at(target);
}

FakeDisk::OpenFile* FakeDisk::Descriptor(int fd) {
  const auto it = fds_.find(fd);
  return it == fds_.end() ? nullptr : &it->second;
}

std::string FakeDisk::PathOf(int fd) const {
  const auto it = fds_.find(fd);
  return it == fds_.end() ? "(bad descriptor " + std::to_string(fd) + ")" : it->second.path;
}

int FakeDisk::NewDescriptor(OpenFile file) {
  const int fd = next_fd_++;
  fds_.emplace(fd, std::move(file));
  return fd;
}

nlink_t FakeDisk::LinksTo(const Inode* inode) const {
  nlink_t links = 0;
  for (const auto& entry : files_) {
    if (entry.second.get() == inode) {
      ++links;
    }
  }
  return links;
}

bool FakeDisk::Exists(const std::string& path) const {
  return files_.count(path) != 0 || symlinks_.count(path) != 0;
}

// --- Disk

int FakeDisk::OpenRead(const std::string& path, int* fd) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kOpenRead, path)) {
    return Leave(err);
  }
  const auto inode = Find(path);
  if (!inode) {
    return Leave(ENOENT);
  }
  if ((inode->mode & S_IRUSR) == 0) {
    return Leave(EACCES);
  }
  *fd = NewDescriptor({inode, path, true, false, 0});
  return Leave(0);
}

int FakeDisk::OpenWrite(const std::string& path, bool truncate, int* fd) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kOpenWrite, path, truncate)) {
    return Leave(err);
  }
  const auto inode = Find(path);
  if (!inode) {
    return Leave(ENOENT);
  }
  if ((inode->mode & S_IWUSR) == 0) {
    return Leave(EACCES);
  }
  if (truncate && !IsDevice(inode->mode)) {
    inode->bytes.clear();
  }
  *fd = NewDescriptor({inode, path, false, true, 0});
  return Leave(0);
}

int FakeDisk::CreateTemp(const std::string& near, int* fd, std::string* name) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kCreateTemp, near)) {
    return Leave(err);
  }
  std::string path;
  do {
    path = near + ".tmp" + std::to_string(++temp_serial_);
  } while (Exists(path));
  auto inode = std::make_shared<Inode>();
  inode->mode = S_IFREG | 0600;
  files_[path] = inode;
  *fd = NewDescriptor({inode, path, false, true, 0});
  *name = path;
  return Leave(0);
}

int FakeDisk::Read(int fd, char* buffer, std::size_t cap, std::size_t* got) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kRead, PathOf(fd))) {
    return Leave(err);
  }
  OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->reads) {
    return Leave(EBADF);
  }
  const std::string& bytes = file->inode->bytes;
  std::size_t n = 0;
  if (!IsDevice(file->inode->mode) && file->offset < bytes.size()) {
    n = std::min({cap, read_chunk_, bytes.size() - file->offset});
    bytes.copy(buffer, n, file->offset);
  }
  file->offset += n;
  *got = n;
  return Leave(0);
}

int FakeDisk::Write(int fd, const char* bytes, std::size_t n) {
  const std::lock_guard lock(mutex_);
  const int err = Enter(DiskOp::kWrite, PathOf(fd));
  OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->writes) {
    return Leave(EBADF);
  }
  const std::size_t take = err != 0 ? n / 2 : n;
  std::string& data = file->inode->bytes;
  if (IsDevice(file->inode->mode)) {
    data.append(bytes, take);
  } else {
    if (data.size() < file->offset + take) {
      data.resize(file->offset + take);
    }
    data.replace(file->offset, take, bytes, take);
    file->offset += take;
  }
  return Leave(err);
}

int FakeDisk::Sync(int fd) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kSync, PathOf(fd))) {
    return Leave(err);
  }
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr) {
    return Leave(EBADF);
  }
  return Leave(IsDevice(file->inode->mode) ? EINVAL : 0);
}

int FakeDisk::Close(int fd) {
  const std::lock_guard lock(mutex_);
  const int err = Enter(DiskOp::kClose, PathOf(fd));
  if (fds_.erase(fd) == 0) {
    return Leave(EBADF);
  }
  return Leave(err);
}

int FakeDisk::Stat(int fd, FileInfo* info) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kStat, PathOf(fd))) {
    return Leave(err);
  }
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr) {
    return Leave(EBADF);
  }
  const Inode& inode = *file->inode;
  info->mode = inode.mode;
  info->uid = inode.uid;
  info->gid = inode.gid;
  info->links = LinksTo(&inode);
  info->size = static_cast<off_t>(inode.bytes.size());
  return Leave(0);
}

int FakeDisk::IsWritableRegular(int fd, bool* answer) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kIsWritableRegular, PathOf(fd))) {
    return Leave(err);
  }
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr) {
    return Leave(EBADF);
  }
  *answer = S_ISREG(file->inode->mode) && !read_only_;
  return Leave(0);
}

int FakeDisk::CopyOwnerAndMode(int fd, const FileInfo& like) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kCopyOwnerAndMode, PathOf(fd))) {
    return Leave(err);
  }
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr) {
    return Leave(EBADF);
  }
  Inode& inode = *file->inode;
  inode.mode = (inode.mode & S_IFMT) | (like.mode & 07777);
  inode.uid = like.uid;
  inode.gid = like.gid;
  return Leave(0);
}

int FakeDisk::Resolve(const std::string& path, std::string* target) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kResolve, path)) {
    return Leave(err);
  }
  return Leave(Follow(path, target));
}

// Like rename(2), this replaces the name `to` itself: a symbolic link there is not followed.
int FakeDisk::Rename(const std::string& from, const std::string& to) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kRename, from + " -> " + to)) {
    return Leave(err);
  }
  if (!Exists(from)) {
    return Leave(ENOENT);
  }
  if (from == to) {
    return Leave(0);
  }
  // As atomic as the real one: everything that may allocate comes before the first change.
  std::string target = to;
  const auto move = [&](auto& from_map, auto& other_map) {
    auto node = from_map.extract(from);
    node.key() = std::move(target);
    from_map.erase(to);
    other_map.erase(to);
    from_map.insert(std::move(node));
  };
  if (files_.count(from) != 0) {
    move(files_, symlinks_);
  } else {
    move(symlinks_, files_);
  }
  return Leave(0);
}

int FakeDisk::Unlink(const std::string& path) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kUnlink, path)) {
    return Leave(err);
  }
  if (files_.erase(path) == 0 && symlinks_.erase(path) == 0) {
    return Leave(ENOENT);
  }
  return Leave(0);
}

int FakeDisk::SyncFolderOf(const std::string& path) {
  const std::lock_guard lock(mutex_);
  return Leave(Enter(DiskOp::kSyncFolderOf, path));
}

int FakeDisk::FreeSpace(const std::string& path, double* bytes) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kFreeSpace, path)) {
    return Leave(err);
  }
  *bytes = free_space_;
  return Leave(0);
}

}  // namespace lowtags

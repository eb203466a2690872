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

void FakeDisk::AddHardLink(const std::string& existing, const std::string& path) {
  symlinks_.erase(path);
  files_[path] = files_.at(existing);
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

int FakeDisk::OpenWrite(const std::string& path, int* fd) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kOpenWrite, path)) return Leave(err);
  const auto inode = Find(path);
  if (!inode) return Leave(ENOENT);
  *fd = NewDescriptor({inode, path, false, true, 0});
  return Leave(0);
}

void FakeDisk::SetStdin(std::string_view bytes, mode_t type) {
  auto inode = std::make_shared<Inode>();
  inode->bytes.assign(bytes);
  inode->mode = type | 0600;
  fds_[0] = OpenFile{std::move(inode), "(standard input)", true, false, 0};
}

// --- Looking at the result

std::optional<std::string> FakeDisk::Contents(const std::string& path) const {
  const auto inode = Find(path);
  if (!inode) return std::nullopt;
  return inode->bytes;
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
  if (it == symlinks_.end()) return std::nullopt;
  return it->second;
}

std::map<std::string, std::string> FakeDisk::Attributes(const std::string& path) const {
  const auto inode = Find(path);
  return inode ? inode->attributes : std::map<std::string, std::string>{};
}

bool FakeDisk::SameFile(const std::string& a, const std::string& b) const {
  const auto first = Find(a);
  return first != nullptr && first == Find(b);
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

int FakeDisk::Enter(DiskOp op, const std::string& path) {
  // A call made from a destructor while memory runs out must not throw: the log loses it then.
  try {
    calls_.push_back({op, path, 0});
  } catch (const std::bad_alloc&) {
    calls_.clear();
  }
  const int nth = ++counts_[static_cast<std::size_t>(op)];
  int err = 0;
  for (const Rule& rule : rules_) {
    if (rule.op != op || rule.nth != nth) continue;
    if (rule.action) rule.action();
    if (rule.err != 0) err = rule.err;
  }
  return err;
}

int FakeDisk::Leave(int result) {
  if (!calls_.empty()) calls_.back().result = result;
  return result;
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
  if (Follow(path, &target) != 0) return nullptr;
  return files_.at(target);
}

FakeDisk::OpenFile* FakeDisk::Descriptor(int fd) {
  const auto it = fds_.find(fd);
  return it == fds_.end() ? nullptr : &it->second;
}

std::string FakeDisk::PathOf(int fd) const {
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

nlink_t FakeDisk::LinksTo(const Inode* inode) const {
  nlink_t links = 0;
  for (const auto& entry : files_) {
    if (entry.second.get() == inode) ++links;
  }
  return links;
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

void FakeDisk::InfoOf(const Inode& inode, FileInfo* info) const {
  info->mode = inode.mode;
  info->uid = inode.uid;
  info->gid = inode.gid;
  info->links = LinksTo(&inode);
  info->size = static_cast<off_t>(inode.bytes.size());
  info->dev = 1;
  info->ino = inode.ino;
  info->mtime = {inode.changes, 0};
  info->ctime = {inode.changes, 0};
}

// --- Disk

int FakeDisk::OpenRead(const std::string& path, int* fd) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kOpenRead, path)) return Leave(err);
  const auto inode = Find(path);
  if (!inode) return Leave(IsFolder(path) ? EISDIR : ENOENT);
  if ((inode->mode & S_IRUSR) == 0) return Leave(EACCES);
  *fd = NewDescriptor({inode, path, true, false, 0});
  return Leave(0);
}

int FakeDisk::IsWritableRegular(int fd, bool* answer) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kIsWritableRegular, PathOf(fd))) {
    return Leave(err);
  }
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->inode) {
    return Leave(EBADF);
  }
  *answer = S_ISREG(file->inode->mode) && !read_only_;
  return Leave(0);
}

int FakeDisk::OpenFolder(int at, const std::string& path, int* fd) {
  const std::lock_guard lock(mutex_);
  const std::string folder = At(at, path);
  if (const int err = Enter(DiskOp::kOpenFolder, folder)) return Leave(err);
  if (path.size() > kPathMax) return Leave(ENAMETOOLONG);
  std::string target = folder;
  if (symlinks_.count(folder) != 0 && Follow(folder, &target) != 0) {
    target = Join(FolderOf(folder), symlinks_.at(folder));
  }
  if (files_.count(folder) != 0) return Leave(ENOTDIR);
  if (!IsFolder(target)) return Leave(ENOENT);
  *fd = NewDescriptor({nullptr, target, true, false, 0});
  return Leave(0);
}

int FakeDisk::StatAt(int folder, const std::string& name, FileInfo* info) {
  const std::lock_guard lock(mutex_);
  const std::string path = At(folder, name);
  if (const int err = Enter(DiskOp::kStatAt, path)) return Leave(err);
  if (symlinks_.count(path) != 0) {
    *info = FileInfo{};
    info->mode = S_IFLNK | 0777;
    return Leave(0);
  }
  if (const auto it = files_.find(path); it != files_.end()) {
    InfoOf(*it->second, info);
    return Leave(0);
  }
  if (!IsFolder(path)) return Leave(ENOENT);
  *info = FileInfo{};
  info->mode = S_IFDIR | 0755;
  return Leave(0);
}

int FakeDisk::ReadLinkAt(int folder, const std::string& name, std::string* target) {
  const std::lock_guard lock(mutex_);
  const std::string path = At(folder, name);
  if (const int err = Enter(DiskOp::kReadLinkAt, path)) return Leave(err);
  const auto it = symlinks_.find(path);
  if (it == symlinks_.end()) return Leave(EINVAL);
  *target = it->second;
  return Leave(0);
}

int FakeDisk::OpenReadAt(int folder, const std::string& name, int* fd) {
  const std::lock_guard lock(mutex_);
  const std::string path = At(folder, name);
  if (const int err = Enter(DiskOp::kOpenReadAt, path)) return Leave(err);
  if (symlinks_.count(path) != 0) return Leave(ELOOP);
  const auto it = files_.find(path);
  if (it == files_.end()) return Leave(ENOENT);
  if ((it->second->mode & S_IRUSR) == 0) return Leave(EACCES);
  *fd = NewDescriptor({it->second, path, true, false, 0});
  return Leave(0);
}

int FakeDisk::MayWriteAt(int folder, const std::string& name) {
  const std::lock_guard lock(mutex_);
  const std::string path = At(folder, name);
  if (const int err = Enter(DiskOp::kMayWriteAt, path)) return Leave(err);
  const auto inode = Find(path);
  if (!inode) return Leave(ENOENT);
  return Leave((inode->mode & S_IWUSR) == 0 ? EACCES : 0);
}

int FakeDisk::CreateTempAt(int folder, const std::string& near, int* fd, std::string* name) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kCreateTemp, At(folder, near))) return Leave(err);
  std::string temp;
  do {
    temp = near + ".tmp" + std::to_string(++temp_serial_);
  } while (Exists(At(folder, temp)));
  const std::string path = At(folder, temp);
  auto inode = NewInode(S_IFREG | 0600);
  files_[path] = inode;
  *fd = NewDescriptor({inode, path, false, true, 0});
  *name = temp;
  return Leave(0);
}

// Like rename(2), this replaces the name `to` itself: a symbolic link there is not followed.
int FakeDisk::RenameAt(int folder, const std::string& from_name, const std::string& to_name) {
  const std::lock_guard lock(mutex_);
  const std::string from = At(folder, from_name);
  const std::string to = At(folder, to_name);
  if (const int err = Enter(DiskOp::kRename, from + " -> " + to)) return Leave(err);
  if (!Exists(from)) return Leave(ENOENT);
  if (from == to) return Leave(0);
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

int FakeDisk::UnlinkAt(int folder, const std::string& name) {
  const std::lock_guard lock(mutex_);
  const std::string path = At(folder, name);
  if (const int err = Enter(DiskOp::kUnlink, path)) return Leave(err);
  if (files_.erase(path) == 0 && symlinks_.erase(path) == 0) return Leave(ENOENT);
  return Leave(0);
}

int FakeDisk::Read(int fd, char* buffer, std::size_t cap, std::size_t* got) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kRead, PathOf(fd))) return Leave(err);
  OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->reads || !file->inode) return Leave(EBADF);
  const std::string& bytes = file->inode->bytes;
  std::size_t n = 0;
  if (!S_ISCHR(file->inode->mode) && file->offset < bytes.size()) {
    n = std::min({cap, read_chunk_, bytes.size() - file->offset});
    bytes.copy(buffer, n, file->offset);
  }
  file->offset += n;
  *got = n;
  return Leave(0);
}

int FakeDisk::ReadAt(int fd, off_t offset, char* buffer, std::size_t cap, std::size_t* got) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kReadAt, PathOf(fd))) return Leave(err);
  OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->reads || !file->inode) return Leave(EBADF);
  const std::string& bytes = file->inode->bytes;
  const auto at = static_cast<std::size_t>(offset);
  *got = at < bytes.size() ? std::min({cap, read_chunk_, bytes.size() - at}) : 0;
  bytes.copy(buffer, *got, at);
  return Leave(0);
}

int FakeDisk::Write(int fd, const char* bytes, std::size_t n) {
  const std::lock_guard lock(mutex_);
  const int err = Enter(DiskOp::kWrite, PathOf(fd));
  OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->writes) return Leave(EBADF);
  const std::size_t take = err != 0 ? n / 2 : n;
  std::string& data = file->inode->bytes;
  if (data.size() < file->offset + take) data.resize(file->offset + take);
  data.replace(file->offset, take, bytes, take);
  file->offset += take;
  ++file->inode->changes;
  return Leave(err);
}

int FakeDisk::Sync(int fd) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kSync, PathOf(fd))) return Leave(err);
  return Leave(Descriptor(fd) == nullptr ? EBADF : 0);
}

int FakeDisk::SyncFileSystem(int fd) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kSyncFileSystem, PathOf(fd))) return Leave(err);
  return Leave(Descriptor(fd) == nullptr ? EBADF : 0);
}

int FakeDisk::Close(int fd) {
  const std::lock_guard lock(mutex_);
  const int err = Enter(DiskOp::kClose, PathOf(fd));
  if (fds_.erase(fd) == 0) return Leave(EBADF);
  return Leave(err);
}

int FakeDisk::Stat(int fd, FileInfo* info) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kStat, PathOf(fd))) return Leave(err);
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr) return Leave(EBADF);
  if (!file->inode) {
    *info = FileInfo{};
    info->mode = S_IFDIR | 0755;
    info->ino = std::hash<std::string>{}(file->path);
    return Leave(0);
  }
  InfoOf(*file->inode, info);
  return Leave(0);
}

int FakeDisk::CopyOwnerAndMode(int fd, const FileInfo& like) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kCopyOwnerAndMode, PathOf(fd))) return Leave(err);
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->inode) return Leave(EBADF);
  Inode& inode = *file->inode;
  inode.mode = (inode.mode & S_IFMT) | (like.mode & 07777);
  inode.uid = like.uid;
  inode.gid = like.gid;
  ++inode.changes;
  return Leave(0);
}

int FakeDisk::ListAttributes(int fd, std::vector<std::string>* names) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kListAttributes, PathOf(fd))) return Leave(err);
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->inode) return Leave(EBADF);
  names->clear();
  for (const auto& entry : file->inode->attributes) names->push_back(entry.first);
  return Leave(0);
}

int FakeDisk::GetAttribute(int fd, const std::string& name, std::string* value) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kGetAttribute, PathOf(fd) + " " + name)) return Leave(err);
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->inode) return Leave(EBADF);
  const auto it = file->inode->attributes.find(name);
  if (it == file->inode->attributes.end()) return Leave(ENODATA);
  *value = it->second;
  return Leave(0);
}

int FakeDisk::SetAttribute(int fd, const std::string& name, const std::string& value) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kSetAttribute, PathOf(fd) + " " + name)) return Leave(err);
  const OpenFile* file = Descriptor(fd);
  if (file == nullptr || !file->inode) return Leave(EBADF);
  file->inode->attributes[name] = value;
  ++file->inode->changes;
  return Leave(0);
}

int FakeDisk::FreeSpace(const std::string& path, double* bytes) {
  const std::lock_guard lock(mutex_);
  if (const int err = Enter(DiskOp::kFreeSpace, path)) return Leave(err);
  *bytes = free_space_;
  return Leave(0);
}

}  // namespace lowtags

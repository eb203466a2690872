#include "support/fake_disk.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "driver/file_loop.h"

namespace lowtags {
namespace {

constexpr int kMaxLinkDepth = 40;  // as Linux: a longer chain is taken for a loop

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

const auto kDone = [](auto&&...) { return 0; };

FileInfo Folder(ino_t ino) { return {S_IFDIR | 0755, 0, 0, 1, 0, 0, ino, {}, {}}; }

}  // namespace

void FakeDisk::AddFile(const std::string& path, std::string_view bytes, mode_t perms, uid_t uid,
                       gid_t gid) {
  const mode_t mode = (perms & S_IFMT) != 0 ? perms : S_IFREG | perms;
  files_[path] =
      std::make_shared<Inode>(Inode{std::string(bytes), mode, uid, gid, next_ino_++, {}});
}

void FakeDisk::SetStdin(std::string_view bytes, mode_t type) {
  const auto inode =
      std::make_shared<Inode>(Inode{std::string(bytes), type | 0600, 1000, 1000, 0, {}});
  fds_[0] = OpenFile{inode, "(standard input)"};
}

int FakeDisk::OpenWrite(const std::string& path, int* fd) {
  return Call(DiskOp::kOpenWrite, [&](int) {
    const auto inode = Find(path);
    return inode ? (*fd = NewDescriptor(inode, path, true), 0) : ENOENT;
  });
}

std::optional<std::string> FakeDisk::Contents(const std::string& path) const {
  const auto inode = Find(path);
  return inode ? std::optional(inode->bytes) : std::nullopt;
}

std::optional<FileInfo> FakeDisk::Info(const std::string& path) const {
  const auto inode = Find(path);
  return inode ? std::optional(InfoOf(*inode)) : std::nullopt;
}

std::optional<std::string> FakeDisk::LinkTarget(const std::string& path) const {
  const auto entry = Entry(path);
  return entry && S_ISLNK(entry->mode) ? std::optional(entry->bytes) : std::nullopt;
}

std::vector<std::string> FakeDisk::Paths() const {
  std::vector<std::string> paths;
  for (const auto& entry : files_) paths.push_back(entry.first);
  return paths;
}

template <typename Body>
int FakeDisk::Call(DiskOp op, Body body) {
  const std::lock_guard lock(mutex_);
  const int nth = ++counts_[static_cast<std::size_t>(op)];
  int injected = 0;
  for (const auto& [rule_op, rule_nth, rule] : rules_) {
    if (rule_op == op && rule_nth == nth) injected = std::max(injected, rule());
  }
  const bool runs = injected == 0 || op == DiskOp::kWrite || op == DiskOp::kClose;
  return runs ? body(injected) : injected;
}

template <typename Body>
int FakeDisk::OnFile(DiskOp op, int fd, Want want, Body body) {
  return Call(op, [&](int injected) {
    const auto it = fds_.find(fd);
    if (it == fds_.end()) return EBADF;
    OpenFile& file = it->second;
    const bool fits =
        want == kAny || (file.inode && (want == kFiles || file.writes == (want == kWrites)));
    return fits ? body(file, injected) : EBADF;
  });
}

std::shared_ptr<FakeDisk::Inode> FakeDisk::Find(const std::string& path) const {
  std::string at = path;
  for (int depth = 0; depth <= kMaxLinkDepth; ++depth) {
    const auto entry = Entry(at);
    if (!entry || !S_ISLNK(entry->mode)) return entry;
    at = Join(FolderOf(at), entry->bytes);
  }
  return nullptr;
}

std::shared_ptr<FakeDisk::Inode> FakeDisk::Entry(const std::string& path) const {
  const auto it = files_.find(path);
  return it == files_.end() ? nullptr : it->second;
}

std::string FakeDisk::PathOf(int fd) const {
  const std::lock_guard lock(mutex_);
  if (fd == kWorkingFolder) return ".";
  const auto it = fds_.find(fd);
  return it == fds_.end() ? "(bad descriptor " + std::to_string(fd) + ")" : it->second.path;
}

std::string FakeDisk::Join(const std::string& folder, const std::string& name) {
  std::string path = !name.empty() && name[0] == '/' ? name
                     : folder == "."                 ? name
                     : folder.ends_with('/')         ? folder + name
                                                     : folder + "/" + name;
  while (path.size() > 1 && path.ends_with('/')) path.pop_back();
  while (path.size() > 2 && path.ends_with("/.")) path.resize(path.size() - 2);
  return path.empty() ? "." : path;
}

int FakeDisk::NewDescriptor(std::shared_ptr<Inode> inode, const std::string& path, bool writes) {
  fds_.emplace(next_fd_, OpenFile{std::move(inode), path, writes, 0});
  return next_fd_++;
}

bool FakeDisk::IsFolder(const std::string& path) const {
  const auto below = [&](const auto& entry) { return entry.first.starts_with(path + "/"); };
  return path == "." || path == "/" || std::any_of(files_.begin(), files_.end(), below);
}

FileInfo FakeDisk::InfoOf(const Inode& inode) {
  const auto size = static_cast<off_t>(inode.bytes.size());
  return {inode.mode, inode.uid, inode.gid, 1, size, 1, inode.ino, {}, {}};
}

int FakeDisk::OpenRead(const std::string& path, int* fd) {
  return Call(DiskOp::kOpenRead, [&](int) {
    const auto inode = Find(path);
    if (!inode) return IsFolder(path) ? EISDIR : ENOENT;
    return (inode->mode & S_IRUSR) == 0 ? EACCES : (*fd = NewDescriptor(inode, path, false), 0);
  });
}

int FakeDisk::OpenFolder(int at, const std::string& path, int* fd) {
  return Call(DiskOp::kOpenFolder, [&, folder = At(at, path)](int) {
    if (Entry(folder)) return ENOTDIR;
    return IsFolder(folder) ? (*fd = NewDescriptor(nullptr, folder, false), 0) : ENOENT;
  });
}

int FakeDisk::StatAt(int folder, const std::string& name, FileInfo* info) {
  return Call(DiskOp::kStatAt, [&, path = At(folder, name)](int) {
    const auto entry = Entry(path);
    if (!entry && !IsFolder(path)) return ENOENT;
    *info = entry ? InfoOf(*entry) : Folder(0);
    return 0;
  });
}

int FakeDisk::ReadLinkAt(int folder, const std::string& name, std::string* target) {
  return Call(DiskOp::kReadLinkAt, [&, path = At(folder, name)](int) {
    const auto link = LinkTarget(path);
    return link ? (*target = *link, 0) : EINVAL;
  });
}

int FakeDisk::OpenReadAt(int folder, const std::string& name, int* fd) {
  return Call(DiskOp::kOpenReadAt, [&, path = At(folder, name)](int) {
    const auto entry = Entry(path);
    if (!entry) return ENOENT;
    return S_ISLNK(entry->mode) ? ELOOP : (*fd = NewDescriptor(entry, path, false), 0);
  });
}

int FakeDisk::MayWriteAt(int folder, const std::string& name) {
  return Call(DiskOp::kMayWriteAt, [&, path = At(folder, name)](int) {
    const auto inode = Find(path);
    return !inode ? ENOENT : (inode->mode & S_IWUSR) == 0 ? EACCES : 0;
  });
}

int FakeDisk::CreateTempAt(int folder, const std::string& near, int* fd, std::string* name) {
  return Call(DiskOp::kCreateTemp, [&](int) {
    do {
      *name = near + ".tmp" + std::to_string(++temp_serial_);
    } while (files_.count(At(folder, *name)) != 0);
    AddFile(At(folder, *name), "", 0600);
    *fd = NewDescriptor(files_[At(folder, *name)], At(folder, *name), true);
    return 0;
  });
}

// Like rename(2), this replaces the name `to` itself: a symbolic link there is not followed.
int FakeDisk::RenameAt(int folder, const std::string& from_name, const std::string& to_name) {
  return Call(DiskOp::kRename, [&, from = At(folder, from_name), to = At(folder, to_name)](int) {
    if (files_.count(from) == 0) return ENOENT;
    if (from == to) return 0;
    // As atomic as the real one: everything that may allocate comes before the first change.
    auto node = files_.extract(from);
    node.key() = to;
    files_.erase(to);
    files_.insert(std::move(node));
    return 0;
  });
}

int FakeDisk::UnlinkAt(int folder, const std::string& name) {
  return Call(DiskOp::kUnlink,
              [&, path = At(folder, name)](int) { return files_.erase(path) == 0 ? ENOENT : 0; });
}

int FakeDisk::Read(int fd, char* buffer, std::size_t cap, std::size_t* got) {
  return OnFile(DiskOp::kRead, fd, kReads, [&](OpenFile& file, int) {
    *got = Copy(*file.inode, file.offset, buffer, cap);
    file.offset += *got;
    return 0;
  });
}

int FakeDisk::ReadAt(int fd, off_t offset, char* buffer, std::size_t cap, std::size_t* got) {
  return OnFile(DiskOp::kReadAt, fd, kReads, [&](OpenFile& file, int) {
    *got = Copy(*file.inode, static_cast<std::size_t>(offset), buffer, cap);
    return 0;
  });
}

std::size_t FakeDisk::Copy(const Inode& inode, std::size_t at, char* buffer,
                           std::size_t cap) const {
  return at < inode.bytes.size() ? inode.bytes.copy(buffer, std::min(cap, read_chunk_), at) : 0;
}

int FakeDisk::Write(int fd, const char* bytes, std::size_t n) {
  return OnFile(DiskOp::kWrite, fd, kWrites, [&](OpenFile& file, int injected) {
    const std::size_t take = injected != 0 ? n / 2 : n;
    std::string& data = file.inode->bytes;
    if (data.size() < file.offset + take) data.resize(file.offset + take);
    data.replace(file.offset, take, bytes, take);
    file.offset += take;
    return injected;
  });
}

int FakeDisk::Sync(int fd) { return OnFile(DiskOp::kSync, fd, kAny, kDone); }

int FakeDisk::SyncFileSystem(int fd) { return OnFile(DiskOp::kSyncFileSystem, fd, kAny, kDone); }

int FakeDisk::Close(int fd) {
  return OnFile(DiskOp::kClose, fd, kAny, [&](OpenFile&, int injected) {
    fds_.erase(fd);
    return injected;
  });
}

int FakeDisk::Stat(int fd, FileInfo* info) {
  return OnFile(DiskOp::kStat, fd, kAny, [&](OpenFile& file, int) {
    *info = file.inode ? InfoOf(*file.inode) : Folder(std::hash<std::string>{}(file.path));
    return 0;
  });
}

int FakeDisk::IsWritableRegular(int fd, bool* answer) {
  return OnFile(DiskOp::kIsWritableRegular, fd, kFiles, [&](OpenFile& file, int) {
    *answer = S_ISREG(file.inode->mode) && !read_only_;
    return 0;
  });
}

int FakeDisk::CopyOwnerAndMode(int fd, const FileInfo& like) {
  return OnFile(DiskOp::kCopyOwnerAndMode, fd, kWrites, [&](OpenFile& file, int) {
    Inode& inode = *file.inode;
    inode.mode = (inode.mode & S_IFMT) | (like.mode & 07777);
    inode.uid = like.uid;
    inode.gid = like.gid;
    return 0;
  });
}

int FakeDisk::ListAttributes(int fd, std::vector<std::string>* names) {
  return OnFile(DiskOp::kListAttributes, fd, kReads, [&](OpenFile& file, int) {
    names->clear();
    for (const auto& entry : file.inode->attributes) names->push_back(entry.first);
    return 0;
  });
}

int FakeDisk::GetAttribute(int fd, const std::string& name, std::string* value) {
  return OnFile(DiskOp::kGetAttribute, fd, kReads, [&](OpenFile& file, int) {
    const auto it = file.inode->attributes.find(name);
    return it == file.inode->attributes.end() ? ENODATA : (*value = it->second, 0);
  });
}

int FakeDisk::SetAttribute(int fd, const std::string& name, const std::string& value) {
  return OnFile(DiskOp::kSetAttribute, fd, kWrites, [&](OpenFile& file, int) {
    file.inode->attributes[name] = value;
    return 0;
  });
}

int FakeDisk::FreeSpace(const std::string& /*path*/, double* bytes) {
  return Call(DiskOp::kFreeSpace, [&](int) { return *bytes = free_space_, 0; });
}

testing::ProgramRun testing::RunOnDisk(FakeDisk& disk, const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  disk.AddFile("out", "");
  disk.AddFile("err", "");
  int out_fd = -1;
  int err_fd = -1;
  disk.OpenWrite("out", &out_fd);
  disk.OpenWrite("err", &err_fd);
  ProgramRun run;
  run.status = RunLowtags(argv, disk, out_fd, err_fd, Charset::kShiftJis);
  disk.Close(out_fd);
  disk.Close(err_fd);
  run.out = disk.Contents("out").value_or("");
  run.err = disk.Contents("err").value_or("");
  disk.UnlinkAt(kWorkingFolder, "out");
  disk.UnlinkAt(kWorkingFolder, "err");
  return run;
}

}  // namespace lowtags

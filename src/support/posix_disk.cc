#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "support/disk.h"
#include "support/temp_files.h"

namespace lowtags {

namespace {

int ErrnoOr(int rc) { return rc == 0 ? 0 : (errno != 0 ? errno : EIO); }

void InfoOf(const struct stat& st, FileInfo* info) {
  info->mode = st.st_mode;
  info->uid = st.st_uid;
  info->gid = st.st_gid;
  info->links = st.st_nlink;
  info->size = st.st_size;
  info->dev = st.st_dev;
  info->ino = st.st_ino;
  info->mtime = st.st_mtim;
  info->ctime = st.st_ctim;
}

// Six characters that differ from run to run and from call to call.
std::string Ending(pid_t pid, unsigned serial) {
  static constexpr char kDigits[] =
      "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  timespec now{};
  (void)::clock_gettime(CLOCK_MONOTONIC, &now);
  unsigned long long mix = static_cast<unsigned long long>(pid) * 0x9E3779B97F4A7C15ULL ^
                           static_cast<unsigned long long>(now.tv_nsec) ^
                           (static_cast<unsigned long long>(serial) << 32);
  std::string ending = ".lowtags-";
  for (int i = 0; i < 6; ++i) {
    mix = mix * 6364136223846793005ULL + 1442695040888963407ULL;
    ending += kDigits[(mix >> 33) % (sizeof kDigits - 1)];
  }
  return ending;
}

}  // namespace

bool SameVersion(const FileInfo& a, const FileInfo& b) {
  return a.dev == b.dev && a.ino == b.ino && a.size == b.size && a.mtime.tv_sec == b.mtime.tv_sec &&
         a.mtime.tv_nsec == b.mtime.tv_nsec && a.ctime.tv_sec == b.ctime.tv_sec &&
         a.ctime.tv_nsec == b.ctime.tv_nsec;
}

PosixDisk::PosixDisk(TempFiles* temps) : temps_(temps), pid_(::getpid()) {}

std::string TempName(const std::string& near, const std::string& ending, std::size_t name_max) {
  const std::size_t room = name_max > ending.size() ? name_max - ending.size() : 0;
  return near.substr(0, room) + ending;
}

int PosixDisk::OpenRead(const std::string& path, int* fd) {
  // O_NONBLOCK keeps the open of a FIFO without a writer from hanging; reads block again below.
  const int f = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (f < 0) return errno;
  struct stat st {};
  if (::fstat(f, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(f);
    return EISDIR;
  }
  const int flags = ::fcntl(f, F_GETFL);
  if (flags >= 0) ::fcntl(f, F_SETFL, flags & ~O_NONBLOCK);
  *fd = f;
  return 0;
}

int PosixDisk::OpenFolder(int at, const std::string& path, int* fd) {
  const int f = ::openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (f < 0) return errno;
  *fd = f;
  return 0;
}

int PosixDisk::StatAt(int folder, const std::string& name, FileInfo* info) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno;
  InfoOf(st, info);
  return 0;
}

int PosixDisk::ReadLinkAt(int folder, const std::string& name, std::string* target) {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t n = ::readlinkat(folder, name.c_str(), buffer.data(), buffer.size());
    if (n < 0) return errno;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      target->assign(buffer.data(), static_cast<std::size_t>(n));
      return 0;
    }
    buffer.resize(buffer.size() * 2);
  }
}

int PosixDisk::OpenReadAt(int folder, const std::string& name, int* fd) {
  const int f = ::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (f < 0) return errno;
  *fd = f;  // a regular file ignores O_NONBLOCK; anything else is refused before it is read
  return 0;
}

int PosixDisk::MayWriteAt(int folder, const std::string& name) {
  return ErrnoOr(::faccessat(folder, name.c_str(), W_OK, AT_EACCESS));
}

int PosixDisk::CreateTempAt(int folder, const std::string& near, int* fd, std::string* name) {
  // The usual limit first; the folder's own is asked only when a name proves too long for it.
  std::size_t max = NAME_MAX;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = TempName(near, Ending(pid_, ++serial_), max);
    if (temps_ != nullptr && !temps_->Add(folder, temp)) return EMFILE;
    const int f =
        ::openat(folder, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (f >= 0) {
      *fd = f;
      *name = std::move(temp);
      return 0;
    }
    const int err = errno;
    if (temps_ != nullptr) temps_->Remove(folder, temp);
    if (err == ENAMETOOLONG && max == NAME_MAX) {
      const long limit = ::fpathconf(folder, _PC_NAME_MAX);
      if (limit > 0 && limit < NAME_MAX) max = static_cast<std::size_t>(limit);
      if (max != NAME_MAX) continue;
    }
    if (err != EEXIST) return err;
  }
  return EEXIST;
}

int PosixDisk::RenameAt(int folder, const std::string& from, const std::string& to) {
  const int err = ErrnoOr(::renameat(folder, from.c_str(), folder, to.c_str()));
  if (err == 0 && temps_ != nullptr) temps_->Remove(folder, from);
  return err;
}

int PosixDisk::UnlinkAt(int folder, const std::string& name) {
  const int err = ErrnoOr(::unlinkat(folder, name.c_str(), 0));
  if (temps_ != nullptr) temps_->Remove(folder, name);
  return err;
}

int PosixDisk::Read(int fd, char* buffer, std::size_t cap, std::size_t* got) {
  for (;;) {
    const ssize_t n = ::read(fd, buffer, cap);
    if (n >= 0) {
      *got = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int PosixDisk::ReadAt(int fd, off_t offset, char* buffer, std::size_t cap, std::size_t* got) {
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, cap, offset);
    if (n >= 0) {
      *got = static_cast<std::size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int PosixDisk::Write(int fd, const char* bytes, std::size_t n) {
  while (n > 0) {
    const ssize_t done = ::write(fd, bytes, n);
    if (done < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes += done;
    n -= static_cast<std::size_t>(done);
  }
  return 0;
}

int PosixDisk::Sync(int fd) { return ErrnoOr(::fsync(fd)); }

int PosixDisk::SyncFileSystem(int fd) { return ErrnoOr(::syncfs(fd)); }

void PosixDisk::StartSync(int fd) {
  // Where the call is unknown (not Linux) or refused, the Sync does all the work.
#if defined(SYNC_FILE_RANGE_WRITE)
  ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)fd;
#endif
}

int PosixDisk::Close(int fd) { return ErrnoOr(::close(fd)); }

int PosixDisk::Stat(int fd, FileInfo* info) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  InfoOf(st, info);
  return 0;
}

int PosixDisk::IsWritableRegular(int fd, bool* answer) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  struct statvfs vfs {};
  if (::fstatvfs(fd, &vfs) != 0) return errno;
  *answer = S_ISREG(st.st_mode) && (vfs.f_flag & ST_RDONLY) == 0;
  return 0;
}

int PosixDisk::CopyOwnerAndMode(int fd, const FileInfo& like) {
  // Only the owner may be refused (an ordinary user cannot give files away); the mode must hold.
  if (::fchown(fd, like.uid, like.gid) != 0) (void)::fchown(fd, static_cast<uid_t>(-1), like.gid);
  return ErrnoOr(::fchmod(fd, like.mode & 07777));
}

int PosixDisk::ListAttributes(int fd, std::vector<std::string>* names) {
  names->clear();
  std::vector<char> list(1024);  // most files have few attributes, or none: one call
  for (;;) {
    const ssize_t got = ::flistxattr(fd, list.data(), list.size());
    if (got < 0 && errno == ENOTSUP) return 0;
    if (got < 0 && errno == ERANGE) {
      const ssize_t size = ::flistxattr(fd, nullptr, 0);
      if (size < 0) return errno;
      list.resize(static_cast<std::size_t>(size) + 1);
      continue;  // one may be added meanwhile: asked again
    }
    if (got < 0) return errno;
    for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
      const std::string name(list.data() + at);
      at += name.size() + 1;
      names->push_back(name);
    }
    return 0;
  }
}

int PosixDisk::GetAttribute(int fd, const std::string& name, std::string* value) {
  for (;;) {
    const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
    if (size < 0) return errno;
    value->resize(static_cast<std::size_t>(size));
    const ssize_t got = ::fgetxattr(fd, name.c_str(), value->data(), value->size());
    if (got < 0 && errno == ERANGE) continue;
    if (got < 0) return errno;
    value->resize(static_cast<std::size_t>(got));
    return 0;
  }
}

int PosixDisk::SetAttribute(int fd, const std::string& name, const std::string& value) {
  return ErrnoOr(::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0));
}

int PosixDisk::FreeSpace(const std::string& path, double* bytes) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return errno;
  *bytes = static_cast<double>(vfs.f_bavail) * static_cast<double>(vfs.f_frsize);
  return 0;
}

bool PosixDisk::IsTerminal(int fd) { return ::isatty(fd) == 1; }

}  // namespace lowtags

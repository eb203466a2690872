#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/disk.h"

namespace lowtags {

namespace {

int ErrnoOr(int rc) { return rc == 0 ? 0 : (errno != 0 ? errno : EIO); }

}  // namespace

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
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

int PosixDisk::OpenWrite(const std::string& path, bool truncate, int* fd) {
  const int f = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | (truncate ? O_TRUNC : 0));
  if (f < 0) return errno;
  const int flags = ::fcntl(f, F_GETFL);
  if (flags >= 0) ::fcntl(f, F_SETFL, flags & ~O_NONBLOCK);
  *fd = f;
  return 0;
}

int PosixDisk::CreateTemp(const std::string& near, int* fd, std::string* name) {
  std::string pattern = near + ".lowtags-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  const int f = ::mkostemp(buf.data(), O_CLOEXEC);
  if (f < 0) return errno;
  *fd = f;
  name->assign(buf.data());
  return 0;
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
  info->mode = st.st_mode;
  info->uid = st.st_uid;
  info->gid = st.st_gid;
  info->links = st.st_nlink;
  info->size = st.st_size;
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

int PosixDisk::Resolve(const std::string& path, std::string* target) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return errno;
  target->assign(real.get());
  return 0;
}

int PosixDisk::Rename(const std::string& from, const std::string& to) {
  return ErrnoOr(::rename(from.c_str(), to.c_str()));
}

int PosixDisk::Unlink(const std::string& path) { return ErrnoOr(::unlink(path.c_str())); }

int PosixDisk::SyncFolderOf(const std::string& path) {
  const int f = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (f < 0) return errno;
  const int rc = ErrnoOr(::fsync(f));
  ::close(f);
  return rc;
}

int PosixDisk::FreeSpace(const std::string& path, double* bytes) {
  struct statvfs vfs {};
  if (::statvfs(path.c_str(), &vfs) != 0) return errno;
  *bytes = static_cast<double>(vfs.f_bavail) * static_cast<double>(vfs.f_frsize);
  return 0;
}

}  // namespace lowtags

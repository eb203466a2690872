// The narrow interface between lowtags and the file system. Every call returns 0 or an errno
// value, so that tests can fail any one of them with a fake. Files that are rewritten are named
// relative to an open folder, so that no path ever has to be built or fit a length limit.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace lowtags {

// The folder a relative path starts from: the working folder.
inline constexpr int kWorkingFolder = -100;  // AT_FDCWD

struct FileInfo {
  mode_t mode = 0;  // type and permission bits, as st_mode
  uid_t uid = 0;
  gid_t gid = 0;
  nlink_t links = 1;
  off_t size = 0;
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
  timespec ctime{};
};

// The same file, unchanged since the other look at it: same device, inode, size and times.
bool SameVersion(const FileInfo& a, const FileInfo& b);

class Disk {
 public:
  virtual ~Disk() = default;

  // Opens a file for reading. A folder is refused with EISDIR; a FIFO never blocks the open.
  virtual int OpenRead(const std::string& path, int* fd) = 0;
  // Opens a folder (path relative to the folder `at`) for the calls below and for Sync.
  virtual int OpenFolder(int at, const std::string& path, int* fd) = 0;
  // Looks at a name in a folder; a symbolic link is not followed.
  virtual int StatAt(int folder, const std::string& name, FileInfo* info) = 0;
  virtual int ReadLinkAt(int folder, const std::string& name, std::string* target) = 0;
  // Opens a name for reading without following a symbolic link and without blocking on a FIFO.
  virtual int OpenReadAt(int folder, const std::string& name, int* fd) = 0;
  // 0 when this user may write the file the name gives, without opening it.
  virtual int MayWriteAt(int folder, const std::string& name) = 0;
  // Creates a new file, mode 0600, beside `near` in the folder; its name (a shortened `near` with
  // a unique ending, within the folder's name limit) goes to *name.
  virtual int CreateTempAt(int folder, const std::string& near, int* fd, std::string* name) = 0;
  virtual int RenameAt(int folder, const std::string& from, const std::string& to) = 0;
  virtual int UnlinkAt(int folder, const std::string& name) = 0;
  // Reads at most cap bytes; *got == 0 means end of file.
  virtual int Read(int fd, char* buffer, std::size_t cap, std::size_t* got) = 0;
  // The same at an offset, leaving the file position alone.
  virtual int ReadAt(int fd, off_t offset, char* buffer, std::size_t cap, std::size_t* got) = 0;
  // Writes all of the bytes or fails.
  virtual int Write(int fd, const char* bytes, std::size_t n) = 0;
  // fsync: a file's data, or a folder's names.
  virtual int Sync(int fd) = 0;
  // syncfs: everything written on the file system that holds fd.
  virtual int SyncFileSystem(int fd) = 0;
  // Starts writing what was written so far to the device, without waiting: a Sync later has
  // less left to wait for. Best effort, never an error.
  virtual void StartSync(int /*fd*/) {}
  virtual int Close(int fd) = 0;
  virtual int Stat(int fd, FileInfo* info) = 0;
  // Whether fd is a regular file on a file system mounted read-write; a pipe, a device or a
  // file on read-only media is not.
  virtual int IsWritableRegular(int fd, bool* answer) = 0;
  // Gives a new file the permission bits of an old one, and its owner where the process may.
  virtual int CopyOwnerAndMode(int fd, const FileInfo& like) = 0;
  // The names of a file's extended attributes; none where the file system has none.
  virtual int ListAttributes(int fd, std::vector<std::string>* names) = 0;
  virtual int GetAttribute(int fd, const std::string& name, std::string* value) = 0;
  virtual int SetAttribute(int fd, const std::string& name, const std::string& value) = 0;
  // Bytes available to this user on the file system holding `path`.
  virtual int FreeSpace(const std::string& path, double* bytes) = 0;
  virtual bool IsTerminal(int /*fd*/) { return false; }
};

// The real file system, through POSIX calls. Temporary files it has made and not yet renamed or
// removed are listed where a signal handler can find them (see temp_files.h).
class TempFiles;

class PosixDisk : public Disk {
 public:
  // `temps`, when given, lists every temporary file until it is renamed or removed.
  explicit PosixDisk(TempFiles* temps = nullptr);
  int OpenRead(const std::string& path, int* fd) override;
  int OpenFolder(int at, const std::string& path, int* fd) override;
  int StatAt(int folder, const std::string& name, FileInfo* info) override;
  int ReadLinkAt(int folder, const std::string& name, std::string* target) override;
  int OpenReadAt(int folder, const std::string& name, int* fd) override;
  int MayWriteAt(int folder, const std::string& name) override;
  int CreateTempAt(int folder, const std::string& near, int* fd, std::string* name) override;
  int RenameAt(int folder, const std::string& from, const std::string& to) override;
  int UnlinkAt(int folder, const std::string& name) override;
  int Read(int fd, char* buffer, std::size_t cap, std::size_t* got) override;
  int ReadAt(int fd, off_t offset, char* buffer, std::size_t cap, std::size_t* got) override;
  int Write(int fd, const char* bytes, std::size_t n) override;
  int Sync(int fd) override;
  int SyncFileSystem(int fd) override;
  void StartSync(int fd) override;
  int Close(int fd) override;
  int Stat(int fd, FileInfo* info) override;
  int IsWritableRegular(int fd, bool* answer) override;
  int CopyOwnerAndMode(int fd, const FileInfo& like) override;
  int ListAttributes(int fd, std::vector<std::string>* names) override;
  int GetAttribute(int fd, const std::string& name, std::string* value) override;
  int SetAttribute(int fd, const std::string& name, const std::string& value) override;
  int FreeSpace(const std::string& path, double* bytes) override;
  bool IsTerminal(int fd) override;

 private:
  TempFiles* temps_;
  pid_t pid_;            // mixed into temporary names
  unsigned serial_ = 0;  // the same
};

// A temporary name for `near`: as much of `near` as fits within name_max bytes before `ending`.
std::string TempName(const std::string& near, const std::string& ending, std::size_t name_max);

}  // namespace lowtags

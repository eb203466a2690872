// The narrow interface between lowtags and the file system. Every call returns 0 or an errno
// value, so that tests can fail any one of them with a fake.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

namespace lowtags {

struct FileInfo {
  mode_t mode = 0;  // type and permission bits, as st_mode
  uid_t uid = 0;
  gid_t gid = 0;
  nlink_t links = 1;
  off_t size = 0;
};

class Disk {
 public:
  virtual ~Disk() = default;

  // Opens a file for reading. A folder is refused with EISDIR; a FIFO never blocks the open.
  virtual int OpenRead(const std::string& path, int* fd) = 0;
  // Opens an existing file for writing, truncating it when asked; never creates one.
  virtual int OpenWrite(const std::string& path, bool truncate, int* fd) = 0;
  // Creates a new file for writing next to `near` (same folder); its name goes to *name.
  virtual int CreateTemp(const std::string& near, int* fd, std::string* name) = 0;
  // Reads at most cap bytes; *got == 0 means end of file.
  virtual int Read(int fd, char* buffer, std::size_t cap, std::size_t* got) = 0;
  // Writes all of the bytes or fails.
  virtual int Write(int fd, const char* bytes, std::size_t n) = 0;
  virtual int Sync(int fd) = 0;
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
  // The file a path finally names, every symbolic link followed.
  virtual int Resolve(const std::string& path, std::string* target) = 0;
  virtual int Rename(const std::string& from, const std::string& to) = 0;
  virtual int Unlink(const std::string& path) = 0;
  // Makes a rename in the folder holding `path` durable; best effort.
  virtual int SyncFolderOf(const std::string& path) = 0;
  // Bytes available to this user on the file system holding `path`.
  virtual int FreeSpace(const std::string& path, double* bytes) = 0;
};

// The real file system, through POSIX calls.
class PosixDisk : public Disk {
 public:
  int OpenRead(const std::string& path, int* fd) override;
  int OpenWrite(const std::string& path, bool truncate, int* fd) override;
  int CreateTemp(const std::string& near, int* fd, std::string* name) override;
  int Read(int fd, char* buffer, std::size_t cap, std::size_t* got) override;
  int Write(int fd, const char* bytes, std::size_t n) override;
  int Sync(int fd) override;
  void StartSync(int fd) override;
  int Close(int fd) override;
  int Stat(int fd, FileInfo* info) override;
  int IsWritableRegular(int fd, bool* answer) override;
  int CopyOwnerAndMode(int fd, const FileInfo& like) override;
  int Resolve(const std::string& path, std::string* target) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int SyncFolderOf(const std::string& path) override;
  int FreeSpace(const std::string& path, double* bytes) override;
};

// The folder part of a path ("." when there is none), for temporary files and folder syncs.
std::string FolderOf(const std::string& path);

}  // namespace lowtags

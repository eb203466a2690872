// An in-memory file system for tests: files, folders, symbolic links, extended attributes, open
// descriptors, a log of every call, failures injected into chosen calls and actions run at them.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <array>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "support/disk.h"

namespace lowtags {

// One per call, in the order of Disk, and the tests' own OpenWrite.
// clang-format off
enum class DiskOp {
  kOpenRead, kOpenFolder, kStatAt, kReadLinkAt, kOpenReadAt, kMayWriteAt, kCreateTemp, kRename,
  kUnlink, kRead, kReadAt, kWrite, kSync, kSyncFileSystem, kClose, kStat, kIsWritableRegular,
  kCopyOwnerAndMode, kListAttributes, kGetAttribute, kSetAttribute, kFreeSpace, kOpenWrite
};
// clang-format on

// Folders exist where files are below them; a path is a file, a symbolic link or a folder. The
// process owns every file, is not root, and may give a file any owner. Times never change: a
// file changes by being replaced.
class FakeDisk : public Disk {
 public:
  // A regular file, unless perms carry a type.
  void AddFile(const std::string& path, std::string_view bytes, mode_t perms = 0644,
               uid_t uid = 1000, gid_t gid = 1000);
  // A relative target is taken from the link's folder, as the real file system does.
  void AddSymlink(const std::string& path, const std::string& target) {
    AddFile(path, target, S_IFLNK | 0777);
  }
  void SetAttributeOf(const std::string& path, const std::string& name, const std::string& value) {
    Find(path)->attributes[name] = value;
  }
  // The nth call (counted from 1) of op fails with err before it changes anything, except that a
  // failing Write first stores half of its bytes, as a full disk takes what fits, and a failing
  // Close still releases the descriptor, as on Linux.
  void FailCall(DiskOp op, int nth, int err) {
    rules_.emplace_back(op, nth, [err] { return err; });
  }
  // Runs `action` as the nth call of op begins, as another program would act meanwhile.
  void OnCall(DiskOp op, int nth, std::function<void()> action) {
    rules_.emplace_back(op, nth, [action = std::move(action)] { return action(), 0; });
  }
  // Standard input, descriptor 0: a pipe, or with `type` S_IFREG a file redirected into it.
  void SetStdin(std::string_view bytes, mode_t type = S_IFIFO);
  // Files then live on read-only media as far as IsWritableRegular tells; writes still work.
  void set_read_only(bool read_only) { read_only_ = read_only; }
  // Caps the bytes one Read returns, so that callers must loop.
  void set_read_chunk(std::size_t n) { read_chunk_ = n; }
  void set_free_space(double bytes) { free_space_ = bytes; }
  // Opens an existing file for writing, for a test's standard output.
  int OpenWrite(const std::string& path, int* fd);

  // Looking at the result, paths followed through links.
  std::optional<std::string> Contents(const std::string& path) const;
  std::optional<FileInfo> Info(const std::string& path) const;
  std::optional<std::string> LinkTarget(const std::string& path) const;
  std::map<std::string, std::string> Attributes(const std::string& path) const {
    return Find(path)->attributes;
  }
  // Every name, files and symbolic links alike, sorted.
  std::vector<std::string> Paths() const;
  std::size_t OpenDescriptors() const { return fds_.size(); }
  int Count(DiskOp op) const { return counts_[static_cast<std::size_t>(op)]; }

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
  int Close(int fd) override;
  int Stat(int fd, FileInfo* info) override;
  int IsWritableRegular(int fd, bool* answer) override;
  int CopyOwnerAndMode(int fd, const FileInfo& like) override;
  int ListAttributes(int fd, std::vector<std::string>* names) override;
  int GetAttribute(int fd, const std::string& name, std::string* value) override;
  int SetAttribute(int fd, const std::string& name, const std::string& value) override;
  int FreeSpace(const std::string& path, double* bytes) override;

 private:
  // A file, or a symbolic link holding its target as its bytes.
  struct Inode {
    std::string bytes;
    mode_t mode = 0;
    uid_t uid = 1000;
    gid_t gid = 1000;
    ino_t ino = 0;
    std::map<std::string, std::string> attributes;
  };
  struct OpenFile {
    std::shared_ptr<Inode> inode;  // none for a folder
    std::string path;
    bool writes = false;  // else it reads
    std::size_t offset = 0;
  };
  // Which descriptors a call takes: any, one with a file, one open to read or to write.
  enum Want { kAny, kFiles, kReads, kWrites };

  // Counts the call, runs the rules set for it, and returns the error injected into it, else what
  // body(injected) gives, under the lock. Write and Close run body even then.
  template <typename Body>
  int Call(DiskOp op, Body body);
  // The same on fd's open file, or EBADF when the call does not take it.
  template <typename Body>
  int OnFile(DiskOp op, int fd, Want want, Body body);
  // Bytes from `at`, as far as cap and the read chunk allow.
  std::size_t Copy(const Inode& inode, std::size_t at, char* buffer, std::size_t cap) const;
  // The file a path gives, links followed.
  std::shared_ptr<Inode> Find(const std::string& path) const;
  // The name itself, a link not followed.
  std::shared_ptr<Inode> Entry(const std::string& path) const;
  std::string PathOf(int fd) const;
  // The path of `name` in the folder open as `folder`.
  std::string At(int folder, const std::string& name) const { return Join(PathOf(folder), name); }
  static std::string Join(const std::string& folder, const std::string& name);
  int NewDescriptor(std::shared_ptr<Inode> inode, const std::string& path, bool writes);
  bool IsFolder(const std::string& path) const;
  static FileInfo InfoOf(const Inode& inode);

  // The Disk calls may come from two threads; an action run at a call may make another.
  mutable std::recursive_mutex mutex_;
  std::map<std::string, std::shared_ptr<Inode>> files_;
  std::map<int, OpenFile> fds_;
  int next_fd_ = 3;
  int temp_serial_ = 0;
  ino_t next_ino_ = 1;
  std::vector<std::tuple<DiskOp, int, std::function<int()>>> rules_;  // the error to inject or 0
  std::array<int, static_cast<std::size_t>(DiskOp::kOpenWrite) + 1> counts_{};
  std::size_t read_chunk_ = static_cast<std::size_t>(-1);
  double free_space_ = 1e9;
  bool read_only_ = false;
};

// A test's setting up of a disk; Fail: the nth call of op fails with err.
using DiskStep = std::function<void(FakeDisk&)>;
inline DiskStep Fail(DiskOp op, int err, int nth = 1) {
  return [=](FakeDisk& d) { d.FailCall(op, nth, err); };
}

namespace testing {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs the program's file loop on a fake disk, standard output and error going to its files
// "out" and "err", which are then removed.
ProgramRun RunOnDisk(FakeDisk& disk, const std::vector<std::string>& args);

}  // namespace testing
}  // namespace lowtags

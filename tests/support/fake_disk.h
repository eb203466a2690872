// An in-memory file system for tests: files, symbolic and hard links, open descriptors, a log of
// every call, and failures injected into chosen calls.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/disk.h"

namespace lowtags {

enum class DiskOp {
  kOpenRead,
  kOpenWrite,
  kCreateTemp,
  kRead,
  kWrite,
  kSync,
  kClose,
  kStat,
  kIsWritableRegular,
  kCopyOwnerAndMode,
  kResolve,
  kRename,
  kUnlink,
  kSyncFolderOf,
  kFreeSpace,
};

struct DiskCall {
  DiskOp op;
  std::string path;       // the path given, or the one a descriptor was opened under
  bool truncate = false;  // OpenWrite only
  int result = 0;
};

// Paths are plain strings: no folders exist and only a whole path can be a symbolic link. The
// process owns every file, is not root, and may give a file any owner.
class FakeDisk : public Disk {
 public:
  static constexpr uid_t kUid = 1000;
  static constexpr gid_t kGid = 1000;

  // --- Setting up
  void AddFile(const std::string& path, std::string_view bytes, mode_t perms = 0644,
               uid_t uid = kUid, gid_t gid = kGid);
  // A relative target is taken from the link's folder, as the real file system does.
  void AddSymlink(const std::string& path, const std::string& target);
  void AddHardLink(const std::string& existing, const std::string& path);
  // Like /dev/null, except that it keeps what is written: reads end at once, opening it
  // truncates nothing, and fsync on it fails with EINVAL.
  void AddDevice(const std::string& path);

  // The nth call (counted from 1) of op fails with err before it changes anything, except that a
  // failing Write first stores half of its bytes, as a full disk takes what fits, and a failing
  // Close still releases the descriptor, as on Linux. Several rules may be set.
  void FailCall(DiskOp op, int nth, int err);
  // Standard input, descriptor 0: a pipe, or with `type` S_IFREG a file redirected into it.
  void SetStdin(std::string_view bytes, mode_t type = S_IFIFO);
  // Files then live on read-only media as far as IsWritableRegular tells; writes still work, as
  // standard output and error are files of the same fake.
  void set_read_only(bool read_only) { read_only_ = read_only; }
  // Caps the bytes one Read returns, so that callers must loop.
  void set_read_chunk(std::size_t n) { read_chunk_ = n; }
  void set_free_space(double bytes) { free_space_ = bytes; }

  // --- Looking at the result
  // The bytes of the file a path names, links followed; nullopt when there is none.
  std::optional<std::string> Contents(const std::string& path) const;
  // Owner, mode and link count of the file a path names, links followed.
  std::optional<FileInfo> Info(const std::string& path) const;
  std::optional<std::string> LinkTarget(const std::string& path) const;
  // True when both paths name the same file (links followed).
  bool SameFile(const std::string& a, const std::string& b) const;
  // Every name, files and symbolic links alike, sorted.
  std::vector<std::string> Paths() const;
  std::size_t OpenDescriptors() const { return fds_.size(); }
  const std::vector<DiskCall>& calls() const { return calls_; }
  int Count(DiskOp op) const;

  // --- Disk
  int OpenRead(const std::string& path, int* fd) override;
  int OpenWrite(const std::string& path, bool truncate, int* fd) override;
  int CreateTemp(const std::string& near, int* fd, std::string* name) override;
  int Read(int fd, char* buffer, std::size_t cap, std::size_t* got) override;
  int Write(int fd, const char* bytes, std::size_t n) override;
  int Sync(int fd) override;
  int Close(int fd) override;
  int Stat(int fd, FileInfo* info) override;
  int IsWritableRegular(int fd, bool* answer) override;
  int CopyOwnerAndMode(int fd, const FileInfo& like) override;
  int Resolve(const std::string& path, std::string* target) override;
  int Rename(const std::string& from, const std::string& to) override;
  int Unlink(const std::string& path) override;
  int SyncFolderOf(const std::string& path) override;
  int FreeSpace(const std::string& path, double* bytes) override;

 private:
  struct Inode {
    std::string bytes;
    mode_t mode = 0;
    uid_t uid = kUid;
    gid_t gid = kGid;
  };
  struct OpenFile {
    std::shared_ptr<Inode> inode;
    std::string path;
    bool reads = false;
    bool writes = false;
    std::size_t offset = 0;
  };
  struct Rule {
    DiskOp op;
    int nth;
    int err;
  };

  // Logs the call and returns the error injected into it, or 0.
  int Enter(DiskOp op, const std::string& path, bool truncate = false);
  int Leave(int result);
  int Follow(const std::string& path, std::string* target) const;
  std::shared_ptr<Inode> Find(const std::string& path) const;
  OpenFile* Descriptor(int fd);
  std::string PathOf(int fd) const;
  int NewDescriptor(OpenFile file);
  nlink_t LinksTo(const Inode* inode) const;
  bool Exists(const std::string& path) const;

  std::mutex mutex_;  // the Disk calls may come from two threads
  std::map<std::string, std::shared_ptr<Inode>> files_;
  std::map<std::string, std::string> symlinks_;
  std::map<int, OpenFile> fds_;
  int next_fd_ = 3;
  int temp_serial_ = 0;
  std::vector<Rule> rules_;
  std::map<DiskOp, int> counts_;
  std::vector<DiskCall> calls_;
  std::size_t read_chunk_ = static_cast<std::size_t>(-1);
  double free_space_ = 1e9;
  bool read_only_ = false;
};

}  // namespace lowtags

#include "driver/batch.h"

#include <cerrno>
#include <algorithm>
#include <new>
#include <set>
#include <utility>

#include "support/message.h"

namespace lowtags {

bool Batch::Holds(const FileInfo& file) const {
  for (const Entry& entry : entries_) {
    const FileInfo& read = entry.pending.read();
    if (read.dev == file.dev && read.ino == file.ino) return true;
  }
  return false;
}

bool Batch::Add(Pending pending, const std::string& path) {
  bytes_ += pending.read().size;
  entries_.push_back({std::move(pending), path, held_.text.size()});
  if (entries_.size() < kMaxFiles && bytes_ < kMaxBytes) return true;
  return Commit();
}

bool Batch::Commit() {
  const std::size_t trusted = SyncAll();
  std::vector<const Folder*> renamed;
  renamed.reserve(entries_.size());  // nothing to allocate once files are renamed
  std::size_t shown = 0;
  bool ok = true;
  for (std::size_t i = 0; i < entries_.size() && ok; ++i) {
    Entry& entry = entries_[i];
    Show(&shown, entry.messages_end);
    const int err = i < trusted ? entry.pending.Rename() : EIO;
    if (err == 0) {
      renamed.push_back(&entry.pending.folder());
    } else if (err == ESTALE) {
      errmsg(out_, "%s: changed while converting\n", {entry.path});
      ++changed_;
    } else {
      errmsg(out_, "%s: failed to rewrite\n", {entry.path});
      ok = false;
    }
  }
  SyncFolders(renamed);
  if (ok) Show(&shown, held_.text.size());
  entries_.clear();  // the temporary files not renamed go with them
  held_.text.clear();
  bytes_ = 0;
  return ok;
}

std::size_t Batch::SyncAll() {
  const bool own_syncs = entries_.size() <= kOwnSyncs;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].pending.SyncAndClose(!own_syncs) != 0) return i;
  }
  if (own_syncs) return entries_.size();
  // One sync of each file system holding a temporary file; the first file there is the first
  // that cannot be trusted when it fails.
  std::set<dev_t> synced;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const dev_t dev = entries_[i].pending.read().dev;
    if (!synced.insert(dev).second) continue;
    if (disk_.SyncFileSystem(entries_[i].pending.folder().fd()) != 0) {
      std::size_t first = 0;
      while (entries_[first].pending.read().dev != dev) ++first;
      return first;
    }
  }
  return entries_.size();
}

// The renames are done by now: a folder that will not sync is no reason to report the files as
// not replaced, and they are not.
void Batch::SyncFolders(const std::vector<const Folder*>& folders) {
  // Folders already synced, by device and inode; a folder not told apart is synced again.
  std::vector<std::pair<dev_t, ino_t>> synced;
  try {
    synced.reserve(folders.size());
  } catch (const std::bad_alloc&) {
  }
  for (const Folder* folder : folders) {
    FileInfo info;
    if (disk_.Stat(folder->fd(), &info) == 0) {
      const std::pair<dev_t, ino_t> id{info.dev, info.ino};
      if (std::find(synced.begin(), synced.end(), id) != synced.end()) continue;
      if (synced.size() < synced.capacity()) synced.push_back(id);
    }
    (void)disk_.Sync(folder->fd());
  }
}

void Batch::Show(std::size_t* shown, std::size_t end) {
  if (end > *shown) out_.Write(std::string_view(held_.text).substr(*shown, end - *shown));
  *shown = end;
}

}  // namespace lowtags

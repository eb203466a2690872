#include "driver/batch.h"

#include <algorithm>
#include <cerrno>
#include <exception>
#include <new>
#include <system_error>
#include <utility>

#include "support/message.h"
#include "support/temp_files.h"

namespace lowtags {

// Temporary files exist for the batch being put in place and the one being filled at once.
static_assert(2 * Batch::kMaxFiles + 2 <= TempFiles::kSlots);

namespace {

bool Same(const FileInfo& read, const FileInfo& file) {
  return read.dev == file.dev && read.ino == file.ino;
}

}  // namespace

Batch::~Batch() {
  if (flight_ && flight_->thread.joinable()) flight_->thread.join();
  if (ending_.joinable()) ending_.join();
}

void Batch::End(std::unique_ptr<Flight> flight) {
  if (ending_.joinable()) ending_.join();
  if (flight->thread.joinable() || !flight->threaded) {
    flight.reset();
    return;
  }
  try {
    ending_ = std::thread([ended = std::move(flight)]() mutable { ended.reset(); });
  } catch (const std::system_error&) {  // no thread: ended here (the lambda was not made)
  }
}

bool Batch::Holds(const FileInfo& file) const {
  for (const Entry& entry : entries_) {
    if (Same(entry.pending.read(), file)) return true;
  }
  if (!flight_) return false;
  const std::pair<dev_t, ino_t> id{file.dev, file.ino};
  return std::find(flight_->files.begin(), flight_->files.end(), id) != flight_->files.end();
}

bool Batch::Add(Pending pending, const std::string& path) {
  bytes_ += pending.read().size;
  entries_.push_back({std::move(pending), path, held_.text.size()});
  if (entries_.size() < kMaxFiles && bytes_ < kMaxBytes) return true;
  if (!Settle()) {
    Drop();
    SyncRenames();
    return false;
  }
  Launch(false);
  return true;
}

bool Batch::Commit() {
  bool ok = Settle();
  if (ok) {
    Launch(true);
    ok = Settle();
  }
  Drop();
  if (ending_.joinable()) ending_.join();
  SyncRenames();
  return ok;
}

void Batch::SyncRenames() {
  for (const auto& [dev, folder] : unsynced_) (void)disk_.SyncFileSystem(folder->fd());
  unsynced_.clear();
}

void Batch::Drop() {
  entries_.clear();  // the temporary files go with them
  held_.text.clear();
  bytes_ = 0;
}

void Batch::Launch(bool here) {
  auto flight = std::make_unique<Flight>();
  flight->results.assign(entries_.size(), Status(Status::Step::kRename, ECANCELED));
  flight->renamed.reserve(entries_.size());
  for (const Entry& entry : entries_) {
    flight->files.emplace_back(entry.pending.read().dev, entry.pending.read().ino);
  }
  flight->entries = std::move(entries_);
  flight->messages = std::move(held_.text);
  entries_.clear();
  held_.text.clear();
  bytes_ = 0;
  Flight& f = *flight;
  flight_ = std::move(flight);
  if (!here && !f.entries.empty()) {
    try {
      f.thread = std::thread([this, &f] { Apply(f); });
      f.threaded = true;
      return;
    } catch (const std::system_error&) {  // no thread to be had: the work is done here
    }
  }
  Apply(f);
}

bool Batch::Settle() {
  if (!flight_) return true;
  Flight& f = *flight_;
  if (f.thread.joinable()) f.thread.join();
  std::size_t shown = 0;
  const auto show = [&](std::size_t end) {
    if (end > shown) out_.Write(std::string_view(f.messages).substr(shown, end - shown));
    shown = end;
  };
  bool ok = true;
  for (std::size_t i = 0; i < f.entries.size() && ok; ++i) {
    show(f.entries[i].messages_end);
    if (f.results[i].code() == ESTALE) {
      ChangedWhileConverting(out_, f.entries[i].path);
      ++changed_;
    } else if (!f.results[i].ok()) {
      FailedToRewrite(out_, f.entries[i].path);
      ok = false;
    }
  }
  if (ok) show(f.messages.size());
  End(std::move(flight_));
  return ok;
}

// Runs on the second thread: it allocates nothing, and reports through the flight alone.
void Batch::Apply(Flight& f) {
  std::size_t i = 0;
  const bool own_syncs = f.entries.size() <= kOwnSyncs;
  try {
    const std::size_t trusted = SyncAll(f.entries);
    for (; i < f.entries.size(); ++i) {
      const Status renamed =
          i < trusted ? f.entries[i].pending.Rename() : Status(Status::Step::kSync, EIO);
      f.results[i] = renamed;
      if (renamed.ok()) f.renamed.push_back(&f.entries[i].pending.folder());
      if (!renamed.ok() && renamed.code() != ESTALE) break;
    }
  } catch (const std::exception&) {  // a disk that allocates (the tests' fake) ran out
    if (i < f.results.size()) f.results[i] = Status(Status::Step::kRename, ENOMEM);
  }
  if (own_syncs || !AwaitSync(f)) SyncFolders(f.renamed);
}

// The renames of a batch synced with syncfs wait for the next one; false when they cannot be
// noted, and their folders must be synced now.
bool Batch::AwaitSync(const Flight& f) {
  try {
    for (const Entry& entry : f.entries) {
      const dev_t dev = entry.pending.read().dev;
      const auto on_dev = [dev](const auto& noted) { return noted.first == dev; };
      if (std::none_of(unsynced_.begin(), unsynced_.end(), on_dev)) {
        unsynced_.emplace_back(dev, entry.pending.shared_folder());
      }
    }
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

std::size_t Batch::SyncAll(std::vector<Entry>& entries) {
  const bool own_syncs = entries.size() <= kOwnSyncs;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].pending.SyncAndClose(!own_syncs).ok()) return i;
  }
  if (own_syncs) return entries.size();
  // One sync of each file system holding a temporary file; the first file there is the first
  // that cannot be trusted when it fails.
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const auto same_device = [&](const Entry& e) {
      return e.pending.read().dev == entries[i].pending.read().dev;
    };
    const auto first = std::find_if(entries.begin(), entries.end(), same_device);
    if (first != entries.begin() + static_cast<std::ptrdiff_t>(i)) continue;
    if (disk_.SyncFileSystem(entries[i].pending.folder().fd()) != 0) return i;
  }
  // Those syncs made the renames of earlier batches durable too, where they share a device.
  std::erase_if(unsynced_, [&](const auto& noted) {
    return std::any_of(entries.begin(), entries.end(),
                       [&](const Entry& e) { return e.pending.read().dev == noted.first; });
  });
  return entries.size();
}

// The renames are done by now: a folder that will not sync is no reason to report the files as
// not replaced, and they are not. A folder is synced once however many of its files were renamed.
void Batch::SyncFolders(const std::vector<const Folder*>& folders) {
  std::vector<std::pair<dev_t, ino_t>> synced;
  try {
    synced.reserve(folders.size());
  } catch (const std::bad_alloc&) {
  }
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const Folder* folder = folders[i];
    if (std::find(folders.begin(), folders.begin() + static_cast<std::ptrdiff_t>(i), folder) !=
        folders.begin() + static_cast<std::ptrdiff_t>(i)) {
      continue;  // the same descriptor, synced already
    }
    FileInfo info;
    if (disk_.Stat(folder->fd(), &info) == 0) {
      const std::pair<dev_t, ino_t> id{info.dev, info.ino};
      if (std::find(synced.begin(), synced.end(), id) != synced.end()) continue;
      if (synced.size() < synced.capacity()) synced.push_back(id);
    }
    (void)disk_.Sync(folder->fd());
  }
}

}  // namespace lowtags

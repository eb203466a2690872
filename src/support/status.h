// The outcome of a step above the disk: ok, or the step that failed with its errno-like cause.
#pragma once

namespace lowtags {

class Status {
 public:
  // The steps callers tell apart.
  enum class Step : unsigned char {
    kNone,    // nothing failed
    kOpen,    // the name leads to no file that can be opened
    kKind,    // the file is no regular file (EINVAL)
    kCreate,  // the file may not be written, or no temporary file can be made beside it
    kRead,
    kWrite,
    kSync,
    kClose,
    kRoom,    // the drive shows no free space, or cannot be asked (ENOSPC)
    kCopy,    // owner, mode or an extended attribute could not be carried over
    kRename,  // ESTALE when the name no longer gives the file as it was read
  };

  Status() = default;
  // Ok when err is 0.
  Status(Step step, int err) : step_(err == 0 ? Step::kNone : step), code_(err) {}

  bool ok() const { return code_ == 0; }
  Step step() const { return step_; }
  int code() const { return code_; }
  bool operator==(const Status&) const = default;

 private:
  Step step_ = Step::kNone;
  int code_ = 0;
};

}  // namespace lowtags

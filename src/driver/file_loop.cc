#include "driver/file_loop.h"

#include <array>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

#include "convert/converter.h"
#include "convert/rewrite.h"
#include "driver/batch.h"
#include "driver/checked_close.h"
#include "driver/command_line.h"
#include "driver/progress.h"
#include "driver/usage.h"
#include "support/cp932_utf8.h"
#include "support/encoding_guard.h"
#include "support/message.h"
#include "support/text_reader.h"
#include "support/text_writer.h"

namespace lowtags {

namespace {

// kFailed: the file got a message of its own, and the run will end with status 2.
enum class FileOutcome { kConverted, kFailed, kStop };

// The usage lines are printed as they are.
void PrintLine(ByteSink& out, std::string_view text) {
  out.Write(text);
  out.Write("\n");
}

// Standard input is read where it stands and never closed: it was not opened here.
int OpenInput(Disk& disk, const std::string& name, int* fd) {
  if (name == kStdinName) {
    *fd = 0;
    return 0;
  }
  return disk.OpenRead(name, fd);
}

// The checked close (standard input stays open).
Status CloseInput(Disk& disk, int fd, const std::string& name, ByteSink& out) {
  if (name == kStdinName) return CheckStdinRoom(disk, out);
  return CloseChecked(disk, fd, name, out);
}

FileOutcome ConvertFile(const std::string& name, Disk& disk, ByteSink& out,
                        const Converter& converter, const OutputForm& form) {
  int fd = -1;
  if (OpenInput(disk, name, &fd) != 0) {
    NotFound(out, name);
    return FileOutcome::kFailed;
  }
  PieceReader input(disk, fd);
  int result =
      converter.Convert(input, name, out, nullptr, form) == ConvResult::kConverted ? 0 : -1;
  const Status closed = CloseInput(disk, fd, name, out);
  if (result == 0 && closed.ok()) return FileOutcome::kConverted;
  FailedToConvert(out, name);
  return FileOutcome::kFailed;
}

// Opens the file for -w. A file whose new text still waits in the batch is put in place first,
// so that it is converted again from that text.
FileOutcome OpenToRewrite(const std::string& name, Disk& disk, Batch& batch, Source* source) {
  ByteSink& out = batch.messages();
  for (;;) {
    if (const Status opened = OpenSource(disk, name, source, &batch.last_folder()); !opened.ok()) {
      if (opened.step() == Status::Step::kKind) {
        NotRegularFile(out, name);
      } else {
        NotFound(out, name);
      }
      return FileOutcome::kFailed;
    }
    if (!batch.Holds(source->info)) return FileOutcome::kConverted;
    source->Reset();
    if (!batch.Commit()) return FileOutcome::kStop;
  }
}

// The verdict on the bytes of a file opened for -w, as stored, read from the start without
// moving its position, up to the size it was opened with: a small file costs one read. A file
// that cannot be read is left to the conversion, which reads it again and reports that, as it
// reports a file that changes meanwhile.
NotSjis JudgeStoredText(Disk& disk, int fd, off_t size) {
  EncodingGuard guard;
  std::array<char, 64 * 1024> block;  // no allocation that could fail
  off_t at = 0;
  std::size_t got = 0;
  while (at < size && !guard.Settled()) {
    if (disk.ReadAt(fd, at, block.data(), block.size(), &got) != 0) return NotSjis::kNone;
    if (got == 0) break;
    guard.Feed(std::string_view(block.data(), got));
    at += static_cast<off_t>(got);
  }
  return guard.Verdict();
}

// Converts a file under -w; its size goes to *bytes.
FileOutcome RewriteFile(const std::string& name, Disk& disk, Batch& batch, off_t* bytes,
                        const Converter& converter, const OutputForm& form) {
  ByteSink& out = batch.messages();
  // Standard input has no file to write back into.
  if (name == kStdinName) {
    NotRegularFile(out, name);
    return FileOutcome::kFailed;
  }
  Source source;
  if (const FileOutcome opened = OpenToRewrite(name, disk, batch, &source);
      opened != FileOutcome::kConverted) {
    return opened;
  }
  *bytes = source.info.size;
  if (const NotSjis verdict = JudgeStoredText(disk, source.fd, source.info.size);
      verdict != NotSjis::kNone) {
    // Under --utf8 a file in UTF-8 has been converted already: it is done.
    if (verdict == NotSjis::kUtf8 && form.utf8) return FileOutcome::kConverted;
    NotShiftJis(out, name, NotSjisWord(verdict));
    return FileOutcome::kFailed;
  }
  PieceReader input(disk, source.fd);
  Replacement replacement(disk, source, form.line_ends());
  if (converter.Convert(input, name, out, &replacement, form) != ConvResult::kConverted) {
    FailedToConvert(out, name);
    return FileOutcome::kFailed;
  }
  std::optional<Pending> pending;
  if (const Status finished = replacement.Finish(&pending); !finished.ok()) {
    if (finished.step() == Status::Step::kCreate) {
      CannotOpenToWrite(out, name);
    } else {
      FailedToRewrite(out, name);
    }
    return FileOutcome::kStop;
  }
  if (!pending) return FileOutcome::kConverted;  // the new text is the old
  pending->KeepOpen(std::exchange(source.fd, -1));
  return batch.Add(std::move(*pending), name) ? FileOutcome::kConverted : FileOutcome::kStop;
}

int RewriteAll(const std::vector<std::string>& files, Disk& disk, ByteSink& out, int err_fd,
               const Converter& converter, const OutputForm& form) {
  Batch batch(disk, out);
  Progress progress(disk, err_fd, disk.IsTerminal(err_fd), files.size(), Progress::Clock::now());
  int status = 0;
  bool any_failed = false;
  for (const std::string& name : files) {
    off_t bytes = 0;
    const FileOutcome outcome = RewriteFile(name, disk, batch, &bytes, converter, form);
    if (outcome == FileOutcome::kStop) {
      status = 1;
      break;
    }
    any_failed |= outcome == FileOutcome::kFailed;
    progress.FileDone(bytes, Progress::Clock::now());
  }
  // A stop still puts the files before it in place.
  if (!batch.Commit()) status = 1;
  progress.Clear();
  if (status == 0 && (any_failed || batch.changed_files() > 0)) status = 2;
  return status;
}

int PrintHelp(Charset charset, ByteSink& out) {
  std::string text;
  if (const int error = HelpText(charset, &text); error != 0) {
    CannotConvertHelp(out, std::strerror(error));
    return 1;
  }
  out.Write(text);
  return 0;
}

int Run(const CommandLine& line, Disk& disk, ByteSink& out, int err_fd, Charset charset) {
  switch (line.kind) {
    case CommandLine::Kind::kUsage:
      for (const std::string_view text : usage) PrintLine(out, text);
      return 0;
    case CommandLine::Kind::kSynopsis: PrintLine(out, usage[kSynopsisLine]); return 1;
    case CommandLine::Kind::kUnknownOption: UnknownOption(out, line.bad_option); return 1;
    case CommandLine::Kind::kUnknownLongOption:
      UnknownLongOption(out, line.bad_long_option);
      return 1;
    case CommandLine::Kind::kHelp: return PrintHelp(charset, out);
    case CommandLine::Kind::kVersion: PrintLine(out, kVersionLine); return 0;
    case CommandLine::Kind::kFiles: break;
  }
  if (line.form.utf8 && !line.files.empty()) {
    try {
      (void)Cp932ToUtf8::Get();
    } catch (const std::runtime_error& e) {
      LibraryFault(out, e.what());
      return 1;
    }
  }
  const Converter converter(line.options, FastestEngine());
  if (line.options.overwrite) {
    return RewriteAll(line.files, disk, out, err_fd, converter, line.form);
  }
  bool any_failed = false;
  for (const std::string& name : line.files) {
    const FileOutcome outcome = ConvertFile(name, disk, out, converter, line.form);
    if (outcome == FileOutcome::kStop) return 1;
    any_failed |= outcome == FileOutcome::kFailed;
  }
  return any_failed ? 2 : 0;
}

}  // namespace

int RunLowtags(std::span<const char* const> args, Disk& disk, int out_fd, int err_fd,
               Charset charset) {
  const CommandLine line = ParseCommandLine(args);
  TextWriter out(disk, out_fd, TextWriter::kBlock, line.form.line_ends());
  int status = 1;
  try {
    status = Run(line, disk, out, err_fd, charset);
  } catch (const std::bad_alloc&) {
    // Every file waiting in a batch was left as it was, its temporary file removed.
    static constexpr std::string_view kNoMemory = "lowtags: out of memory\n";
    disk.Write(err_fd, kNoMemory.data(), kNoMemory.size());
  }
  if (const Status flushed = out.Flush(); !flushed.ok()) {
    std::string text = "lowtags: write error on standard output: ";
    text += std::strerror(flushed.code());
    text += '\n';
    disk.Write(err_fd, text.data(), text.size());
    status = 1;
  }
  return status;
}

}  // namespace lowtags

#include "driver/file_loop.h"

#include <cstring>
#include <string>

#include "convert/conv_html.h"
#include "convert/options.h"
#include "driver/checked_close.h"
#include "driver/command_line.h"
#include "driver/usage.h"
#include "support/line_store.h"
#include "support/message.h"
#include "support/text_reader.h"
#include "support/text_writer.h"

namespace lowtags {

namespace {

// kFailed: the file got a message of its own, and the run will end with status 2.
enum class FileOutcome { kConverted, kFailed, kStop };

// The usage lines are printed as they are, not through the message formatter.
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

// The checked close in standard-output mode (standard input, never under -w, stays open), the
// plain close under -w; the checked close's result, or 0.
int CloseInput(Disk& disk, int fd, const std::string& name, ByteSink& out) {
  if (name == kStdinName) return CheckStdinRoom(disk, out);
  if (Options.overwrite) {
    disk.Close(fd);
    return 0;
  }
  return Fclose(disk, fd, name, out);
}

FileOutcome ConvertFile(const std::string& name, Disk& disk, ByteSink& out) {
  // Standard input has no file to write back into.
  if (name == kStdinName && Options.overwrite) {
    errmsg(out, "%s: not a regular file\n", {name});
    return FileOutcome::kFailed;
  }
  int fd = -1;
  if (OpenInput(disk, name, &fd) != 0) {
    errmsg(out, "%s: not found\n", {name});
    return FileOutcome::kFailed;
  }
  PieceReader input(disk, fd);
  const ConvResult converted = conv_html(input, name, out, disk);
  if (converted == ConvResult::kStop) {
    disk.Close(fd);
    return FileOutcome::kStop;
  }
  int result = converted == ConvResult::kConverted ? 0 : -1;
  result |= CloseInput(disk, fd, name, out);
  if (result == 0) return FileOutcome::kConverted;
  errmsg(out, "%s: failed to convert\n", {name});
  return FileOutcome::kFailed;
}

int PrintHelp(Charset charset, ByteSink& out) {
  std::string text;
  if (const int error = HelpText(charset, &text); error != 0) {
    errmsg(out, "cannot convert the help text: %s\n", {std::strerror(error)});
    return 1;
  }
  out.Write(text);
  return 0;
}

int Run(std::span<const char* const> args, Disk& disk, ByteSink& out, Charset charset) {
  const CommandLine line = ParseCommandLine(args);
  switch (line.kind) {
    case CommandLine::Kind::kUsage:
      for (const std::string_view text : usage) PrintLine(out, text);
      return 0;
    case CommandLine::Kind::kSynopsis:
      PrintLine(out, usage[kSynopsisLine]);
      return 1;
    case CommandLine::Kind::kUnknownOption:
      errmsg(out, "%c: unknown option\n", {line.bad_option});
      return 1;
    case CommandLine::Kind::kUnknownLongOption:
      errmsg(out, "%s: unknown option\n", {line.bad_long_option});
      return 1;
    case CommandLine::Kind::kHelp:
      return PrintHelp(charset, out);
    case CommandLine::Kind::kVersion:
      PrintLine(out, kVersionLine);
      return 0;
    case CommandLine::Kind::kFiles:
      break;
  }
  // Every line of a rewritten file is kept, repeated lines included.
  name_lst_dup_check = 0;
  bool any_failed = false;
  for (const std::string& name : line.files) {
    const FileOutcome outcome = ConvertFile(name, disk, out);
    if (outcome == FileOutcome::kStop) return 1;
    any_failed |= outcome == FileOutcome::kFailed;
  }
  return any_failed ? 2 : 0;
}

}  // namespace

int RunLowtags(std::span<const char* const> args, Disk& disk, int out_fd, int err_fd,
               Charset charset) {
  TextWriter out(disk, out_fd);
  int status = Run(args, disk, out, charset);
  if (const int error = out.Flush(); error != 0) {
    std::string text = "lowtags: write error on standard output: ";
    text += std::strerror(error);
    text += '\n';
    disk.Write(err_fd, text.data(), text.size());
    status = 1;
  }
  return status;
}

}  // namespace lowtags

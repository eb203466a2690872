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

enum class FileOutcome { kNext, kStop };

// The usage lines are printed as they are, not through the message formatter.
void PrintLine(ByteSink& out, std::string_view text) {
  out.Write(text);
  out.Write("\n");
}

FileOutcome ConvertFile(const std::string& name, Disk& disk, ByteSink& out) {
  int fd = -1;
  if (disk.OpenRead(name, &fd) != 0) {
    errmsg(out, "%s: not found\n", {name});
    return FileOutcome::kNext;
  }
  PieceReader input(disk, fd);
  const ConvResult converted = conv_html(input, name, out, disk);
  if (converted == ConvResult::kStop) {
    disk.Close(fd);
    return FileOutcome::kStop;
  }
  int result = converted == ConvResult::kConverted ? 0 : -1;
  if (Options.overwrite) {
    disk.Close(fd);
  } else {
    result |= Fclose(disk, fd, name, out);
  }
  if (result != 0) errmsg(out, "%s: failed to convert\n", {name});
  return FileOutcome::kNext;
}

int Run(std::span<const char* const> args, Disk& disk, ByteSink& out) {
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
    case CommandLine::Kind::kFiles:
      break;
  }
  // Every line of a rewritten file is kept, repeated lines included.
  name_lst_dup_check = 0;
  for (const std::string& name : line.files) {
    if (ConvertFile(name, disk, out) == FileOutcome::kStop) return 1;
  }
  return 0;
}

}  // namespace

int RunLowtags(std::span<const char* const> args, Disk& disk, int out_fd, int err_fd) {
  TextWriter out(disk, out_fd);
  int status = Run(args, disk, out);
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

#include <langinfo.h>

#include <clocale>
#include <span>
#include <string_view>

#include "driver/file_loop.h"
#include "support/disk.h"
#include "support/heap.h"
#include "support/temp_files.h"

namespace {

// Only the codeset is wanted from the user's locale: everything else keeps the C locale's rules.
lowtags::Charset TerminalCharset() {
  const bool utf8 =
      std::setlocale(LC_ALL, "") != nullptr && std::string_view(::nl_langinfo(CODESET)) == "UTF-8";
  std::setlocale(LC_ALL, "C");
  return utf8 ? lowtags::Charset::kUtf8 : lowtags::Charset::kShiftJis;
}

}  // namespace

int main(int argc, char** argv) {
  const lowtags::Charset charset = TerminalCharset();
  lowtags::KeepFreedMemory();
  // Every temporary file of the run is listed here until it is renamed or removed, so that a
  // signal that ends the run can remove them all.
  lowtags::TempFiles temps;
  lowtags::InstallSignalHandlers(&temps);
  lowtags::PosixDisk disk(&temps);
  const std::span<const char* const> args(argv + 1,
                                          static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
  const int status = lowtags::RunLowtags(args, disk, 1, 2, charset);
  lowtags::InstallSignalHandlers(nullptr);
  return status;
}

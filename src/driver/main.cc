#include <span>

#include "driver/file_loop.h"
#include "support/disk.h"

int main(int argc, char** argv) {
  lowtags::PosixDisk disk;
  const std::span<const char* const> args(argv + 1, static_cast<std::size_t>(argc > 0 ? argc - 1 : 0));
  return lowtags::RunLowtags(args, disk, 1, 2);
}

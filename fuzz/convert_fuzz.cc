// libFuzzer target: the converter, every way production can run it, against the literal reference
// converter, then the whole -w path of the program. Input: 16 little-endian option bits, then the
// file; bits 0-12 stand for "abcfijkmnorsu", bit 13 for w, bits 14-15 pick the read size or, under
// w, the disk call that fails. Checked: every way gives the reference's bytes (a difference is
// printed as C strings); converted text is at most twice the file plus a little; under w a
// converted file holds what standard output shows, a failed one is as it was, and no stray file
// or descriptor is left.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "convert/reference_converter.h"
#include "support/encoding_guard.h"
#include "support/fake_disk.h"

namespace lowtags {
namespace {

const std::string kPath = "page.htm";

// A broken property aborts, so that libFuzzer keeps the input.
void Require(bool ok, const char* property) {
  if (ok) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

// The whole -w path of the program on the fake disk, with one disk call failing by `selector`;
// `shown` is the file as standard output shows it, `failed` whether it converts there.
void CheckOverwrite(const std::string& letters, std::string_view file, unsigned selector,
                    const std::string& shown, bool failed) {
  FakeDisk disk;
  disk.AddFile(kPath, file);
  constexpr DiskOp kOps[] = {DiskOp::kWrite, DiskOp::kWrite, DiskOp::kRename, DiskOp::kRead};
  if (selector != 0) disk.FailCall(kOps[selector], selector == 3 ? 2 : 1, selector == 1 ? 28 : 5);
  const testing::ProgramRun run = testing::RunOnDisk(disk, {"-" + letters + "w", kPath});
  Require(disk.OpenDescriptors() == 0, "every descriptor closed");
  Require(disk.Paths() == std::vector<std::string>{kPath}, "no stray file left");
  const std::string after = *disk.Contents(kPath);
  if (run.status != 0 || !run.out.empty() || !run.err.empty()) {
    Require(after == file, "a file that failed is unchanged");
    Require(selector != 0 || failed || CheckNotSjis(file) != NotSjis::kNone,
            "fails unfaulted only where stdout fails or the file is no Shift_JIS text");
    return;
  }
  Require(!failed && after == reference::WithCrLf(shown), "rewritten as stdout shows");
}

}  // namespace
}  // namespace lowtags

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags;
  using namespace lowtags::reference;
  if (size < 2) return 0;
  const unsigned bits = data[0] | (static_cast<unsigned>(data[1]) << 8);
  std::string letters;
  for (std::size_t i = 0; i < kOptionLetters.size(); ++i) {
    if ((bits >> i & 1U) != 0) letters += kOptionLetters[i];
  }
  const bool overwrite = (bits >> 13 & 1U) != 0;
  const unsigned selector = bits >> 14 & 3U;
  constexpr std::size_t kChunks[] = {std::size_t{1} << 20, 1, 7, 4093};
  const std::size_t chunk = overwrite ? kChunks[0] : kChunks[selector];
  const std::string_view file(reinterpret_cast<const char*>(data) + 2, size - 2);
  const OptionSet options = OptionsFromLetters(letters);
  const std::string difference = Difference(options, file, chunk);
  Require(difference.empty(), ("options \"" + letters + "\": " + difference).c_str());
  bool failed = false;
  const std::string shown = ReferenceConvert(options, file, &failed);
  Require(failed || shown.size() <= 2 * file.size() + 16, "converted text at most twice the file");
  if (overwrite) CheckOverwrite(letters, file, selector, shown, failed);
  return 0;
}

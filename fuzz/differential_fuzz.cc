// libFuzzer target: the converter, every way production can run it, against the literal
// reference converter. The low 13 bits of the first two bytes pick the options (one per letter of
// "abcfijkmnorsu"), the top 3 bits how many bytes each read returns; the rest is the file. A
// difference prints both outputs as C strings and aborts, so the fuzzer keeps the input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "convert/reference_converter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lowtags::reference;
  constexpr std::size_t kChunks[8] = {std::size_t{1} << 20, 1, 2, 3, 7, 64, 4096, 9999};
  if (size < 2) return 0;
  const unsigned bits = static_cast<unsigned>(data[0]) | (static_cast<unsigned>(data[1]) << 8);
  std::string letters;
  for (std::size_t i = 0; i < kOptionLetters.size(); ++i) {
    if ((bits >> i) & 1U) letters += kOptionLetters[i];
  }
  const std::size_t chunk = kChunks[(bits >> 13) & 7U];
  const std::string_view file(reinterpret_cast<const char*>(data + 2), size - 2);
  const std::string difference = Difference(OptionsFromLetters(letters), file, chunk);
  if (difference.empty()) return 0;
  std::fprintf(stderr, "options \"%s\" read chunk %zu: %s\n", letters.c_str(), chunk,
               difference.c_str());
  std::abort();
}

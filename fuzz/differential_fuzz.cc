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
  bool want_failed = false;
  const std::string reference = ReferenceConvert(OptionsFromLetters(letters), file, &want_failed);
  for (const Route& route : AllRoutes()) {
    bool got_failed = false;
    const std::string want = AsWritten(route, reference);
    const std::string got =
        ProductionConvert(route, OptionsFromLetters(letters), file, &got_failed, chunk);
    if (want == got && want_failed == got_failed) continue;
    std::fprintf(stderr, "%s differs, options \"%s\" read chunk %zu\n  input: \"%s\"\n",
                 NameOf(route).c_str(), letters.c_str(), chunk, Escape(file).c_str());
    std::fprintf(stderr, "  reference:  \"%s\" failed=%d\n  production: \"%s\" failed=%d\n",
                 Escape(want).c_str(), want_failed, Escape(got).c_str(), got_failed);
    std::abort();
  }
  return 0;
}

// The search fuzz target's properties (the searches, the boundary test and the backward copy
// against a walk by characters) on random inputs made of the bytes that matter to Shift_JIS.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "../../fuzz/sjis_search_fuzz.cc"

namespace lowtags {
namespace {

TEST(SjisSearchTest, FuzzPropertiesHoldOnRandomInputs) {
  const std::string alphabet = {'a',    '>',    '"',    0x5C,   0x00,   '\x81', '\x83',
                                '\x9F', '\xE0', '\xFC', '\x80', '\xA1', '\xFD'};
  std::mt19937 rng(12345);
  for (int round = 0; round < 20000; ++round) {
    const std::size_t size = rng() % 61 * (round % 10 == 0 ? 8 : 1);
    const int count = static_cast<int>(rng() % 15) - 2;
    // Only the low byte of the searched value counts: a char, a negative int, or one past 255.
    std::string input = {alphabet[rng() % alphabet.size()],
                         "\x00\xFF\x01"[rng() % 3],
                         static_cast<char>(rng() % (size + 3)),
                         static_cast<char>(rng() % (size + 3)),
                         static_cast<char>(count),
                         static_cast<char>(count < 0 ? 0xFF : 0)};
    for (std::size_t i = 0; i < size; ++i) input += alphabet[rng() % alphabet.size()];
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
  }
}

}  // namespace
}  // namespace lowtags

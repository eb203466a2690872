// How the converter walks a page: the character-by-character rules alone, or with a block walk
// that takes the common shapes of a page 64 bytes at a time, and on top of a block walk whole
// lines straight from the read buffer. Every engine gives the same bytes; they differ in speed.
#pragma once

#include <string>
#include <vector>

namespace lowtags {

enum class Walk {
  kCharacters,  // no block walk: the rules a character at a time
  kPortable,    // the block walk on 16-byte vectors, anywhere
  kAvx512,      // the block walk on 64-byte vectors, where the processor has AVX-512BW
};

struct Engine {
  Walk walk = Walk::kCharacters;
  bool whole_lines = false;  // only with a block walk
  bool operator==(const Engine&) const = default;
};

// True when this build on this processor can run the walk.
bool Available(Walk walk);

// Every engine this build on this processor can run, the fastest last.
std::vector<Engine> AvailableEngines();

// The fastest engine this build on this processor can run.
Engine FastestEngine();

// A short name such as "avx512+lines", for test names.
std::string NameOf(const Engine& engine);

}  // namespace lowtags

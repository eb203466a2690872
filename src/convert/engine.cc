#include "convert/engine.h"

#include "convert/plain_scan.h"

namespace lowtags {

bool Available(Walk walk) { return walk != Walk::kAvx512 || Avx512WalkAvailable(); }

std::vector<Engine> AvailableEngines() {
  std::vector<Engine> engines = {{Walk::kCharacters, false}};
  for (const Walk walk : {Walk::kPortable, Walk::kAvx512}) {
    if (!Available(walk)) continue;
    engines.push_back({walk, false});
    engines.push_back({walk, true});
  }
  return engines;
}

Engine FastestEngine() {
  return {Available(Walk::kAvx512) ? Walk::kAvx512 : Walk::kPortable, true};
}

std::string NameOf(const Engine& engine) {
  static constexpr const char* kWalks[] = {"characters", "portable", "avx512"};
  std::string name = kWalks[static_cast<int>(engine.walk)];
  return engine.whole_lines ? name + "_lines" : name;
}

}  // namespace lowtags

// The fuzz targets' property check: a broken property aborts, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace lowtags {

inline void Require(bool ok, const char* property) {
  if (ok) return;
  std::fprintf(stderr, "property violated: %s\n", property);
  std::abort();
}

}  // namespace lowtags

// The fuzz targets' property check: a broken property aborts, so that libFuzzer keeps the input.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace lowtags {

inline void Require(bool ok, const char* property) {
  if (ok) return;
  std::fprintf(stderr, "%s: property violated: %s\n", program_invocation_short_name, property);
  std::abort();
}

}  // namespace lowtags

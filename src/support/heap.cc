#include "support/heap.h"

#include <malloc.h>

namespace lowtags {

void KeepFreedMemory() {
  (void)::mallopt(M_TRIM_THRESHOLD, 64 << 20);
  (void)::mallopt(M_MMAP_THRESHOLD, 32 << 20);
}

}  // namespace lowtags

// How freed memory is kept: the buffers of each file are freed and made again for the next.
#pragma once

namespace lowtags {

// Keeps freed memory in the process: without this, glibc hands the top of the heap back to the
// system after every small file, and large buffers to mmap, and faults them in again each time.
void KeepFreedMemory();

}  // namespace lowtags

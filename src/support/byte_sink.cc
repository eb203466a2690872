#include "support/byte_sink.h"

#include <cstring>

namespace lowtags {

void ByteSink::WriteCrLf(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size()) {
    const void* cr = std::memchr(text.data() + at, '\r', text.size() - at);
    const std::size_t stop =
        cr != nullptr ? static_cast<std::size_t>(static_cast<const char*>(cr) - text.data())
                      : text.size();
    Write(text.substr(at, stop - at));
    at = stop + 1;
  }
}

}  // namespace lowtags

// Where finished bytes go: standard output, a rewritten file, a test's string.
#pragma once

#include <string_view>

namespace lowtags {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes the bytes as they are; line-end translation is the sink's own business.
  virtual void Write(std::string_view bytes) = 0;
};

}  // namespace lowtags

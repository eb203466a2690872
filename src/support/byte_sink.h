// Where finished bytes go: standard output, a rewritten file, a test's string.
#pragma once

#include <span>
#include <string_view>

namespace lowtags {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Takes the bytes as they are; line-end translation is the sink's own business.
  virtual void Write(std::string_view bytes) = 0;
  // The same for a converted line, whose only newline, if any, is its last byte; a sink may
  // use that to skip a search.
  virtual void WriteLine(std::string_view line) { Write(line); }
  // Room for up to n bytes of final text (every newline already CR LF) straight in the buffer
  // of a sink that writes newlines as CR LF, filled by the caller and handed over with Filled;
  // empty when the sink has no such buffer, or none that large.
  virtual std::span<char> Room(std::size_t /*n*/) { return {}; }
  virtual void Filled(std::size_t /*n*/) {}
};

}  // namespace lowtags

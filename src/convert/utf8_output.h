// The finished text of a page, in UTF-8: its encoding declarations made UTF-8, then converted.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/byte_sink.h"
#include "support/cp932_utf8.h"

namespace lowtags {

// Takes a page's finished text in code page 932, newline as LF, and hands it on to `out` in
// UTF-8. The head is held back until it is decided (see DeclareUtf8), then the rest streams
// through in blocks. A sequence that does not map stops the page: the lines before the one that
// holds it have been handed on, the rest is dropped. Memory stays within the bound of the head
// and a few blocks, whatever the size of the page.
class Utf8Output : public ByteSink {
 public:
  // Throws std::runtime_error when the C library cannot convert from CP932.
  explicit Utf8Output(ByteSink& out);

  void Write(std::string_view bytes) override;
  // Room for final text (newlines CR LF) once the head is decided, when `out` takes final text.
  std::span<char> Room(std::size_t n) override;
  void Filled(std::size_t n) override;
  // Hands on everything held back; a lead byte left at the very end does not map. False when
  // some text did not map. Call it before any message that must follow the text.
  bool Finish();
  bool failed() const { return failed_; }
  // The line of the text, from 1, that holds the first sequence that did not map.
  long long failed_line() const { return failed_line_; }

 private:
  // final_text: the newlines are CR LF already.
  void Convert(std::string_view bytes, bool final_text = false);
  void ConvertSlice(std::string_view bytes, bool final_text);
  // Marks the page failed on the line after the newlines converted so far.
  void Fail();

  ByteSink& out_;
  const Cp932ToUtf8& table_;
  bool head_decided_ = false;
  std::string head_;
  char carry_ = 0;  // a lead byte whose second byte is still to come
  bool carrying_ = false;
  long long lines_ = 0;  // newlines converted so far
  bool failed_ = false;
  long long failed_line_ = 0;
  std::vector<char> block_;
  std::vector<char> room_;
};

// A line of text for a message in UTF-8; a byte that does not map becomes '?'. When the message
// could not hold it whole after `prefix` bytes, it is cut where the message formatter would cut
// it, or a little before, so that no character is cut in two.
std::string MessageLine(std::string_view cp932, std::size_t prefix);

}  // namespace lowtags

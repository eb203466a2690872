// Helpers shared by the tests: byte sinks, temporary folders, running the converter and the
// program on bytes.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "convert/reference_converter.h"
#include "support/byte_sink.h"
#include "support/fake_disk.h"

namespace lowtags::testing {

class StringSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override { text.append(bytes); }
  std::string text;
};

// A fresh folder under the system's temporary folder, removed with its content at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes bytes to a file in the folder and returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);

inline std::string Repeat(std::string_view unit, std::size_t times) {
  std::string s;
  while (times-- > 0) s += unit;
  return s;
}

using reference::WithCrLf;

// Text in UTF-8 turned into code page 932 bytes by the C library (an independent source).
std::string Sjis(std::string_view utf8);

// The bytes converted by the C library's iconv from one code set to another; throws when they
// do not convert.
std::string Recode(std::string_view bytes, const char* from, const char* to);

// Allocations made by f; when fail_at >= 0, the allocation with that number (from 0) throws
// std::bad_alloc, so that running out of memory can be tested.
long Allocations(const std::function<void()>& f, long fail_at = -1);

// Runs the built program with the arguments, in folder `cwd`, standard input from /dev/null.
ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& cwd = ".");

// Runs `script` with /bin/sh in folder `cwd`, "$0" being the program and "$as" nothing, or a
// command that runs it as nobody when root runs the tests (root may write anything).
ProgramRun RunShell(const std::string& script, const std::string& cwd);

}  // namespace lowtags::testing

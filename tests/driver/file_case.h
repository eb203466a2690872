// One page converted by the real program: options, file content, exact standard output.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace lowtags {

struct FileCase {
  const char* name;
  std::vector<std::string> options;
  std::string content;
  std::string out;
  int status = 0;  // 2 when the page fails
};

inline void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

// Writes the content to page.htm in a fresh folder, runs lowtags with the options and the name,
// and expects `status`, exactly `out` on standard output and nothing on standard error.
class FileTest : public ::testing::TestWithParam<FileCase> {};

inline std::string FileCaseName(const ::testing::TestParamInfo<FileCase>& info) {
  return info.param.name;
}

}  // namespace lowtags

// The program over a site of real pages: --utf8 and --lf against the plain output, and the
// whole site migrated to UTF-8 with -w, twice.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::Recode;
using testing::RunProgram;

// The page names, sorted; none when the site is not there.
std::vector<std::string> Pages(const std::string& corpus) {
  std::vector<std::string> pages;
  if (!std::filesystem::is_directory(corpus)) return pages;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    if (entry.path().extension() == ".htm") pages.push_back(entry.path().filename().string());
  }
  std::sort(pages.begin(), pages.end());
  return pages;
}

const std::string kCorpus = LOWTAGS_SOURCE_DIR "/../shared/corpus";

// The declarations of these pages all read "charset=Shift_JIS", in some case.
TEST(CorpusTest, Utf8AndLfAgreeWithThePlainOutput) {
  std::vector<std::string> args = Pages(kCorpus);
  if (args.empty()) GTEST_SKIP() << "no pages in " << kCorpus;
  const ProgramRun plain = RunProgram(args, kCorpus);
  args.insert(args.begin(), "--lf");
  const ProgramRun lf = RunProgram(args, kCorpus);
  args.front() = "--utf8";
  const ProgramRun utf8 = RunProgram(args, kCorpus);
  EXPECT_EQ(plain.status + utf8.status + lf.status, 0);
  std::string lf_text = plain.out;
  std::erase(lf_text, '\r');
  EXPECT_TRUE(lf.out == lf_text);
  std::string expected = Recode(plain.out, "CP932", "UTF-8");
  std::string lower = expected;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  std::size_t declarations = 0;
  for (std::size_t at = lower.rfind("charset=shift_jis"); at != std::string::npos;
       at = at == 0 ? std::string::npos : lower.rfind("charset=shift_jis", at - 1)) {
    expected.replace(at + 8, 9, "UTF-8");
    ++declarations;
  }
  EXPECT_GE(declarations, args.size() - 1);
  EXPECT_TRUE(utf8.out == expected);
}

std::vector<std::string> Stamps(const std::string& folder, const std::vector<std::string>& names) {
  std::vector<std::string> stamps;
  for (const std::string& name : names) {
    struct stat st {};
    EXPECT_EQ(::stat((folder + "/" + name).c_str(), &st), 0) << name;
    stamps.push_back(std::to_string(st.st_ino) + "." + std::to_string(st.st_mtim.tv_nsec));
  }
  return stamps;
}

TEST(CorpusTest, Utf8RewriteOfASiteTwiceChangesNothingTheSecondTime) {
  const std::vector<std::string> pages = Pages(kCorpus);
  if (pages.empty()) GTEST_SKIP() << "no pages in " << kCorpus;
  testing::TempDir dir;
  std::vector<std::string> args = {"--utf8", "-w"};
  for (const std::string& page : pages) {
    args.push_back(page);
    std::filesystem::copy_file(kCorpus + "/" + page, dir.path() + "/" + page);
  }
  const ProgramRun first = RunProgram(args, dir.path());
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "");
  for (const std::string& page : pages) {
    EXPECT_NO_THROW(Recode(testing::ReadFile(dir.path() + "/" + page), "UTF-8", "UTF-8")) << page;
  }
  const std::vector<std::string> before = Stamps(dir.path(), pages);
  const ProgramRun second = RunProgram(args, dir.path());
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, "");
  EXPECT_TRUE(Stamps(dir.path(), pages) == before) << "the second run wrote";
}

}  // namespace
}  // namespace lowtags

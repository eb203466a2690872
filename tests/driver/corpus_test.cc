// The program over a site of real pages: --utf8 and --lf against the plain output, and the
// whole site migrated to UTF-8 with -w, twice.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/encoding_guard.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::RunProgram;

const std::string kCorpus = LOWTAGS_SOURCE_DIR "/../shared/corpus";

// Inode and modification time of each page: a page written again shows here.
std::string Stamps(const std::string& folder, const std::vector<std::string>& pages) {
  std::string stamps;
  for (const std::string& page : pages) {
    struct stat st {};
    EXPECT_EQ(::stat((folder + "/" + page).c_str(), &st), 0) << page;
    stamps += std::to_string(st.st_ino) + "." + std::to_string(st.st_mtim.tv_nsec) + " ";
  }
  return stamps;
}

// The declarations of these pages all read "charset=Shift_JIS", in some case. The first -w run
// shows that the guard keeps every page, the second that it knows every one in UTF-8.
TEST(CorpusTest, OutputFormsAgreeAndTheSiteMigratesOnce) {
  std::vector<std::string> pages;
  if (std::filesystem::is_directory(kCorpus)) {
    for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
      if (entry.path().extension() == ".htm") pages.push_back(entry.path().filename());
    }
  }
  if (pages.empty()) GTEST_SKIP() << "no pages in " << kCorpus;
  std::sort(pages.begin(), pages.end());
  std::vector<std::string> args = pages;
  const ProgramRun plain = RunProgram(args, kCorpus);
  args.insert(args.begin(), "--lf");
  const ProgramRun lf = RunProgram(args, kCorpus);
  args.front() = "--utf8";
  const ProgramRun utf8 = RunProgram(args, kCorpus);
  EXPECT_EQ(plain.status + utf8.status + lf.status, 0);
  std::string expected = plain.out;
  std::erase(expected, '\r');
  EXPECT_TRUE(lf.out == expected);
  expected = testing::Recode(plain.out, "CP932", "UTF-8");
  std::string lower = expected;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  std::size_t declarations = 0;
  for (std::size_t at = 0; (at = lower.find("charset=shift_jis", at)) != lower.npos;
       ++declarations) {
    expected.replace(at + 8, 9, "UTF-8"), lower.replace(at + 8, 9, "UTF-8");
  }
  EXPECT_GE(declarations, pages.size());
  EXPECT_TRUE(utf8.out == expected);

  testing::TempDir dir;
  for (const std::string& page : pages) {
    const std::string bytes = testing::ReadFile(kCorpus + "/" + page);
    dir.Write(page, bytes);
    // Microsoft's EUC-JP has the few characters code page 932 adds to plain EUC-JP.
    EXPECT_EQ(CheckNotSjis(testing::Recode(bytes, "CP932", "EUC-JP-MS")), NotSjis::kEucJp) << page;
    EXPECT_NE(CheckNotSjis(testing::Recode(bytes, "CP932", "UTF-16")), NotSjis::kNone) << page;
  }
  args.insert(args.begin(), "-w");
  const ProgramRun first = RunProgram(args, dir.path());
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "");
  std::string rewritten;
  for (const std::string& page : pages) rewritten += testing::ReadFile(dir.path() + "/" + page);
  EXPECT_TRUE(rewritten == utf8.out) << "the pages do not hold what standard output shows";
  const std::string stamps = Stamps(dir.path(), pages);
  const ProgramRun second = RunProgram(args, dir.path());
  EXPECT_EQ(second.status + second.out.size(), 0u);
  EXPECT_EQ(Stamps(dir.path(), pages), stamps) << "the second run wrote";
}

}  // namespace
}  // namespace lowtags

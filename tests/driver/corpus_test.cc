// The program over a site of real pages: --utf8 and --lf against the plain output page for page,
// and a whole site migrated to UTF-8 with -w, twice.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::ReadFile;
using testing::Recode;
using testing::RunProgram;
using testing::TempDir;

const std::filesystem::path kCorpus = LOWTAGS_SOURCE_DIR "/../shared/corpus";

std::vector<std::filesystem::path> Pages() {
  std::vector<std::filesystem::path> pages;
  if (!std::filesystem::is_directory(kCorpus)) return pages;
  for (const auto& entry : std::filesystem::directory_iterator(kCorpus)) {
    if (entry.path().extension() == ".htm") pages.push_back(entry.path());
  }
  std::sort(pages.begin(), pages.end());
  return pages;
}

// The declarations of these pages all read "charset=Shift_JIS", in some case.
std::string DeclaredUtf8(std::string text, int* count) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
  constexpr std::string_view kOld = "charset=shift_jis";
  for (std::size_t at = lower.rfind(kOld); at != std::string::npos;
       at = at == 0 ? std::string::npos : lower.rfind(kOld, at - 1)) {
    text.replace(at + 8, kOld.size() - 8, "UTF-8");
    ++*count;
  }
  return text;
}

std::string WithLf(std::string text) {
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
  }
  return text;
}

TEST(CorpusTest, Utf8AndLfAgreeWithThePlainOutput) {
  const std::vector<std::filesystem::path> pages = Pages();
  if (pages.empty()) GTEST_SKIP() << "no pages in " << kCorpus;
  for (const std::filesystem::path& page : pages) {
    const std::string name = page.string();
    const ProgramRun plain = RunProgram({name});
    const ProgramRun utf8 = RunProgram({"--utf8", name});
    const ProgramRun lf = RunProgram({"--lf", name});
    int declarations = 0;
    EXPECT_EQ(utf8.out, DeclaredUtf8(Recode(plain.out, "CP932", "UTF-8"), &declarations)) << name;
    EXPECT_GT(declarations, 0) << name;
    EXPECT_EQ(lf.out, WithLf(plain.out)) << name;
    EXPECT_EQ(plain.status + utf8.status + lf.status, 0) << name;
  }
}

struct Stamp {
  ino_t inode;
  std::int64_t mtime_ns;
  bool operator==(const Stamp&) const = default;
};

std::vector<Stamp> Stamps(const std::vector<std::string>& paths) {
  std::vector<Stamp> stamps;
  for (const std::string& path : paths) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("no " + path);
    stamps.push_back({st.st_ino, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec});
  }
  return stamps;
}

TEST(CorpusTest, Utf8RewriteOfASiteTwiceChangesNothingTheSecondTime) {
  const std::vector<std::filesystem::path> pages = Pages();
  if (pages.empty()) GTEST_SKIP() << "no pages in " << kCorpus;
  TempDir dir;
  std::vector<std::string> args = {"--utf8", "-w"};
  std::vector<std::string> copies;
  for (const std::filesystem::path& page : pages) {
    args.push_back(page.filename().string());
    copies.push_back(dir.path() + "/" + args.back());
    std::filesystem::copy_file(page, copies.back());
  }
  const ProgramRun first = RunProgram(args, dir.path());
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, "");
  for (const std::string& copy : copies) {
    EXPECT_NO_THROW(Recode(ReadFile(copy), "UTF-8", "UTF-8")) << copy << " is not UTF-8";
  }
  const std::vector<Stamp> before = Stamps(copies);
  const ProgramRun second = RunProgram(args, dir.path());
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, "");
  EXPECT_TRUE(Stamps(copies) == before) << "the second run wrote";
}

}  // namespace
}  // namespace lowtags

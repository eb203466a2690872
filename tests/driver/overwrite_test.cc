// -w end to end with the real program and file system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "convert/conv_html.h"
#include "test_support.h"

namespace lowtags {
namespace {

using testing::ProgramRun;
using testing::ReadFile;
using testing::RunProgram;
using testing::TempDir;

struct OverwriteCase {
  const char* name;
  const char* options;
  std::string before;
  std::string after;
};

void PrintTo(const OverwriteCase& c, std::ostream* os) { *os << c.name; }

// The names in a folder, sorted: a temporary file left behind shows here.
std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class OverwriteTest : public ::testing::TestWithParam<OverwriteCase> {};

TEST_P(OverwriteTest, WritesBackAndPrintsNothing) {
  const OverwriteCase& c = GetParam();
  TempDir dir;
  const std::string page = dir.Write("page.htm", c.before);
  const ProgramRun run = RunProgram({c.options, "page.htm"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(ReadFile(page), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, OverwriteTest,
    ::testing::Values(
        OverwriteCase{"FoldsWithCrLf", "-w", "<B>x</B>\r\n<I>\n", "<b>x</b>\r\n<i>\r\n"},
        OverwriteCase{"JoinedLinesAndParagraphNewline", "-wj", "a\n<P>b\nc<BR>\n",
                      "a\r\n<p>bc<br>\r\n"},
        OverwriteCase{"RepeatedLinesKept", "-w", "<B>\n<B>\n<B>\n", "<b>\r\n<b>\r\n<b>\r\n"},
        OverwriteCase{"EmptyStaysEmpty", "-w", "", ""},
        OverwriteCase{"CommentLinesVanish", "-wr", "a<!--\nb\n-->c\n", "a\r\nc\r\n"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(OverwriteFailureTest, BracketErrorLeavesFileUntouched) {
  TempDir dir;
  const std::string page = dir.Write("page.htm", "<B>x\n<A <B>\n");
  struct stat before {};
  ASSERT_EQ(::stat(page.c_str(), &before), 0);
  const ProgramRun run = RunProgram({"-w", "page.htm", "next.htm"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out,
            "page.htm:2: <a <B>\r\n'<' does not close.\r\npage.htm: failed to convert\r\n"
            "next.htm: not found\r\n");
  EXPECT_EQ(ReadFile(page), "<B>x\n<A <B>\n");
  struct stat after {};
  ASSERT_EQ(::stat(page.c_str(), &after), 0);
  EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
  EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST(OverwriteLinkTest, SymlinkStaysALinkToTheRewrittenFile) {
  TempDir dir;
  const std::string target = dir.Write("real.htm", "<B>\n");
  ASSERT_EQ(::symlink("real.htm", (dir.path() + "/link.htm").c_str()), 0);
  const ProgramRun run = RunProgram({"-w", "link.htm"}, dir.path());
  EXPECT_EQ(run.status, 0);
  struct stat st {};
  ASSERT_EQ(::lstat((dir.path() + "/link.htm").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(std::filesystem::read_symlink(dir.path() + "/link.htm"), "real.htm");
  EXPECT_EQ(ReadFile(target), "<b>\r\n");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"link.htm", "real.htm"}));
}

// As with sed -i: the name given gets a new file, the other names keep the old one.
TEST(OverwriteLinkTest, HardLinkedNameGetsANewFileAndTheOthersKeepTheOldText) {
  TempDir dir;
  const std::string first = dir.Write("one.htm", "<B>\n");
  const std::string second = dir.path() + "/two.htm";
  ASSERT_EQ(::link(first.c_str(), second.c_str()), 0);
  struct stat before {};
  ASSERT_EQ(::stat(first.c_str(), &before), 0);
  const ProgramRun run = RunProgram({"-w", "one.htm"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(ReadFile(first), "<b>\r\n");
  EXPECT_EQ(ReadFile(second), "<B>\n");
  struct stat one {};
  struct stat two {};
  ASSERT_EQ(::stat(first.c_str(), &one), 0);
  ASSERT_EQ(::stat(second.c_str(), &two), 0);
  EXPECT_NE(one.st_ino, two.st_ino);
  EXPECT_EQ(two.st_ino, before.st_ino);
  EXPECT_EQ(two.st_nlink, 1u);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"one.htm", "two.htm"}));
}

TEST(OverwriteLinkTest, ModeIsKept) {
  TempDir dir;
  const std::string page = dir.Write("page.htm", "<B>\n");
  ASSERT_EQ(::chmod(page.c_str(), 0640), 0);
  ASSERT_EQ(RunProgram({"-w", "page.htm"}, dir.path()).status, 0);
  struct stat st {};
  ASSERT_EQ(::stat(page.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A file the user may not write, in a folder it may, stops the program at once with status 1.
TEST(OverwriteFailureTest, UnwritableFileStopsTheProgram) {
  TempDir dir;
  const std::string locked = dir.Write("locked.htm", "<B>\n");
  const std::string later = dir.Write("later.htm", "<B>\n");
  ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(later.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const bool root = ::geteuid() == 0;  // root may write anything: run as nobody instead
  const ProgramRun run = RunProgram({"-w", "locked.htm", "later.htm"}, dir.path(), "", root);
  if (run.status == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "locked.htm: cannot open to write\r\n");
  EXPECT_EQ(ReadFile(locked), "<B>\n");
  EXPECT_EQ(ReadFile(later), "<B>\n");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"later.htm", "locked.htm"}));
}

// Large enough for the rewrite to begin during the conversion, with a bracket error at the end of
// the second file: the first is replaced by what standard output shows, the second stays.
TEST(OverwriteLargeTest, RewrittenAsStandardOutputShowsAndBrokenOneLeftAlone) {
  std::string page;
  while (page.size() < 3 * kRewriteAheadFrom) {
    page += "<P ALIGN=\"Left\"><A HREF=\"/X/y.htm\">\x8a\xbf \xb6\xde</A><!-- C -->\r\n";
  }
  TempDir dir;
  const std::string big = dir.Write("big.htm", page);
  const std::string broken = dir.Write("broken.htm", page + "<A <B>\n");
  ASSERT_EQ(::chmod(big.c_str(), 0604), 0);
  const ProgramRun expected = RunProgram({"-kna", "big.htm"}, dir.path());
  ASSERT_EQ(expected.status, 0);
  const ProgramRun run = RunProgram({"-wkna", "big.htm", "broken.htm"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out.substr(run.out.find("broken.htm: failed")),
            "broken.htm: failed to convert\r\n");
  EXPECT_TRUE(ReadFile(big) == expected.out) << "rewritten text differs";
  EXPECT_TRUE(ReadFile(broken) == page + "<A <B>\n") << "broken file changed";
  struct stat st {};
  ASSERT_EQ(::stat(big.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"big.htm", "broken.htm"}));
}

// A large file's rewrite, begun while it is converted, takes the same forms as standard output:
// UTF-8 whose declaration is made UTF-8, and LF line ends.
TEST(OverwriteLargeTest, RewrittenInUtf8WithLfAsStandardOutputShows) {
  std::string page = "<HTML><HEAD><META CHARSET=SJIS></HEAD>\r\n";
  while (page.size() < 3 * kRewriteAheadFrom) {
    page += "<P ALIGN=\"Left\"><A HREF=\"/X/y.htm\">\x8a\xbf \xb6\xde</A><!-- C -->\r\n";
  }
  TempDir dir;
  const std::string big = dir.Write("big.htm", page);
  const ProgramRun expected = RunProgram({"--utf8", "--lf", "-kna", "big.htm"}, dir.path());
  ASSERT_EQ(expected.status, 0);
  ASSERT_TRUE(expected.out.starts_with("<html><head><meta charset=UTF-8></head>\n<p"));
  const ProgramRun run = RunProgram({"--lf", "--utf8", "-wkna", "big.htm"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  EXPECT_TRUE(ReadFile(big) == expected.out) << "rewritten text differs";
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"big.htm"});
}

struct stat StatOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st;
}

bool HasTempFile(const std::string& folder) {
  const auto names = Names(folder);
  return std::any_of(names.begin(), names.end(),
                     [](const std::string& n) { return n.find(".lowtags-") != n.npos; });
}

// Runs `script` with /bin/sh in `cwd`, "$0" being the program; standard output captured.
ProgramRun RunShell(const std::string& script, const std::string& cwd) {
  TempDir capture;
  const std::string out_path = capture.path() + "/out";
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(125);
    ::dup2(out, 1);
    ::execl("/bin/sh", "sh", "-c", script.c_str(), LOWTAGS_BINARY, static_cast<char*>(nullptr));
    ::_exit(126);
  }
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  ProgramRun run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  run.out = ReadFile(out_path);
  return run;
}

const std::string kPageText = "<HTML>\r\n<P ALIGN=\"Left\">text</P>\r\n";
const std::string kConverted = "<html>\r\n<p align=\"Left\">text</p>\r\n";

// The write past `ulimit -f` fails instead of killing the program, and neither name of a
// hard-linked page loses a byte.
TEST(OverwriteLimitTest, HardLinkedPageOverTheFileSizeLimit) {
  TempDir dir;
  std::string page;
  while (page.size() < 6700) page += kPageText;
  const std::string first = dir.Write("one.htm", page);
  ASSERT_EQ(::link(first.c_str(), (dir.path() + "/two.htm").c_str()), 0);
  const ProgramRun run = RunShell("ulimit -f 4 && exec \"$0\" -w one.htm", dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "one.htm: failed to rewrite\r\n");
  EXPECT_EQ(ReadFile(first), page);
  EXPECT_EQ(StatOf(first).st_nlink, 2u);
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"one.htm", "two.htm"}));
}

TEST(OverwriteNameTest, LongNameAndSecondRunThatChangesNothing) {
  TempDir dir;
  const std::string long_name = std::string(246, 'n') + ".htm";  // 250 bytes
  const std::vector<std::string> names = {long_name, "a.htm", "b.htm"};
  for (const std::string& name : names) dir.Write(name, kPageText);
  std::vector<std::string> args = {"-w"};
  args.insert(args.end(), names.begin(), names.end());
  ASSERT_EQ(RunProgram(args, dir.path()).status, 0);
  std::vector<struct stat> after_first;
  for (const std::string& name : names) {
    EXPECT_EQ(ReadFile(dir.path() + "/" + name), kConverted) << name.size();
    after_first.push_back(StatOf(dir.path() + "/" + name));
  }
  const ProgramRun second = RunProgram(args, dir.path());
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(second.out, "");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const struct stat st = StatOf(dir.path() + "/" + names[i]);
    EXPECT_EQ(st.st_ino, after_first[i].st_ino);
    EXPECT_EQ(st.st_mtim.tv_sec, after_first[i].st_mtim.tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, after_first[i].st_mtim.tv_nsec);
  }
  EXPECT_EQ(Names(dir.path()).size(), names.size());
}

// A folder path longer than PATH_MAX: made, read and removed one name at a time.
TEST(OverwriteNameTest, FolderPathOverPathMax) {
  TempDir dir;
  const std::string part(200, 'd');
  std::vector<int> folders = {::open(dir.path().c_str(), O_RDONLY | O_DIRECTORY)};
  std::string path;
  while (path.size() <= 4200) {
    ASSERT_EQ(::mkdirat(folders.back(), part.c_str(), 0755), 0);
    folders.push_back(::openat(folders.back(), part.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_GE(folders.back(), 0);
    path += part + "/";
  }
  const int out = ::openat(folders.back(), "page.htm", O_WRONLY | O_CREAT, 0644);
  ASSERT_EQ(::write(out, kPageText.data(), kPageText.size()),
            static_cast<ssize_t>(kPageText.size()));
  ::close(out);
  const ProgramRun run = RunProgram({"-w", path + "page.htm"}, dir.path());
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "");
  const int in = ::openat(folders.back(), "page.htm", O_RDONLY);
  std::string text(100, '\0');
  text.resize(static_cast<std::size_t>(std::max<ssize_t>(0, ::read(in, text.data(), text.size()))));
  ::close(in);
  EXPECT_EQ(text, kConverted);
  EXPECT_EQ(::unlinkat(folders.back(), "page.htm", 0), 0);  // nothing else is left there
  for (std::size_t i = folders.size() - 1; i > 0; --i) {
    ::close(folders[i]);
    ::unlinkat(folders[i - 1], part.c_str(), AT_REMOVEDIR);
  }
  ::close(folders[0]);
}

// An access list as the kernel stores it: the owner may read and write, user 65534 may read,
// nobody else anything.
std::string AccessList() {
  std::string acl;
  const auto put = [&acl](std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) acl += static_cast<char>(value >> (8 * i) & 0xFF);
  };
  put(2, 4);  // version
  const std::uint32_t none = 0xFFFFFFFF;
  const std::uint32_t entries[][3] = {
      {0x01, 6, none}, {0x02, 4, 65534}, {0x04, 0, none}, {0x10, 4, none}, {0x20, 0, none}};
  for (const auto& e : entries) {
    put(e[0], 2);
    put(e[1], 2);
    put(e[2], 4);
  }
  return acl;
}

TEST(OverwriteAttributeTest, UserAttributeAndAccessListAreKept) {
  TempDir dir;
  const std::string page = dir.Write("page.htm", kPageText);
  const std::string acl = AccessList();
  if (::setxattr(page.c_str(), "user.origin", "mirror", 6, 0) != 0 ||
      ::setxattr(page.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
    GTEST_SKIP() << "no user attributes or access lists here";
  }
  const mode_t mode = StatOf(page).st_mode;
  ASSERT_EQ(RunProgram({"-w", "page.htm"}, dir.path()).status, 0);
  EXPECT_EQ(ReadFile(page), kConverted);
  char value[256];
  const ssize_t n = ::getxattr(page.c_str(), "user.origin", value, sizeof value);
  EXPECT_EQ(std::string(value, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), "mirror");
  const ssize_t m = ::getxattr(page.c_str(), "system.posix_acl_access", value, sizeof value);
  EXPECT_EQ(std::string(value, static_cast<std::size_t>(std::max<ssize_t>(m, 0))), acl);
  EXPECT_EQ(StatOf(page).st_mode, mode);
}

struct SignalCase {
  int sig;
  bool large;  // one large file, or many small ones
};

// The program is killed once a temporary file shows: it dies by the signal, leaves no temporary
// file, and every file is all old or all new.
TEST(OverwriteSignalTest, SignalRemovesTemporaryFiles) {
  const std::vector<SignalCase> cases = {{SIGTERM, true}, {SIGINT, true},  {SIGHUP, true},
                                         {SIGTERM, false}, {SIGINT, false}, {SIGHUP, false}};
  for (const SignalCase& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.sig)) + (c.large ? ", large file" : ", small files"));
    TempDir dir;
    const std::string text = c.large ? testing::Repeat(kPageText, 1'500'000) : kPageText;
    const std::string converted = c.large ? testing::Repeat(kConverted, 1'500'000) : kConverted;
    std::vector<std::string> args = {LOWTAGS_BINARY, "-w"};
    for (int i = 0; i < (c.large ? 1 : 1000); ++i) {
      args.push_back(std::to_string(i) + ".htm");
      dir.Write(args.back(), text);
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::chdir(dir.path().c_str()) != 0) ::_exit(125);
      std::vector<char*> argv;
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(LOWTAGS_BINARY, argv.data());
      ::_exit(126);
    }
    bool seen = false;
    int wait_status = 0;
    for (int i = 0; i < 20000 && !seen; ++i) {
      if (::waitpid(pid, &wait_status, WNOHANG) == pid) break;
      seen = HasTempFile(dir.path());
      if (!seen) ::usleep(200);
    }
    if (seen) {
      ::kill(pid, c.sig);
      ::waitpid(pid, &wait_status, 0);
    }
    if (!seen) GTEST_SKIP() << "the run ended before a temporary file was seen";
    EXPECT_TRUE(WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == c.sig);
    EXPECT_FALSE(HasTempFile(dir.path()));
    for (std::size_t i = 2; i < args.size(); ++i) {
      const std::string now = ReadFile(dir.path() + "/" + args[i]);
      EXPECT_TRUE(now == text || now == converted) << args[i];
    }
  }
}

}  // namespace
}  // namespace lowtags

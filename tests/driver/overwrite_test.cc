// -w end to end on the real file system: what it keeps, what it refuses, where it stops.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace lowtags {
namespace {

using namespace std::string_literals;
using testing::ProgramRun;
using testing::ReadFile;
using testing::Repeat;
using testing::RunProgram;
using testing::TempDir;
using Files = std::vector<std::pair<std::string, std::string>>;

const std::string kPage = "<HTML>\r\n<P ALIGN=\"Left\">text</P>\r\n";
const std::string kConverted = "<html>\r\n<p align=\"Left\">text</p>\r\n";
const std::string kLongName = std::string(246, 'n') + ".htm";  // no room for a longer name

struct ShellCase {
  const char* name;
  Files before;
  std::string script;  // its last command's status is expected
  int status;
  std::string out;
  Files after;  // every name in the folder, and what a regular file holds
};

void PrintTo(const ShellCase& c, std::ostream* os) { *os << c.name; }

class OverwriteTest : public ::testing::TestWithParam<ShellCase> {};

TEST_P(OverwriteTest, StatusOutputAndFiles) {
  const ShellCase& c = GetParam();
  if (std::string(c.name).ends_with("NeedsRoot") && ::geteuid() != 0) GTEST_SKIP() << "not root";
  TempDir dir;
  for (const auto& [name, text] : c.before) dir.Write(name, text);
  const ProgramRun run = testing::RunShell(c.script, dir.path());
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  Files after;
  std::error_code loop;  // a link loop is no regular file
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    after.emplace_back(entry.path().filename(),
                       entry.is_regular_file(loop) ? ReadFile(entry.path()) : "");
  }
  std::sort(after.begin(), after.end());
  EXPECT_TRUE(after == c.after);  // a temporary file left behind shows here
}

const std::string kBad = "<A <B>\n";
const std::string kThenStat = "; s=$?; stat -c '%n %a %h %F' *; exit $s";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, OverwriteTest, ::testing::Values(
    // A file that fails or is no Shift_JIS text is left as it was, and the program goes on.
    ShellCase{"FailedFilesLeftAlone", {{"a.htm", kBad}, {"b.htm", "<B>\n"}, {"c.htm", "<B>x\0y\n"s}, {"d.htm", "<B>\x1Ay"}},
              "exec \"$0\" -w a.htm b.htm c.htm d.htm", 2, "a.htm:1: <a <B>\r\n'<' does not close.\r\na.htm: failed to convert\r\n"
              "c.htm: not Shift_JIS text (NUL bytes)\r\nd.htm: not Shift_JIS text (data after 0x1A)\r\n",
              {{"a.htm", kBad}, {"b.htm", "<b>\r\n"}, {"c.htm", "<B>x\0y\n"s}, {"d.htm", "<B>\x1Ay"}}},
    // A FIFO without a writer reads as an empty file; -w does not even open it, as a writer
    // would lose its data to the reading. `timeout` ends a run that blocks on it.
    ShellCase{"FifoIsNoFileToRewrite", {}, "mkfifo p.htm && timeout 20 \"$0\" p.htm && exec timeout 20 \"$0\" -w p.htm /dev/null",
              2, "p.htm: not a regular file\r\n/dev/null: not a regular file\r\n", {{"p.htm", ""}}},
    // A symbolic link stays a link to the rewritten file, followed from its own folder; a loop is
    // not found. As with sed -i, a hard-linked name gets a new file and its other names keep the
    // old one. The mode is kept.
    ShellCase{"LinksAndModeKept", {{"real.htm", "<B>\n"}, {"one.htm", "<I>\n"}},
              "chmod 640 real.htm && mkdir sub && ln -s ../real.htm sub/mid.htm && ln -s sub/mid.htm link.htm && ln -s b.htm a.htm &&"
              " ln -s a.htm b.htm && ln one.htm two.htm && \"$0\" -w a.htm link.htm one.htm" + kThenStat, 2,
              "a.htm: not found\r\na.htm 777 1 symbolic link\nb.htm 777 1 symbolic link\nlink.htm 777 1 symbolic link\n"
              "one.htm 644 1 regular file\nreal.htm 640 1 regular file\nsub 755 2 directory\ntwo.htm 644 1 regular file\n",
              {{"a.htm", ""}, {"b.htm", ""}, {"link.htm", "<b>\r\n"}, {"one.htm", "<i>\r\n"}, {"real.htm", "<b>\r\n"}, {"sub", ""}, {"two.htm", "<I>\n"}}},
    // The write past `ulimit -f` fails instead of killing the program, and neither name of a
    // hard-linked file loses a byte.
    ShellCase{"FileSizeLimit", {{"one.htm", Repeat(kPage, 200)}}, "ln one.htm two.htm && ulimit -f 4 && \"$0\" -w one.htm" + kThenStat, 1,
              "one.htm: failed to rewrite\r\none.htm 644 2 regular file\ntwo.htm 644 2 regular file\n",
              {{"one.htm", Repeat(kPage, 200)}, {"two.htm", Repeat(kPage, 200)}}},
    // A file it may not write, or one in a folder it may not write, stops the program at once.
    ShellCase{"Unwritable", {{"a.htm", "<B>\n"}, {"b.htm", "<B>\n"}}, "chmod 444 a.htm && chmod 777 . && $as \"$0\" -w a.htm b.htm;"
              " chmod 666 *.htm && chmod 555 . && $as \"$0\" -w b.htm a.htm; s=$?; chmod 755 .; exit $s", 1,
              "a.htm: cannot open to write\r\nb.htm: cannot open to write\r\n", {{"a.htm", "<B>\n"}, {"b.htm", "<B>\n"}}},
    // In a sticky folder nobody may write root's file but not rename over it.
    ShellCase{"FailedRenameNeedsRoot", {{"a.htm", "<B>\n"}}, "chmod 666 a.htm && chmod 1777 . && exec $as \"$0\" -w a.htm", 1,
              "a.htm: failed to rewrite\r\n", {{"a.htm", "<B>\n"}}},
    // Read-only media that show no free space, as a CD-ROM image does, are not asked for it;
    // the same file system, full and writable, fails the page.
    ShellCase{"FullReadOnlyMountNeedsRoot", {{"a.htm", "<B>\n"}},
              "mkdir m && mount -t tmpfs -o size=64k tmpfs m && cp a.htm m && (cat /dev/zero >m/f 2>&-; \"$0\" m/a.htm;"
              " mount -o remount,ro m && \"$0\" m/a.htm; s=$?; umount -l m; exit $s)", 0,
              "<b>\r\nno free disk space\r\nm/a.htm: failed to convert\r\n<b>\r\n", {{"a.htm", "<B>\n"}, {"m", ""}}},
    // A second run writes nothing: the file is UTF-8 already, or its text does not change; a
    // name too long for a longer one beside it.
    ShellCase{"SecondRunWritesNothing", {{"a.htm", "<HEAD><META CHARSET=SJIS>\x93\xfa\n"}, {kLongName, kPage}},
              "\"$0\" --utf8 -w *.htm && s=$(stat -c %i%y *) && \"$0\" --utf8 -w *.htm && [ \"$s\" = \"$(stat -c %i%y *)\" ]", 0, "",
              {{"a.htm", "<head><meta charset=UTF-8>\xe6\x97\xa5\r\n"}, {kLongName, kConverted}}},
    // A folder path longer than PATH_MAX is made, read and removed one name at a time.
    ShellCase{"FolderPathOverPathMax", {},
              "t=$PWD d=$(printf %0200d 0) p=; for i in $(seq 21); do mkdir $d && cd -P $d && p=$p$d/; done; printf '<B>\\n' >page.htm;"
              " cd \"$t\" && \"$0\" -w \"$p\"page.htm && for i in $(seq 21); do cd -P $d; done && cat page.htm; s=$?; cd \"$t\"; rm -rf $d; exit $s",
              0, "<b>\r\n", {}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });
// clang-format on

// The access list as the kernel stores it, version 2: the owner may read and write, user 65534
// may read, nobody else anything.
TEST(OverwriteAttributeTest, UserAttributeAndAccessListAreKept) {
  TempDir dir;
  const std::string page = dir.Write("page.htm", kPage);
  const std::string acl =
      "\x02\0\0\0\x01\0\x06\0\xff\xff\xff\xff\x02\0\x04\0\xfe\xff\0\0\x04\0\0\0\xff\xff\xff\xff"
      "\x10\0\x04\0\xff\xff\xff\xff\x20\0\0\0\xff\xff\xff\xff"s;
  std::vector<std::pair<std::string, std::string>> attributes = {{"user.origin", "mirror"},
                                                                 {"system.posix_acl_access", acl}};
  // Names longer together than the first guess of the list's size.
  for (char c = 'a'; c <= 'e'; ++c) attributes.emplace_back("user." + std::string(240, c), "x");
  for (const auto& [name, value] : attributes) {
    if (::setxattr(page.c_str(), name.c_str(), value.data(), value.size(), 0) != 0) {
      GTEST_SKIP() << name;
    }
  }
  dir.Write("plain.htm", kPage);  // no attributes, after a list that did not fit at first
  ASSERT_EQ(RunProgram({"-w", "page.htm", "plain.htm"}, dir.path()).status, 0);
  EXPECT_EQ(ReadFile(page), kConverted);
  for (const auto& [name, value] : attributes) {
    std::string kept(256, '\0');
    kept.resize(static_cast<std::size_t>(
        std::max<ssize_t>(0, ::getxattr(page.c_str(), name.c_str(), kept.data(), kept.size()))));
    EXPECT_EQ(kept, value) << name;
  }
}

bool HasTempFile(const std::string& folder) {
  return std::ranges::any_of(std::filesystem::directory_iterator(folder), [](const auto& entry) {
    return entry.path().filename().string().find(".lowtags-") != std::string::npos;
  });
}

// Killed once a temporary file shows, the program dies by the signal, leaves no temporary file,
// and every file is all old or all new: one large file, or many small ones. A signal ignored
// when it starts (nohup) stays ignored: the run goes on to its end.
TEST(OverwriteSignalTest, SignalRemovesTemporaryFiles) {
  for (const auto& [sig, disposition] :
       {std::pair{SIGTERM, SIG_DFL}, {SIGINT, SIG_DFL}, {SIGHUP, SIG_DFL}, {SIGHUP, SIG_IGN}}) {
    for (const std::size_t files : {1, 1000}) {
      const bool ignored = disposition == SIG_IGN;
      SCOPED_TRACE(std::string(strsignal(sig)) + (ignored ? " ignored" : "") +
                   ", files: " + std::to_string(files));
      TempDir dir;
      const std::size_t repeat = files == 1 ? 1'500'000 : 1;
      std::vector<std::string> args = {LOWTAGS_BINARY, "-w"};
      for (std::size_t i = 0; i < files; ++i) {
        dir.Write(args.emplace_back(std::to_string(i) + ".htm"), Repeat(kPage, repeat));
      }
      const pid_t pid = ::fork();
      if (pid == 0) {
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        (void)::signal(sig, disposition);  // a shell in the background ignores SIGINT
        if (::chdir(dir.path().c_str()) == 0) ::execv(LOWTAGS_BINARY, argv.data());
        ::_exit(126);
      }
      int wait_status = 0;
      for (int i = 0; i < 20000 && !HasTempFile(dir.path()); ++i) {
        if (::waitpid(pid, &wait_status, WNOHANG) == pid)
          GTEST_SKIP() << "ended before a temporary file";
        ::usleep(200);
      }
      ::kill(pid, sig);
      ::waitpid(pid, &wait_status, 0);
      EXPECT_TRUE(ignored ? WIFEXITED(wait_status) && WEXITSTATUS(wait_status) == 0
                          : WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == sig);
      EXPECT_FALSE(HasTempFile(dir.path()));
      for (std::size_t i = 2; i < args.size(); ++i) {
        const std::string now = ReadFile(dir.path() + "/" + args[i]);
        EXPECT_TRUE(now == Repeat(kConverted, repeat) || (!ignored && now == Repeat(kPage, repeat)))
            << args[i];
      }
    }
  }
}

}  // namespace
}  // namespace lowtags

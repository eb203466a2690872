// The real program on input that old site folders hold: binary bytes, broken Shift_JIS, odd line
// ends, huge lines, names that are no plain files, and files or folders it may not write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "driver/file_case.h"
#include "test_support.h"

namespace lowtags {
namespace {

using namespace std::string_literals;
using testing::ProgramRun;
using testing::ReadFile;
using testing::RunProgram;
using testing::TempDir;

using testing::Repeat;

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

const std::string kFailed = "page.htm: failed to convert\r\n";
const std::string kUnmatched = "page.htm: '<' unmatch to '>'\r\n" + kFailed;

// A piece holds 9999 bytes of a longer line; when its last byte would start a double-byte
// character, the piece takes the second byte too.
const std::string kPieceFill(9998, 'x');

INSTANTIATE_TEST_SUITE_P(
    Hostile, FileTest,
    ::testing::Values(
        // A NUL ends the text of its line: the rest of the line, newline and all, is lost, so
        // the next line follows on directly.
        FileCase{"NulEndsLineText", {}, "<B>x\0yz</B>\n<I>\n"s, "<b>x<i>\r\n"},
        FileCase{"NulFirstInLine", {}, "\0abc\n<B>\n"s, "<b>\r\n"},
        FileCase{"NulInsideTagLeavesItOpen",
                 {},
                 "<B\0>\n<I>\n"s,
                 "<bpage.htm:2: <I>\r\n'<' does not close.\r\n" + kFailed,
                 2},
        FileCase{"NulInsideTagIgnored", {"-i"}, "<B\0>\n<I>\n"s, "<b<i>\r\n"},
        FileCase{"NulAfterLeadByte", {}, "\x83\0a\n<B>\n"s, "\x83<b>\r\n"},
        // A lead byte takes any byte but NUL as its second byte, the newline included.
        FileCase{"LeadByteEndsLine", {}, "a\x83\nb\n", "a\x83\r\nb\r\n"},
        FileCase{"LeadByteEndsLineNotJoined", {"-j"}, "a\x83\nb\nc\n", "a\x83\r\nbc"},
        FileCase{"LeadByteEndsLineInTag", {"-c"}, "<a b\x83\nc>\n", "<A B\x83\r\nC>\r\n"},
        FileCase{"LeadByteBeforeCrLf", {"-c"}, "<a b\x83\r\nc>\r\n", "<A B\x83\r\nC>\r\n"},
        FileCase{"LeadByteSwallowsClosingBracket", {}, "<B\x83>\n", "<b\x83>\r\n" + kUnmatched, 2},
        FileCase{"LeadByteEndsFile", {}, "abc\x83", "abc\x83"},
        FileCase{"LeadByteEndsFileNotConverted", {"-n"}, "\x82\x50\x82", "1\x82"},
        FileCase{"LeadByteEndsFileInTag", {}, "<B \x83", "<b \x83" + kUnmatched, 2},
        FileCase{"LeadByteEndsPiece", {"-n"}, kPieceFill + "\x82\x4f\n", kPieceFill + "0\r\n"},
        FileCase{"LeadByteEndsPieceBeforeNewline",
                 {},
                 kPieceFill + "\x83\na > b\n",
                 kPieceFill +
                     "\x83\r\npage.htm:2: a > b\r\n'>' does not correspond with "
                     "'<'.\r\n" +
                     kFailed,
                 2},
        // 0x1A ends the text of the file, wherever it stands.
        FileCase{"CtrlZInsideTag",
                 {},
                 "<B\x1A"
                 "C>\n",
                 "<b" + kUnmatched,
                 2},
        FileCase{"CtrlZAsSecondByte", {}, "a\x83\x1A<B>\n", "a\x83"},
        FileCase{"CtrlZFirst", {}, "\x1A<B>\n", ""},
        // Carriage returns are folded before anything looks at the bytes.
        FileCase{"OnlyCarriageReturns", {}, "\r\r\r", "\r\n"},
        FileCase{"MacLineEnds", {"-j"}, "<PRE>a\rb\r</PRE>\rc\rd<BR>\r", "<pre>a\r\nb\r\n</pre>\r\ncd<br>\r\n"},
        // The LF a CR becomes is the lead byte's second byte: the line goes on, still in the tag.
        FileCase{"CrAfterLeadByte", {"-c"}, "<a \x83\ra>\n", "<A \x83\r\nA>\r\n"}),
    FileCaseName);

struct RewriteCase {
  const char* name;
  std::string before;
  std::string after;
  std::string out;
};

void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.name; }

class HostileRewriteTest : public ::testing::TestWithParam<RewriteCase> {};

TEST_P(HostileRewriteTest, FileHoldsExactly) {
  const RewriteCase& c = GetParam();
  TempDir dir;
  const std::string page = dir.Write("page.htm", c.before);
  const ProgramRun run = RunProgram({"-w", "page.htm"}, dir.path());
  EXPECT_EQ(run.status, c.out.empty() ? 0 : 2);  // a file refused is a file failed
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(ReadFile(page), c.after);
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"page.htm"});
}

// What -w would lose is refused before the conversion; the file stays as it was.
INSTANTIATE_TEST_SUITE_P(
    Bytes, HostileRewriteTest,
    ::testing::Values(RewriteCase{"NulRefused", "<B>x\0yz</B>\n<I>\n"s, "<B>x\0yz</B>\n<I>\n"s,
                                  "page.htm: not Shift_JIS text (NUL bytes)\r\n"},
                      RewriteCase{"TextAfterCtrlZRefused", "<B>x\x1Ay\n", "<B>x\x1Ay\n",
                                  "page.htm: not Shift_JIS text (data after 0x1A)\r\n"},
                      RewriteCase{"CtrlZEndsTheText", "<B>x\n\x1A\r\n", "<b>x\r\n", ""},
                      RewriteCase{"LoneCrEndsLine", "<B\rC>\r", "<b\r\nc>\r\n", ""},
                      RewriteCase{"MillionEmptyLines", std::string(1000000, '\n'),
                                  Repeat("\r\n", 1000000), ""}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// One line of more than 50 MB without a newline goes through piece by piece: tags, quotes and
// double-byte characters that straddle the pieces come out as if the line were whole.
TEST(HostileSizeTest, FiftyMegabyteLineWithoutNewline) {
  const std::string unit = "<B CLASS=\"Q\">T\x83\x41x</B>";
  const std::string folded = "<b class=\"Q\">T\x83\x41x</b>";
  const std::size_t times = 50000000 / unit.size() + 1;
  TempDir dir;
  dir.Write("page.htm", Repeat(unit, times));
  const std::string out = dir.path() + "/out";
  const ProgramRun run = RunProgram({"page.htm"}, dir.path(), out);
  EXPECT_EQ(run.status, 0);
  const std::string text = ReadFile(out);
  ASSERT_EQ(text.size(), unit.size() * times);
  EXPECT_TRUE(text == Repeat(folded, times));
}

TEST(HostileSizeTest, MillionEmptyLines) {
  TempDir dir;
  dir.Write("page.htm", std::string(1000000, '\n'));
  for (const char* options : {"-c", "-j"}) {  // an empty line is never joined
    const ProgramRun run = RunProgram({options, "page.htm"}, dir.path());
    EXPECT_EQ(run.status, 0) << options;
    EXPECT_TRUE(run.out == Repeat("\r\n", 1000000)) << options;
  }
}

// Runs the program on a FIFO. Should it ever block on the FIFO, a guard opens the other end after
// a while and closes it again, which ends the wait with end of file, and the test fails.
ProgramRun RunOnFifo(const std::vector<std::string>& args, const TempDir& dir, bool* hung) {
  const std::string fifo = dir.path() + "/pipe.htm";
  std::mutex mutex;
  std::condition_variable finished;
  bool done = false;
  std::atomic<bool> fired{false};
  std::thread guard([&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (!finished.wait_for(lock, std::chrono::seconds(20), [&] { return done; })) {
      fired = true;
      const int fd = ::open(fifo.c_str(), O_RDWR | O_NONBLOCK);
      if (fd >= 0) ::close(fd);
    }
  });
  const ProgramRun run = RunProgram(args, dir.path());
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  finished.notify_one();
  guard.join();
  *hung = fired;
  return run;
}

TEST(HostileNameTest, FifoWithoutWriterIsAnEmptyFile) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir.path() + "/pipe.htm").c_str(), 0644), 0);
  for (const char* options : {"-c", "-w"}) {
    bool hung = false;
    const ProgramRun run = RunOnFifo({options, "pipe.htm"}, dir, &hung);
    EXPECT_FALSE(hung) << options;
    EXPECT_EQ(run.status, options[1] == 'w' ? 2 : 0) << options;
    // Under -w it is not even opened: a writer would lose its data to the reading.
    EXPECT_EQ(run.out, options[1] == 'w' ? "pipe.htm: not a regular file\r\n" : "") << options;
  }
}

TEST(HostileNameTest, DevNullIsAnEmptyFileOrNoRegularOne) {
  for (const char* options : {"-c", "-w"}) {
    const ProgramRun run = RunProgram({options, "/dev/null"});
    EXPECT_EQ(run.status, options[1] == 'w' ? 2 : 0) << options;
    EXPECT_EQ(run.out, options[1] == 'w' ? "/dev/null: not a regular file\r\n" : "") << options;
    EXPECT_EQ(run.err, "") << options;
  }
}

TEST(HostileNameTest, FolderIsNotFoundAndTheNextFileIsConverted) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir.path() + "/dir.htm").c_str(), 0755), 0);
  const std::string page = dir.Write("page.htm", "<B>\n");
  ProgramRun run = RunProgram({"-c", "dir.htm", "page.htm"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "dir.htm: not found\r\n<B>\r\n");
  run = RunProgram({"-w", "dir.htm", "page.htm"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "dir.htm: not found\r\n");
  EXPECT_EQ(ReadFile(page), "<b>\r\n");
}

TEST(HostileNameTest, FileThatVanishedIsNotFound) {
  TempDir dir;
  const std::string page = dir.Write("page.htm", "<B>\n");
  EXPECT_EQ(RunProgram({"page.htm"}, dir.path()).out, "<b>\r\n");
  ASSERT_EQ(::unlink(page.c_str()), 0);
  const ProgramRun run = RunProgram({"page.htm", "page.htm"}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "page.htm: not found\r\npage.htm: not found\r\n");
}

// Root reads anything: the program runs as nobody, in a folder nobody may enter.
TEST(HostileNameTest, FileThatBecameUnreadableIsNotFound) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
  const std::string page = dir.Write("page.htm", "<B>\n");
  const std::string next = dir.Write("next.htm", "<I>\n");
  ASSERT_EQ(::chmod(next.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(page.c_str(), 0644), 0);
  const bool root = ::geteuid() == 0;
  ProgramRun run = RunProgram({"page.htm"}, dir.path(), "", root);
  if (run.status == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(run.out, "<b>\r\n");
  ASSERT_EQ(::chmod(page.c_str(), 0), 0);
  for (const char* options : {"-c", "-w"}) {
    run = RunProgram({options, "page.htm", "next.htm"}, dir.path(), "", root);
    EXPECT_EQ(run.status, 2) << options;
    EXPECT_EQ(run.out, std::string("page.htm: not found\r\n") +
                           (options == std::string("-c") ? "<I>\r\n" : ""))
        << options;
  }
  EXPECT_EQ(ReadFile(next), "<i>\r\n");  // rewritten by the -w run
  ASSERT_EQ(::chmod(page.c_str(), 0644), 0);
  EXPECT_EQ(ReadFile(page), "<B>\n");
}

// The messages take the name as typed. A name that does not fit the 1024 bytes of a message is
// cut to 768 bytes, leaving room for the rest; one that fits leaves the rest to be cut at 1024.
struct LongNameCase {
  const char* name;
  std::size_t length;
  std::string out_after_name;  // what follows the printed part of the name
  std::size_t printed;         // bytes of the name printed
};

void PrintTo(const LongNameCase& c, std::ostream* os) { *os << c.name; }

class LongNameTest : public ::testing::TestWithParam<LongNameCase> {};

std::string NameOfLength(std::size_t length) {
  std::string name = Repeat("a/", length / 2);
  if (length % 2 != 0) name += 'b';
  name.back() = 'b';
  return name;
}

TEST_P(LongNameTest, NotFoundMessage) {
  const LongNameCase& c = GetParam();
  const std::string name = NameOfLength(c.length);
  ASSERT_EQ(name.size(), c.length);
  TempDir dir;
  const ProgramRun run = RunProgram({name}, dir.path());
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, name.substr(0, c.printed) + c.out_after_name);
}

INSTANTIATE_TEST_SUITE_P(
    Names, LongNameTest,
    ::testing::Values(LongNameCase{"TwoThousandBytes", 2000, ": not found\r\n", 768},
                      LongNameCase{"JustTooLong", 1025, ": not found\r\n", 768},
                      LongNameCase{"FitsWhole", 1012, ": not found\r\n", 1012},
                      LongNameCase{"FitsButTailIsCut", 1020, ": no", 1020}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// A 2000-byte name that exists: nine folders of 199 bytes and a 200-byte file name.
TEST(LongNameTest, BracketErrorInFileWithTwoThousandByteName) {
  TempDir dir;
  std::string name;
  for (int i = 0; i < 9; ++i) {
    name += std::string(199, static_cast<char>('c' + i)) + "/";
    ASSERT_EQ(::mkdir((dir.path() + "/" + name).c_str(), 0755), 0);
  }
  name += std::string(196, 'p') + ".htm";
  ASSERT_EQ(name.size(), 2000u);
  dir.Write(name, "<A <B>\n");
  const ProgramRun run = RunProgram({name}, dir.path());
  EXPECT_EQ(run.status, 2);
  const std::string cut = name.substr(0, 768);
  EXPECT_EQ(run.out,
            cut + ":1: <a <B>\r\n'<' does not close.\r\n" + cut + ": failed to convert\r\n");
}

// -w where the file system refuses. The original must survive byte for byte, the program must
// stop with status 1, and nothing may be left beside the file.

TEST(HostileRewriteFaultTest, UnwritableFolderCannotTakeTheNewFile) {
  TempDir dir;
  const std::string page = dir.Write("page.htm", "<B>x</B>\n");
  const std::string later = dir.Write("later.htm", "<B>\n");
  ASSERT_EQ(::chmod(page.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(later.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  const bool root = ::geteuid() == 0;
  const ProgramRun run = RunProgram({"-w", "page.htm", "later.htm"}, dir.path(), "", root);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  if (run.status == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "page.htm: cannot open to write\r\n");
  EXPECT_EQ(ReadFile(page), "<B>x</B>\n");
  EXPECT_EQ(ReadFile(later), "<B>\n");
  EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"later.htm", "page.htm"}));
}

// In a sticky folder only a file's owner may replace it: nobody may write root's file but not
// rename over it, so the rename of the finished new text fails.
TEST(HostileRewriteFaultTest, FailingRenameKeepsTheOriginal) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to own the file";
  TempDir dir;
  const std::string page = dir.Write("page.htm", "<B>x</B>\n");
  ASSERT_EQ(::chmod(page.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
  const ProgramRun run = RunProgram({"-w", "page.htm", "page.htm"}, dir.path(), "", true);
  if (run.status == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot run as nobody";
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "page.htm: failed to rewrite\r\n");
  EXPECT_EQ(ReadFile(page), "<B>x</B>\n");
  EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"page.htm"});
}

// A small tmpfs that holds the file but not the file and its twice as long new text.
class SmallFileSystem {
 public:
  explicit SmallFileSystem(const std::string& folder) : folder_(folder) {
    ::mkdir(folder.c_str(), 0755);
    mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k,mode=0755") == 0;
  }
  ~SmallFileSystem() {
    if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallFileSystem(const SmallFileSystem&) = delete;
  SmallFileSystem& operator=(const SmallFileSystem&) = delete;
  bool mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

TEST(HostileRewriteFaultTest, FullFileSystemKeepsTheOriginal) {
  TempDir dir;
  const std::string folder = dir.path() + "/small";
  const SmallFileSystem fs(folder);
  if (!fs.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
  // 36 KB of half-width katakana become 72 KB of full-width ones: more than the 64 KB there are.
  const std::string before = Repeat(std::string(99, '\xB1') + "\n", 360);
  const std::string page = folder + "/page.htm";
  {
    const int fd = ::open(page.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, before.data(), before.size()), static_cast<ssize_t>(before.size()));
    ::close(fd);
  }
  const ProgramRun run = RunProgram({"-wk", "page.htm", "page.htm"}, folder);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "page.htm: failed to rewrite\r\n");
  EXPECT_TRUE(ReadFile(page) == before);
  EXPECT_EQ(Entries(folder), std::vector<std::string>{"page.htm"});
}

}  // namespace
}  // namespace lowtags

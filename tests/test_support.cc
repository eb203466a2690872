#include "test_support.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <new>
#include <sstream>
#include <stdexcept>

#include "support/heap.h"

// The converters' buffers are made and freed for every route of every generated input.
[[maybe_unused]] const bool kHeapKept = (lowtags::KeepFreedMemory(), true);

// Counts allocations and, on request, makes one of them fail, so that running out of memory can
// be tested. Every other test sees plain malloc/free behaviour.
namespace {
// Atomic: a rewrite may allocate on a second thread.
std::atomic<long> g_allocations = 0;
std::atomic<long> g_fail_at = -1;  // allocation number that fails; -1: none

// Kept out of line: the compiler would otherwise pair free() with the operator new it sees
// inlined and warn about a mismatch that is none, since both sides are replaced here.
[[gnu::noinline]] void* Obtain(std::size_t size) {
  void* p = g_allocations++ == g_fail_at ? nullptr : std::malloc(size == 0 ? 1 : size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
[[gnu::noinline]] void Release(void* p) noexcept { std::free(p); }
}  // namespace

void* operator new(std::size_t size) { return Obtain(size); }
void* operator new[](std::size_t size) { return Obtain(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete(void* p, std::size_t) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete[](void* p, std::size_t) noexcept { Release(p); }

namespace lowtags::testing {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "lowtags-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::Write(std::string_view name, std::string_view bytes) const {
  const std::string file = path_ + "/" + std::string(name);
  std::ofstream(file, std::ios::binary) << bytes;
  return file;
}

std::string ReadFile(const std::string& path) {
  std::ostringstream all;
  all << std::ifstream(path, std::ios::binary).rdbuf();
  return all.str();
}

std::string Recode(std::string_view bytes, const char* from, const char* to) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error("iconv lacks a code set");
  std::string in(bytes);
  std::string out(in.size() * 4 + 4, '\0');
  char *src = in.data(), *dst = out.data();
  std::size_t src_left = in.size(), dst_left = out.size();
  const std::size_t rc = ::iconv(cd, &src, &src_left, &dst, &dst_left);
  ::iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) throw std::runtime_error(std::string("not ") + from);
  out.resize(out.size() - dst_left);
  return out;
}

std::string Sjis(std::string_view utf8) { return Recode(utf8, "UTF-8", "CP932"); }

namespace {

// Runs `program` with the arguments in folder `cwd`, standard input from /dev/null.
ProgramRun Spawn(std::vector<std::string> args, const std::string& cwd, std::string program) {
  TempDir capture;
  const std::string out_path = capture.path() + "/out", err_path = capture.path() + "/err";
  std::vector<char*> argv = {program.data()};
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int in = ::open("/dev/null", O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(125);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execv(program.c_str(), argv.data());
    ::_exit(126);
  }
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  ProgramRun run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  run.out = ReadFile(out_path);
  run.err = ReadFile(err_path);
  return run;
}

}  // namespace

ProgramRun RunProgram(const std::vector<std::string>& args, const std::string& cwd) {
  return Spawn(args, cwd, LOWTAGS_BINARY);
}

ProgramRun RunShell(const std::string& script, const std::string& cwd) {
  const char* as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "";
  return Spawn({"-c", "as='" + std::string(as) + "'; " + script, LOWTAGS_BINARY}, cwd, "/bin/sh");
}

long Allocations(const std::function<void()>& f, long fail_at) {
  const long before = g_allocations;
  g_fail_at = fail_at < 0 ? -1 : before + fail_at;
  struct Reset {
    ~Reset() { g_fail_at = -1; }
  } reset;  // also when f throws
  f();
  return g_allocations - before;
}

}  // namespace lowtags::testing

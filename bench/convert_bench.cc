// Micro-benchmark of the converter alone: the corpus is read from memory and the
// output is counted and dropped, so neither the disk nor the terminal is timed.
//
// The corpora come from gen_corpus (bench/run makes them); the folder is taken
// from LOWTAGS_BENCH_CORPUS, by default the quick set in bench/corpus/quick.
// Every *.htm there is timed under each option set; -w is left to bench/run,
// since it goes through the file system by design.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "convert/converter.h"
#include "driver/command_line.h"
#include "support/byte_sink.h"
#include "support/disk.h"
#include "support/text_reader.h"

namespace lowtags {
namespace {

// Serves one file from memory through Read; everything else is the real disk,
// which a conversion to a sink never touches.
class MemoryDisk : public PosixDisk {
 public:
  explicit MemoryDisk(std::string_view text) : text_(text) {}
  int Read(int /*fd*/, char* buffer, std::size_t cap, std::size_t* got) override {
    const std::size_t n = std::min(cap, text_.size() - at_);
    std::memcpy(buffer, text_.data() + at_, n);
    at_ += n;
    *got = n;
    return 0;
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

class CountingSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override { count_ += bytes.size(); }
  std::size_t count() const { return count_; }

 private:
  std::size_t count_ = 0;
};

// The options the command line reads from the group.
OptionSet OptionsOf(const std::string& group) {
  if (group.empty()) return {};
  const std::array<const char*, 2> args = {group.c_str(), "x"};
  return ParseCommandLine(args).options;
}

void Convert(benchmark::State& state, const std::shared_ptr<const std::string>& text,
             const std::string& group) {
  const Converter converter(OptionsOf(group), FastestEngine());
  std::size_t out_bytes = 0;
  for (auto _ : state) {
    MemoryDisk disk(*text);
    PieceReader reader(disk, 0);
    CountingSink sink;
    if (converter.Convert(reader, "corpus.htm", sink) != ConvResult::kConverted) {
      state.SkipWithError("conversion failed");
      break;
    }
    out_bytes = sink.count();
    benchmark::DoNotOptimize(out_bytes);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text->size()));
  state.counters["out_MB"] = static_cast<double>(out_bytes) / 1e6;
}

std::shared_ptr<const std::string> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::make_shared<const std::string>(std::move(bytes).str());
}

int RegisterCorpora() {
  const char* env = std::getenv("LOWTAGS_BENCH_CORPUS");
  const std::filesystem::path dir = env != nullptr ? env : LOWTAGS_BENCH_DEFAULT_CORPUS;
  std::error_code error;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    if (entry.path().extension() == ".htm") files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  const std::array<std::string, 6> groups = {"", "-c", "-r", "-rfmosbu", "-kna", "-j"};
  for (const auto& file : files) {
    const auto text = ReadFile(file);
    for (const auto& group : groups) {
      const std::string name =
          "conv_html/" + file.filename().string() + "/" + (group.empty() ? "none" : group);
      benchmark::RegisterBenchmark(name.c_str(), [text, group](benchmark::State& s) {
        Convert(s, text, group);
      })->Unit(benchmark::kMillisecond);
    }
  }
  return static_cast<int>(files.size());
}

}  // namespace
}  // namespace lowtags

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (lowtags::RegisterCorpora() == 0) {
    std::cerr << "convert_bench: no *.htm corpus found; run bench/run --quick first, or set "
                 "LOWTAGS_BENCH_CORPUS to a folder of corpora\n";
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

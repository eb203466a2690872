// Text-mode block I/O: carriage returns, 0x1A, piece cutting, CR LF output, failures.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert/reference_converter.h"
#include "support/disk.h"
#include "support/fake_disk.h"
#include "support/text_reader.h"
#include "support/text_writer.h"
#include "test_support.h"

namespace lowtags {
namespace {

// The pieces of a whole file through a PieceReader, `chunk` bytes per read call, and its error;
// read call `failing` fails.
struct Reading {
  std::vector<std::string> pieces;
  int error = 0;
  bool operator==(const Reading&) const = default;
};
Reading Read(const std::string& bytes, std::size_t chunk, int failing = 0) {
  FakeDisk disk;
  disk.AddFile("f", bytes);
  disk.set_read_chunk(chunk);
  disk.FailCall(DiskOp::kRead, failing, EIO);
  int fd = -1;
  disk.OpenRead("f", &fd);
  PieceReader reader(disk, fd);
  Reading reading;
  std::span<char> piece;
  while (reader.Next(&piece)) reading.pieces.emplace_back(piece.data(), piece.size());
  reading.error = reader.error();
  return reading;
}

// Pieces of at most 9999 bytes, cut after a newline; a piece never ends inside a double-byte
// character or a comment mark ("<!--" goes first, and only once). Reads of 3 bytes end on the CR
// of each "ab\r": the next read decides what it was.
TEST(PieceReaderTest, CutsWhereExpected) {
  const std::string k9996(9996, 'x'), k9997(9997, 'x'), k9998(9998, 'x'), k9999(9999, 'x');
  // clang-format off
  const std::vector<std::pair<std::string, std::vector<std::size_t>>> cases = {
      {"ab\ncd\n\nx", {3, 3, 1, 1}},                 {"", {}},
      {k9999 + "\n", {9999, 1}},                     {k9998 + "\x82\xA0y\n", {10000, 2}},
      {k9998 + "\x82\n", {10000}},                   {k9997 + "\x82\xA0y\n", {9999, 2}},
      {k9997 + "\x82\x82\x82\x40\n", {9999, 3}},      {k9998 + "\x82", {9999}},
      {std::string(25000, 'y'), {9999, 9999, 5002}}, {std::string(9999, '\r') + "\nab\r\n", {1, 3}},
      {"ab" + std::string(9999, '\r') + "c", {3, 1}}, {k9998 + "<!--x\n", {10002, 2}},
      {k9997 + "<!--x\n", {10001, 2}},                {k9996 + "<!--x\n", {10000, 2}},
      {k9998 + "-->x\n", {10001, 2}},                 {k9997 + "-->x\n", {10000, 2}},
      {k9996 + "<!-->x\n", {10000, 3}},               {k9997 + "<!-x\n", {9999, 3}},
      {k9998 + "<!-", {9999, 2}},                     {k9998 + "\x82<!--\n", {10000, 4}},
      {k9998 + "<!\r\n--\n", {9999, 2, 3}},           {"a\r\r\nb\r\r\rc\r", {2, 2, 2}},
      {"<A\rHREF=x>\r\n", {3, 8}},                   {"a\r\x1A" "after\n", {2}},
      {"a\r\r\x1A\r\n", {2}},                         {"a\r\n\x1A\r", {2}},
      {"\r\r\r", {1}},                               {testing::Repeat("ab\r", 5000), std::vector<std::size_t>(5000, 3)}};
  // clang-format on
  for (const auto& [input, expected] : cases) {
    for (const std::size_t chunk : {1, 2, 3, 7, 4096, 1 << 20}) {
      std::vector<std::size_t> lengths;
      std::string joined;
      for (const std::string& p : Read(input, chunk).pieces) {
        lengths.push_back(p.size());
        joined += p;
      }
      EXPECT_EQ(lengths, expected) << input.substr(input.size() / 2) << ", chunk " << chunk;
      EXPECT_EQ(joined, reference::TextModeBytes(input));
    }
  }
}

// After a read error only whole pieces count: the file fails, it does not merely end. A real
// read error is reported, not retried as an interruption would be.
TEST(PieceReaderTest, ReadErrorKeepsOnlyWholePieces) {
  EXPECT_EQ(Read("one\ntwo\nthree", 6, 2), (Reading{{"one\n"}, EIO}));
  EXPECT_EQ(Read(std::string(10000, 'x'), 9999, 2), (Reading{{}, EIO}));
  PosixDisk disk;
  int fd = -1;
  ASSERT_EQ(disk.OpenFolder(AT_FDCWD, ".", &fd), 0);
  PieceReader reader(disk, fd);
  std::span<char> piece;
  EXPECT_FALSE(reader.Next(&piece));
  EXPECT_EQ(reader.error(), EISDIR);
  EXPECT_EQ(disk.Close(fd), 0);
}

// A TextWriter on the empty file "o" of a fake disk, writing in the background when asked; write
// call `failing` fails.
struct FakeOutput {
  explicit FakeOutput(bool background, int failing = 0) {
    disk.AddFile("o", "");
    disk.FailCall(DiskOp::kWrite, failing, ENOSPC);
    disk.OpenWrite("o", &fd);
    out.emplace(disk, fd);
    if (background) out->WriteInBackground();
  }
  FakeDisk disk;
  int fd = -1;
  std::optional<TextWriter> out;
};

// The background writer lends out fewer blocks than the longer cases fill, so that the filling
// waits for it. A failed write is kept and no later block is written.
TEST(TextWriterTest, NewlinesBecomeCrLfInWhateverBlocksTheyFall) {
  std::string lines;
  while (lines.size() < 9 * TextWriter::kBlock) lines += "<b>line</b>\n";
  const std::string long_line = std::string(TextWriter::kBlock - 1, 'q') + "\n";
  const std::string newlines(TextWriter::kBlock, '\n');
  const std::vector<std::vector<std::string>> cases = {
      {"a\nb", "\n\n", "", "c"},           {"\r\n"},
      {long_line, long_line, "end"},       {lines},
      {newlines, "x", newlines, newlines}, {std::string(5 * TextWriter::kBlock, 'q')},
  };
  for (const bool background : {false, true}) {
    for (const auto& writes : cases) {
      FakeOutput o(background);
      std::string all;
      for (const std::string& w : writes) o.out->Write(w), all += w;
      EXPECT_TRUE(o.out->Flush().ok());
      EXPECT_TRUE(*o.disk.Contents("o") == testing::WithCrLf(all))
          << writes.size() << " writes, background " << background;
    }
    FakeOutput o(background, 2);
    for (int i = 0; i < 12; ++i) o.out->Write(std::string(TextWriter::kBlock / 2, 'a'));
    EXPECT_EQ(o.out->Flush().code(), ENOSPC);
    EXPECT_EQ(o.disk.Count(DiskOp::kWrite), 2) << "background " << background;
  }
}

}  // namespace
}  // namespace lowtags

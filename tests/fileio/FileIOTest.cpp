// SFileIO over real files in a private temporary folder, and the default
// formatted output of FileIO over an in-memory stream.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>

#include "fileio/SFileIO.h"

namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "gadrel-fileio-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    m_path = tmpl;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
  }
  fs::path operator/(const char* name) const { return m_path / name; }
  const fs::path& path() const { return m_path; }

 private:
  fs::path m_path;
};

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void WriteAll(const fs::path& p, const std::string& text) {
  std::ofstream out(p, std::ios::binary);
  out << text;
}

class SFileIOTest : public testing::Test {
 protected:
  MFilePath Path(const char* name) const { return MFilePath((m_dir / name).string()); }
  TempDir m_dir;
  std::string m_error;
};

TEST_F(SFileIOTest, WriteThenReadBack) {
  SFileIO f;
  ASSERT_TRUE(f.Open(Path("a.bin"), FileIO::kModeWrite, m_error)) << m_error;
  EXPECT_EQ(f.Mode(), 1);
  EXPECT_EQ(f.Write("hello\nworld\n", 12), 12u);
  EXPECT_EQ(f.Printf("%s=%d\n", "n", 42), 5);
  EXPECT_EQ(f.Tell(), 17);
  f.Close();
  EXPECT_EQ(f.Mode(), FileIO::kModeNone);
  EXPECT_EQ(ReadAll(m_dir / "a.bin"), "hello\nworld\nn=42\n");

  ASSERT_TRUE(f.Open(Path("a.bin"), FileIO::kModeRead, m_error)) << m_error;
  EXPECT_EQ(f.Mode(), 0);
  EXPECT_EQ(f.Size(), 17);
  char line[64];
  ASSERT_NE(f.Gets(line, sizeof line), nullptr);
  EXPECT_STREQ(line, "hello\n");
  char rest[64] = {};
  EXPECT_EQ(f.Read(rest, sizeof rest), 11u);
  EXPECT_EQ(std::string(rest, 11), "world\nn=42\n");
  EXPECT_EQ(f.Read(rest, sizeof rest), 0u);
  EXPECT_EQ(f.Gets(line, sizeof line), nullptr);
}

TEST_F(SFileIOTest, OperationsOutsideTheirModeDoNothing) {
  WriteAll(m_dir / "r.bin", "content");
  SFileIO reader;
  ASSERT_TRUE(reader.Open(Path("r.bin"), FileIO::kModeRead, m_error));
  EXPECT_EQ(reader.Write("x", 1), 0u);
  EXPECT_EQ(reader.Printf("%d", 1), -1);
  reader.Close();
  EXPECT_EQ(ReadAll(m_dir / "r.bin"), "content");

  SFileIO writer;
  ASSERT_TRUE(writer.Open(Path("w.bin"), FileIO::kModeWrite, m_error));
  ASSERT_EQ(writer.Write("abc", 3), 3u);
  ASSERT_EQ(writer.Seek(0, FileIO::kSeekSet), 0);
  char buf[8];
  EXPECT_EQ(writer.Read(buf, sizeof buf), 0u);
  EXPECT_EQ(writer.Gets(buf, sizeof buf), nullptr);
}

TEST_F(SFileIOTest, SeekTellAndSizeKeepsThePosition) {
  WriteAll(m_dir / "s.bin", "0123456789");
  SFileIO f;
  ASSERT_TRUE(f.Open(Path("s.bin"), FileIO::kModeRead, m_error));
  EXPECT_EQ(f.Seek(4, FileIO::kSeekSet), 0);
  EXPECT_EQ(f.Size(), 10);
  EXPECT_EQ(f.Tell(), 4);
  char c = 0;
  EXPECT_EQ(f.Read(&c, 1), 1u);
  EXPECT_EQ(c, '4');
  EXPECT_EQ(f.Seek(2, FileIO::kSeekCur), 0);
  EXPECT_EQ(f.Tell(), 7);
  EXPECT_EQ(f.Seek(-1, FileIO::kSeekEnd), 0);
  EXPECT_EQ(f.Read(&c, 1), 1u);
  EXPECT_EQ(c, '9');
  EXPECT_EQ(f.Seek(-100, FileIO::kSeekSet), -1);
  EXPECT_EQ(f.Seek(0, 3), -1);  // no such origin
  EXPECT_EQ(f.Tell(), 10);

  // The size of a file being written includes what is still buffered.
  SFileIO w;
  ASSERT_TRUE(w.Open(Path("t.bin"), FileIO::kModeWrite, m_error));
  ASSERT_EQ(w.Write("abcdef", 6), 6u);
  ASSERT_EQ(w.Seek(2, FileIO::kSeekSet), 0);
  EXPECT_EQ(w.Size(), 6);
  EXPECT_EQ(w.Tell(), 2);
}

TEST_F(SFileIOTest, OpenFailuresCarryTheSystemMessage) {
  SFileIO f;
  EXPECT_FALSE(f.Open(Path("missing.bin"), FileIO::kModeRead, m_error));
  EXPECT_EQ(m_error, "No such file or directory");
  EXPECT_EQ(f.Mode(), FileIO::kModeNone);

  m_error.clear();
  EXPECT_FALSE(f.Open(Path("no/such/folder.bin"), FileIO::kModeWrite, m_error));
  EXPECT_EQ(m_error, "No such file or directory");

  // A folder is not a file, although the C runtime would open it for reading.
  m_error.clear();
  EXPECT_FALSE(f.Open(MFilePath(m_dir.path().string()), FileIO::kModeRead, m_error));
  EXPECT_EQ(m_error, "Is a directory");

  m_error.clear();
  EXPECT_FALSE(f.Open(Path("x.bin"), 2, m_error));
  EXPECT_FALSE(m_error.empty());
  EXPECT_FALSE(fs::exists(m_dir / "x.bin"));

  m_error.clear();
  EXPECT_FALSE(f.OpenByName("x.bin", m_error));
  EXPECT_EQ(m_error, "not supported");
}

// What is not an ordinary file is refused at once, in both modes: a FIFO
// without a peer (which a blocking open would wait on for ever), devices
// that read endlessly or nothing at all.
TEST_F(SFileIOTest, OnlyRegularFilesOpenAndOpeningNeverBlocks) {
  const fs::path fifo = m_dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const struct {
    std::string path;
    int mode;
    const char* error;
  } cases[] = {{fifo.string(), FileIO::kModeRead, SFileIO::kNotRegular},
               {fifo.string(), FileIO::kModeWrite, "No such device or address"},  // nobody reads it
               {"/dev/zero", FileIO::kModeRead, SFileIO::kNotRegular},
               {"/dev/null", FileIO::kModeRead, SFileIO::kNotRegular},
               {"/dev/null", FileIO::kModeWrite, SFileIO::kNotRegular}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path + (c.mode == FileIO::kModeRead ? " read" : " write"));
    auto open = std::async(std::launch::async, [&] {
      SFileIO f;
      std::string error;
      const bool opened = f.Open(MFilePath(c.path), c.mode, error);
      return std::make_pair(opened, error);
    });
    if (open.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
      // Release the blocked open so that the test ends.
      const int peer = ::open(fifo.c_str(), (c.mode == FileIO::kModeRead ? O_WRONLY : O_RDONLY) | O_NONBLOCK);
      ADD_FAILURE() << "the open blocked";
      open.wait();
      if (peer >= 0) ::close(peer);
      continue;
    }
    const auto [opened, error] = open.get();
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, c.error);
  }
  // Nothing was created in place of the FIFO.
  EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(SFileIOTest, FailedOpenClosesThePreviousFile) {
  WriteAll(m_dir / "r.bin", "content");
  SFileIO f;
  ASSERT_TRUE(f.Open(Path("r.bin"), FileIO::kModeRead, m_error));
  EXPECT_FALSE(f.Open(Path("missing.bin"), FileIO::kModeRead, m_error));
  char c;
  EXPECT_EQ(f.Read(&c, 1), 0u);
  EXPECT_EQ(f.Size(), -1);
}

TEST(SFileIO, ClosedStreamReportsFailure) {
  SFileIO f;
  char buf[8];
  EXPECT_EQ(f.Mode(), FileIO::kModeNone);
  EXPECT_EQ(f.Seek(0, FileIO::kSeekSet), -1);
  EXPECT_EQ(f.Tell(), -1);
  EXPECT_EQ(f.Size(), -1);
  EXPECT_EQ(f.Read(buf, sizeof buf), 0u);
  EXPECT_EQ(f.Write("x", 1), 0u);
  EXPECT_EQ(f.Printf("%s", "x"), -1);
  EXPECT_EQ(f.Gets(buf, sizeof buf), nullptr);
  f.Close();  // closing twice is harmless
  f.Close();
}

TEST_F(SFileIOTest, PrintfOfALongTextWritesItWhole) {
  const std::string text(10000, 'x');
  SFileIO f;
  ASSERT_TRUE(f.Open(Path("p.txt"), FileIO::kModeWrite, m_error));
  EXPECT_EQ(f.Printf("<%s>", text.c_str()), 10002);
  f.Close();
  EXPECT_EQ(ReadAll(m_dir / "p.txt"), "<" + text + ">");
}

// A stream that keeps what is written in memory and uses FileIO's own
// formatted output.
class MemoryStream : public FileIO {
 public:
  bool Open(const MFilePath&, int mode, std::string&) override {
    m_mode = mode;
    return true;
  }
  int Seek(int64_t, int) override { return -1; }
  int64_t Tell() override { return static_cast<int64_t>(data.size()); }
  size_t Read(void*, size_t) override { return 0; }
  size_t Write(const void* buffer, size_t length) override {
    ++writes;
    if (m_mode != kModeWrite) return 0;
    const size_t n = std::min(length, limit - std::min(limit, data.size()));
    data.append(static_cast<const char*>(buffer), n);
    return n;
  }
  char* Gets(char*, int) override { return nullptr; }
  void Close() override { m_mode = kModeNone; }
  int64_t Size() override { return static_cast<int64_t>(data.size()); }
  int Mode() const override { return m_mode; }

  std::string data;
  size_t limit = SIZE_MAX;
  int writes = 0;

 private:
  int m_mode = kModeWrite;
};

TEST(FileIODefaultPrintf, WritesTextsOfEveryLengthWhole) {
  // Around each buffer size the formatter tries: 8, 16, 32 and far beyond.
  for (size_t length : {0, 1, 7, 8, 9, 15, 16, 17, 31, 32, 33, 100, 4095, 70000}) {
    MemoryStream s;
    const std::string text(length, 'a' + static_cast<char>(length % 26));
    EXPECT_EQ(s.Printf("%s", text.c_str()), static_cast<int>(length)) << length;
    EXPECT_EQ(s.data, text) << length;
    EXPECT_EQ(s.writes, 1) << length;
  }
}

TEST(FileIODefaultPrintf, FormatsArguments) {
  MemoryStream s;
  EXPECT_EQ(s.Printf("%08X:%d:%s:%c", 0xBEEFu, -12, "longer than eight", 'z'), 32);
  EXPECT_EQ(s.data, "0000BEEF:-12:longer than eight:z");
}

int VPrintfWithoutFormat(FileIO* s, ...) {
  va_list args;
  va_start(args, s);
  const int n = s->VPrintf(nullptr, args);
  va_end(args);
  return n;
}

TEST(FileIODefaultPrintf, ReportsFailure) {
  MemoryStream s;
  std::string error;
  s.Open(MFilePath("x"), FileIO::kModeRead, error);
  EXPECT_EQ(s.Printf("%s", "anything at all"), -1);  // Write refused the text

  MemoryStream shortWrite;
  shortWrite.limit = 4;
  EXPECT_EQ(shortWrite.Printf("%s", "0123456789"), -1);
  EXPECT_EQ(shortWrite.data, "0123");

  MemoryStream noFormat;
  EXPECT_EQ(VPrintfWithoutFormat(&noFormat), -1);
  EXPECT_EQ(noFormat.writes, 0);
}

TEST(FileIODefault, SecondOpenIsNotSupported) {
  MemoryStream s;
  std::string error;
  EXPECT_FALSE(s.OpenByName("name", error));
  EXPECT_EQ(error, "not supported");
}

}  // namespace

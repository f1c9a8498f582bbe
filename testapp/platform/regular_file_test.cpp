#include "testapp/platform/regular_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "testapp/platform/message_quote.h"
#include "testapp/platform/posix_test_compat.h"
#include "testapp/platform/test_support.h"

namespace quarnex {
namespace {

class RegularFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir_.made()); }
  std::string Path(const char* name) const { return dir_.path().string() + "/" + name; }
  void Write(const char* name, const std::string& text) const {
    std::FILE* f = std::fopen(Path(name).c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }

  TempFolder dir_{"regular_file_test."};
};

TEST_F(RegularFileTest, ReadsARegularFileWhole) {
  Write("data", "hello\0world" + std::string(5000, 'x'));
  FileContents contents;
  std::string reason;
  ASSERT_TRUE(ReadRegularFile(Path("data").c_str(), 1 << 20, &contents, &reason)) << reason;
  ASSERT_EQ(contents.size, 5005u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(contents.bytes.get()), 5), "hello");
  EXPECT_EQ(contents.bytes[5004], 'x');

  Write("empty", "");
  EXPECT_TRUE(ReadRegularFile(Path("empty").c_str(), 10, &contents, &reason));
  EXPECT_EQ(contents.size, 0u);
  EXPECT_EQ(contents.bytes, nullptr);
}

// Each thing that is not a readable regular file is refused at once, with
// the reason a user can act on; a FIFO without a writer does not block.
TEST_F(RegularFileTest, RefusesWhatIsNotARegularFileWithItsReason) {
  Write("data", std::string(100, 'a'));
  ASSERT_EQ(mkdir(Path("folder").c_str(), 0700), 0);
#if !defined(_WIN32)
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
#endif
  struct Case {
    std::string path;
    uint64_t max_size;
    const char* reason;
  };
  const Case cases[] = {
    {Path("absent"), 1000, kReasonNoSuchFile},
    {Path("absent/below"), 1000, kReasonNoSuchFile},
    {Path("folder"), 1000, kReasonNotRegular},
#if !defined(_WIN32)
    {Path("fifo"), 1000, kReasonNotRegular},
    {"/dev/zero", 1000, kReasonNotRegular},
#endif
    {Path("data"), 99, kReasonTooLarge},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    OpenedFile file;
    std::string reason;
    EXPECT_FALSE(OpenRegularFile(c.path.c_str(), c.max_size, &file, &reason));
    EXPECT_EQ(reason, c.reason);
    EXPECT_FALSE(file.fd.valid());
    FileContents contents;
    EXPECT_FALSE(ReadRegularFile(c.path.c_str(), c.max_size, &contents, &reason));
    EXPECT_EQ(reason, c.reason);
  }
}

// Windows: no FIFOs, and no mode bits that deny reading.
#if !defined(_WIN32)
TEST_F(RegularFileTest, AnUnreadableFileIsPermissionDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  Write("locked", "secret");
  ASSERT_EQ(chmod(Path("locked").c_str(), 0), 0);
  FileContents contents;
  std::string reason;
  EXPECT_FALSE(ReadRegularFile(Path("locked").c_str(), 100, &contents, &reason));
  EXPECT_EQ(reason, kReasonPermissionDenied);
}

// A log or dump file named after a FIFO nobody reads fails at once; a
// regular file is appended to or truncated as asked.
TEST_F(RegularFileTest, WritingNeverWaitsForAFifoReader) {
  ASSERT_EQ(mkfifo(Path("fifo").c_str(), 0600), 0);
  errno = 0;
  EXPECT_EQ(OpenFileForWriting(Path("fifo").c_str(), true), nullptr);
  EXPECT_EQ(errno, ENXIO);

  Write("data", "old");
  for (bool append : {true, false}) {
    std::FILE* f = OpenFileForWriting(Path("data").c_str(), append);
    ASSERT_NE(f, nullptr);
    std::fputs("new", f);
    std::fclose(f);
    FileContents contents;
    std::string reason;
    ASSERT_TRUE(ReadRegularFile(Path("data").c_str(), 100, &contents, &reason));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(contents.bytes.get()), contents.size),
              append ? "oldnew" : "new");
  }
}
#endif

TEST(MessageQuoteTest, CutsLongInputAndHidesControlCharacters) {
  EXPECT_EQ(QuoteForMessage("rate=5"), "rate=5");
  EXPECT_EQ(QuoteForMessage("a\x1b[2Jb\n"), "a?[2Jb?");
  const std::string huge(120000, 'z');
  EXPECT_EQ(QuoteForMessage(huge), std::string(80, 'z') + "...");
  EXPECT_EQ(QuoteForMessage(std::string(80, 'y')), std::string(80, 'y'));
  // A deep real path is shown whole; only a path no system could open is cut.
  const std::string deep = "/home/lab/" + std::string(300, 'd') + "/quarnex.cfg";
  EXPECT_EQ(QuotePathForMessage(deep), deep);
  EXPECT_EQ(QuotePathForMessage("/tmp/a\nb\x1b[2J"), "/tmp/a?b?[2J");
  EXPECT_EQ(QuotePathForMessage(huge), std::string(4096, 'z') + "...");
}

}  // namespace
}  // namespace quarnex

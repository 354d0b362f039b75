// Tests of the brokering layer's own log: the start banner, levels, the
// "M/D HH:MM:SS [module:line] " prefix, rotation to ".old", paths that
// cannot be logged to, the error, abort and job-log entries, and the writer
// replacement. The log state is process-wide; each test starts from a reset
// state and a fresh directory.
#include <errno.h>
#include <regex.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "nbx/generic_log.h"
#include "tests/nbx/nbx_test_support.h"

#define NBX_LOG_MODULE "logtest"

namespace {

using nbx_test::CountOf;
using nbx_test::FileExists;
using nbx_test::ReadFile;
using nbx_test::TempDir;

const char kStamp[] = "[0-9]+/[0-9]+ [0-9]{2}:[0-9]{2}:[0-9]{2}";

bool Matches(const std::string &text, const std::string &pattern) {
  regex_t compiled;
  if (regcomp(&compiled, pattern.c_str(), REG_EXTENDED | REG_NEWLINE) != 0) {
    return false;
  }
  bool found = regexec(&compiled, text.c_str(), 0, nullptr, 0) == 0;
  regfree(&compiled);
  return found;
}

std::vector<std::string> Lines(const std::string &text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

class GenericLogTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    Generic_log_initialized = 0;
    Generic_log_enabled = 1;
    Generic_debug_level = D_BASIC;
    Generic_maxlog = GENERIC_LOG_DEFAULT_MAX;
    Generic_log_va = Generic_log_write;
    Generic_logfile[0] = '\0';
  }
  void TearDown() override {
    Generic_logfile[0] = '\0';
    Generic_log_va = Generic_log_write;
    Generic_log_enabled = 1;
  }

  TempDir dir_;
  std::string log_ = dir_.File("nbx.log");
};

TEST_F(GenericLogTest, InitWritesBannerWithSizeAndLevel) {
  Generic_logInit(log_.c_str(), D_FULL, 5000);
  EXPECT_EQ(Generic_log_initialized, 1);
  EXPECT_STREQ(Generic_logfile, log_.c_str());
  EXPECT_EQ(Generic_debug_level, D_FULL);
  EXPECT_EQ(Generic_maxlog, 5000);
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_EQ(lines.size(), 5u);
  std::string stars = " (\\*){40}$";
  EXPECT_TRUE(Matches(lines[0], std::string("^") + kStamp + stars)) << lines[0];
  EXPECT_TRUE(Matches(lines[1], std::string("^") + kStamp + " New log file started$"));
  EXPECT_TRUE(Matches(lines[2], std::string("^") + kStamp + " Max size = 5000$"));
  EXPECT_TRUE(Matches(lines[3], std::string("^") + kStamp + " Log level: D_FULL$"));
  EXPECT_TRUE(Matches(lines[4], std::string("^") + kStamp + stars));
}

TEST_F(GenericLogTest, BannerNamesBasicLevelForAnyOtherLevel) {
  Generic_logInit(log_.c_str(), 3, 100);
  EXPECT_NE(ReadFile(log_).find("Log level: D_BASIC\n"), std::string::npos);
}

TEST_F(GenericLogTest, LineCarriesModuleAndCallSiteLine) {
  Generic_logInit(log_.c_str(), D_BASIC, 64000);
  int line = __LINE__ + 1;
  NBX_LOG(D_BASIC, "value %d and %s\n", 42, "text");
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_TRUE(Matches(lines[5], std::string("^") + kStamp + " \\[logtest:" +
                                    std::to_string(line) + "\\] value 42 and text$"))
      << lines[5];
}

TEST_F(GenericLogTest, LevelAboveTheLogLevelIsNotWritten) {
  Generic_logInit(log_.c_str(), D_BASIC, 64000);
  NBX_LOG(D_FULL, "tracing line\n");
  NBX_LOG(D_BASIC, "basic line\n");
  std::string text = ReadFile(log_);
  EXPECT_EQ(text.find("tracing line"), std::string::npos);
  EXPECT_NE(text.find("basic line"), std::string::npos);

  Generic_logInit(log_.c_str(), D_FULL, 64000);
  NBX_LOG(D_FULL, "tracing now\n");
  EXPECT_NE(ReadFile(log_).find("tracing now"), std::string::npos);
}

TEST_F(GenericLogTest, NothingIsWrittenBeforeInitOrWithoutPath) {
  NBX_LOG(D_BASIC, "too early\n");
  EXPECT_EQ(Generic_log_initialized, 1);  // the writer marks it itself
  EXPECT_FALSE(FileExists(log_));
  Generic_logInit(nullptr, D_FULL, 10);
  EXPECT_EQ(Generic_debug_level, D_BASIC);  // a null path changes nothing
}

TEST_F(GenericLogTest, LogPastMaximumMovesToOldAndStartsAnew) {
  Generic_logInit(log_.c_str(), D_BASIC, 400);
  std::string banner = ReadFile(log_);
  // The banner alone is below 400 bytes; lines accumulate past it.
  ASSERT_LT(banner.size(), 400u);
  int written = 0;
  while (ReadFile(log_).size() <= 400) {
    NBX_LOG(D_BASIC, "filler line %d\n", written++);
  }
  std::string full = ReadFile(log_);
  EXPECT_FALSE(FileExists(log_ + ".old"));
  NBX_LOG(D_BASIC, "first of the new file\n");
  EXPECT_EQ(ReadFile(log_ + ".old"), full);
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("first of the new file"), std::string::npos);

  // A second rotation replaces the older generation.
  while (ReadFile(log_).size() <= 400) NBX_LOG(D_BASIC, "more filler\n");
  std::string second = ReadFile(log_);
  NBX_LOG(D_BASIC, "third file\n");
  EXPECT_EQ(ReadFile(log_ + ".old"), second);
}

TEST_F(GenericLogTest, DirectoryAsLogTurnsLoggingOff) {
  Generic_logInit(dir_.path().c_str(), D_FULL, 64000);
  EXPECT_STREQ(Generic_logfile, "");
  NBX_LOG(D_BASIC, "dropped\n");
  EXPECT_FALSE(FileExists(dir_.path() + ".old"));
}

TEST_F(GenericLogTest, UnwritableDeviceAsLogTurnsLoggingOff) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Generic_logInit("/dev/full", D_FULL, 64000);
  EXPECT_STREQ(Generic_logfile, "");
}

TEST_F(GenericLogTest, LogThatCannotBeExaminedTurnsLoggingOff) {
  std::string sub = dir_.File("sub");
  ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
  std::string path = sub + "/nbx.log";
  Generic_logInit(path.c_str(), D_BASIC, 64000);
  ASSERT_STREQ(Generic_logfile, path.c_str());
  // The directory becomes a plain file: the log's path no longer resolves.
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(rmdir(sub.c_str()), 0);
  FILE *plain = fopen(sub.c_str(), "w");
  ASSERT_NE(plain, nullptr);
  fclose(plain);
  NBX_LOG(D_BASIC, "cannot go anywhere\n");
  EXPECT_STREQ(Generic_logfile, "");
}

TEST_F(GenericLogTest, MissingFileIsRecreatedByTheNextLine) {
  Generic_logInit(log_.c_str(), D_BASIC, 64000);
  ASSERT_EQ(unlink(log_.c_str()), 0);
  NBX_LOG(D_BASIC, "after removal\n");
  std::vector<std::string> lines = Lines(ReadFile(log_));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("after removal"), std::string::npos);
}

// Builds a path of exactly length characters below base, creating its
// directories; the last component is left for the log to create.
std::string PathOfLength(const std::string &base, size_t length) {
  std::string path = base;
  while (path.size() + 1 + 200 + 1 + 10 < length) {
    path += "/" + std::string(200, 'd');
    mkdir(path.c_str(), 0755);
  }
  path += "/";
  path += std::string(length - path.size(), 'f');
  return path;
}

TEST_F(GenericLogTest, PathOf4091CharactersIsUsedAnd4092IsNot) {
  std::string path = PathOfLength(dir_.path(), 4091);
  ASSERT_EQ(path.size(), 4091u);
  Generic_logInit(path.c_str(), D_BASIC, 64000);
  EXPECT_STREQ(Generic_logfile, path.c_str());
  EXPECT_TRUE(FileExists(path));

  Generic_logfile[0] = '\0';
  std::string longer = PathOfLength(dir_.path(), 4092);
  ASSERT_EQ(longer.size(), 4092u);
  Generic_logInit(longer.c_str(), D_BASIC, 64000);
  EXPECT_STREQ(Generic_logfile, "");
  EXPECT_FALSE(FileExists(longer));
}

TEST_F(GenericLogTest, ErrorLineCarriesErrnoWhenSet) {
  Generic_logInit(log_.c_str(), D_BASIC, 64000);
  errno = ECONNREFUSED;
  NBX_ERROR("connect to %s failed", "<127.0.0.1:9>");
  EXPECT_EQ(errno, ECONNREFUSED);  // the log leaves errno alone
  errno = 0;
  NBX_ERROR("plain %d", 7);
  std::string text = ReadFile(log_);
  EXPECT_NE(text.find("] ERROR \"connect to <127.0.0.1:9> failed\" errno " +
                      std::to_string(ECONNREFUSED) + ": " + strerror(ECONNREFUSED) +
                      "\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("] ERROR \"plain 7\"\n"), std::string::npos) << text;
}

TEST_F(GenericLogTest, AbortLogsAndExitsWithStatusOne) {
  Generic_logInit(log_.c_str(), D_BASIC, 64000);
  EXPECT_EXIT(
      {
        errno = 0;
        NBX_ABORT("malloc failed");
      },
      testing::ExitedWithCode(1), "");
  std::string text = ReadFile(log_);
  EXPECT_NE(text.find("] ERROR \"malloc failed\"\n"), std::string::npos) << text;
  EXPECT_TRUE(Matches(text, "\\] PID [0-9]+ EXITING with failure \\(status 1\\)$"))
      << text;
}

TEST_F(GenericLogTest, StopSilencesAndResumeLineIsDropped) {
  Generic_logInit(log_.c_str(), D_FULL, 64000);
  Generic_stop_logging();
  NBX_LOG(D_BASIC, "while stopped\n");
  Generic_resume_logging();
  NBX_LOG(D_BASIC, "after resume\n");
  std::string text = ReadFile(log_);
  std::string pid = std::to_string(getpid());
  EXPECT_NE(text.find("NBX logging stopped for process [pid=" + pid + "]\n"),
            std::string::npos);
  EXPECT_EQ(text.find("while stopped"), std::string::npos);
  EXPECT_EQ(text.find("NBX logging resumed"), std::string::npos);
  EXPECT_NE(text.find("after resume"), std::string::npos);

  // Resuming while logging is on writes the resume line.
  Generic_resume_logging();
  EXPECT_NE(ReadFile(log_).find("NBX logging resumed for process [pid=" + pid + "]\n"),
            std::string::npos);
}

std::vector<std::string> captured;
void CapturingWriter(int level, const char *format, va_list args) {
  char text[256];
  vsnprintf(text, sizeof text, format, args);
  captured.push_back(std::to_string(level) + ":" + text);
}

TEST_F(GenericLogTest, ReplacedWriterReceivesEveryLine) {
  captured.clear();
  Generic_set_log_va(CapturingWriter);
  NBX_LOG(D_FULL, "to the writer %d\n", 3);
  errno = 0;
  NBX_ERROR("bad thing");
  Generic_log_enabled = 0;
  NBX_LOG(D_BASIC, "not while disabled\n");
  Generic_log_enabled = 1;
  ASSERT_EQ(captured.size(), 2u);
  EXPECT_EQ(captured[0], "8192:to the writer 3\n");
  EXPECT_EQ(captured[1], "1:ERROR \"bad thing\"\n");
}

// The job log has a fixed path in /tmp; the test restores it afterwards.
TEST_F(GenericLogTest, JobLogTakesTheMessageLiterally) {
  const std::string path = "/tmp/Genericlog";
  bool existed = FileExists(path);
  std::string before = ReadFile(path);
  Generic_logfile[0] = '\0';  // the job log ignores the log's own state
  Generic_log_enabled = 0;
  Generic_job_log("100%s done %n %d\n");
  Generic_log_enabled = 1;
  std::string after = ReadFile(path);
  if (existed) {
    ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(before.size())), 0);
  } else {
    unlink(path.c_str());
  }
  ASSERT_GE(after.size(), before.size());
  std::string added = after.substr(before.size());
  EXPECT_TRUE(Matches(added, std::string("^") + kStamp +
                                 " \\[[a-z_]*:[0-9]+\\] 100%s done %n %d$"))
      << added;
  EXPECT_EQ(CountOf(added, "\n"), 1);
}

}  // namespace

// Tests of the brokering layer's own log: the start banner, levels, the
// "M/D HH:MM:SS [module:line] " prefix, rotation to ".old", paths that
// cannot be logged to, the error, abort and job-log entries, and the writer
// replacement; and the refusals that keep a root process from writing
// through planted links or into other accounts' files, and the modes new
// logs get. The log state is process-wide; each test starts from a reset
// state and a fresh directory.
#include "nbx/generic_log.h"

#include <errno.h>
#include <fcntl.h>
#include <regex.h>
#include <sched.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/nbx/nbx_test_support.h"
#include "tests/support/layer_log_capture.h"

#define NBX_LOG_MODULE "logtest"

namespace {

using nbx_test::ChildReport;
using nbx_test::CountOf;
using nbx_test::FileExists;
using nbx_test::RunInChild;
using torvel_test::ReadFile;
using torvel_test::TempDir;

// An account that owns nothing on the machine.
const uid_t kOtherUid = 4244;

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
    std::string log_ = dir_.Path("nbx.log");
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
    std::string sub = dir_.Path("sub");
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
                        std::to_string(ECONNREFUSED) + ": " + strerror(ECONNREFUSED) + "\n"),
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
    EXPECT_TRUE(Matches(text, "\\] PID [0-9]+ EXITING with failure \\(status 1\\)$")) << text;
}

TEST_F(GenericLogTest, StopSilencesAndResumeLineIsDropped) {
    Generic_logInit(log_.c_str(), D_FULL, 64000);
    Generic_stop_logging();
    NBX_LOG(D_BASIC, "while stopped\n");
    Generic_resume_logging();
    NBX_LOG(D_BASIC, "after resume\n");
    std::string text = ReadFile(log_);
    std::string pid = std::to_string(getpid());
    EXPECT_NE(text.find("NBX logging stopped for process [pid=" + pid + "]\n"), std::string::npos);
    EXPECT_EQ(text.find("while stopped"), std::string::npos);
    EXPECT_EQ(text.find("NBX logging resumed"), std::string::npos);
    EXPECT_NE(text.find("after resume"), std::string::npos);

    // Resuming while logging is on writes the resume line.
    Generic_resume_logging();
    EXPECT_NE(ReadFile(log_).find("NBX logging resumed for process [pid=" + pid + "]\n"),
              std::string::npos);
}

TEST_F(GenericLogTest, ReplacedWriterReceivesEveryLine) {
    torvel_test::LayerLogCapture log;  // replaces the writer while it lives
    const std::vector<std::string> &captured = log.Lines();
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
    EXPECT_TRUE(
        Matches(added, std::string("^") + kStamp + " \\[[a-z_]*:[0-9]+\\] 100%s done %n %d$"))
        << added;
    EXPECT_EQ(CountOf(added, "\n"), 1);
}

// Sends the child's standard error to path, for the refusal lines.
void StderrTo(const std::string &path) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    close(fd);
}

mode_t ModeOf(const std::string &path) {
    struct stat status;
    return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// A link planted at the log's path, before start-up or between two lines,
// is refused with one line on standard error and never written through.
TEST_F(GenericLogTest, PlantedLinkAtTheLogPathIsNeverFollowed) {
    std::string failures = RunInChild([this](ChildReport &r) {
        std::string target = dir_.Path("target");
        std::string errors = dir_.Path("stderr");
        StderrTo(errors);
        FILE *file = fopen(target.c_str(), "w");
        fputs("precious\n", file);
        fclose(file);
        CHILD_EXPECT_EQ(r, 0, symlink(target.c_str(), log_.c_str()));
        Generic_logInit(log_.c_str(), D_BASIC, 64000);
        CHILD_EXPECT_EQ(r, std::string(""), std::string(Generic_logfile));
        CHILD_EXPECT_EQ(r, std::string("precious\n"), ReadFile(target));
        CHILD_EXPECT_EQ(r, "NBX log: not writing to " + log_ + ": it is a symbolic link\n",
                        ReadFile(errors));

        // Swapped for a link after start-up: the next line stops the log.
        unlink(log_.c_str());
        Generic_logInit(log_.c_str(), D_BASIC, 64000);
        CHILD_EXPECT_EQ(r, log_, std::string(Generic_logfile));
        unlink(log_.c_str());
        CHILD_EXPECT_EQ(r, 0, symlink(target.c_str(), log_.c_str()));
        NBX_LOG(D_BASIC, "must not reach the target\n");
        NBX_LOG(D_BASIC, "nor this one\n");
        CHILD_EXPECT_EQ(r, std::string(""), std::string(Generic_logfile));
        CHILD_EXPECT_EQ(r, std::string("precious\n"), ReadFile(target));
        CHILD_EXPECT_EQ(r, 2, CountOf(ReadFile(errors), "\n"));
    });
    EXPECT_EQ(failures, "");
}

TEST_F(GenericLogTest, LogOwnedByAnotherAccountIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: to give a file to another account";
    std::string failures = RunInChild([this](ChildReport &r) {
        std::string errors = dir_.Path("stderr");
        StderrTo(errors);
        FILE *file = fopen(log_.c_str(), "w");
        fclose(file);
        CHILD_EXPECT_EQ(r, 0, chown(log_.c_str(), kOtherUid, kOtherUid));
        Generic_logInit(log_.c_str(), D_BASIC, 64000);
        CHILD_EXPECT_EQ(r, std::string(""), std::string(Generic_logfile));
        CHILD_EXPECT_EQ(r, std::string(""), ReadFile(log_));
        CHILD_EXPECT_EQ(r, "NBX log: not writing to " + log_ + ": it belongs to another account\n",
                        ReadFile(errors));
    });
    EXPECT_EQ(failures, "");
}

// Under umask 0 the log is 0644 at most, and 0600 in a directory others
// may write; rotation keeps that for both generations.
TEST_F(GenericLogTest, NewLogsAreNeverWritableByOthers) {
    std::string failures = RunInChild([this](ChildReport &r) {
        umask(0);
        Generic_logInit(log_.c_str(), D_BASIC, 64000);
        CHILD_EXPECT_EQ(r, 0644u, ModeOf(log_));
        unlink(log_.c_str());
        NBX_LOG(D_BASIC, "recreated\n");
        CHILD_EXPECT_EQ(r, 0644u, ModeOf(log_));

        std::string shared = dir_.Path("shared");
        mkdir(shared.c_str(), 0);
        chmod(shared.c_str(), 01777);
        std::string path = shared + "/nbx.log";
        Generic_logInit(path.c_str(), D_BASIC, 300);
        CHILD_EXPECT_EQ(r, 0600u, ModeOf(path));
        while (!FileExists(path + ".old")) NBX_LOG(D_BASIC, "filler\n");
        CHILD_EXPECT_EQ(r, 0600u, ModeOf(path + ".old"));
        CHILD_EXPECT_EQ(r, 0600u, ModeOf(path));
    });
    EXPECT_EQ(failures, "");
}

TEST_F(GenericLogTest, LogDescriptorIsCloseOnExec) {
    int fd = Generic_openLog(log_.c_str());
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    close(fd);
}

// The job log's path is fixed in /tmp; this test works in a /tmp of its
// own (a private mount namespace), so it neither disturbs nor sees other
// users of the machine's /tmp.
TEST_F(GenericLogTest, JobLogInTmpRefusesPlantedFilesAndIsPrivate) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root: for a private /tmp";
    std::string failures = RunInChild([](ChildReport &r) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) {
            r.Fail(__LINE__, std::string("no private /tmp: ") + strerror(errno));
            return;
        }
        const std::string path = "/tmp/Genericlog";
        StderrTo("/tmp/stderr");
        FILE *file = fopen("/tmp/target", "w");
        fputs("precious\n", file);
        fclose(file);
        CHILD_EXPECT_EQ(r, 0, symlink("/tmp/target", path.c_str()));
        Generic_job_log("through the link\n");
        CHILD_EXPECT_EQ(r, std::string("precious\n"), ReadFile("/tmp/target"));

        unlink(path.c_str());
        file = fopen(path.c_str(), "w");
        fclose(file);
        CHILD_EXPECT_EQ(r, 0, chown(path.c_str(), kOtherUid, kOtherUid));
        Generic_job_log("into another account's file\n");
        CHILD_EXPECT_EQ(r, std::string(""), ReadFile(path));
        CHILD_EXPECT_EQ(r,
                        std::string("NBX log: not writing to /tmp/Genericlog: it is a symbolic "
                                    "link\nNBX log: not writing to /tmp/Genericlog: it belongs "
                                    "to another account\n"),
                        ReadFile("/tmp/stderr"));

        unlink(path.c_str());
        umask(0);
        Generic_job_log("created private\n");
        CHILD_EXPECT_EQ(r, 0600u, ModeOf(path));
        CHILD_EXPECT(r, ReadFile(path).find("created private\n") != std::string::npos);
    });
    EXPECT_EQ(failures, "");
}

}  // namespace

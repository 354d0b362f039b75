// The log's own fatal exit (status 44): a main log that cannot be opened,
// written or sought, the report on standard error or in the LOG directory,
// the cleanup hook and the silence afterwards, and the panic for exhausted
// descriptors.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include <string>

#include "config/macro_table.h"
#include "debug_log_fixture.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "identity/privileges.h"

namespace {

using debug_log_test::DebugLogTest;
using debug_log_test::MatchesWhole;

std::string IdsLine() {
    return "euid: " + std::to_string(geteuid()) + ", ruid: " + std::to_string(getuid()) + "\n";
}

// The report's first line, as a pattern.
const char kFirstLine[] =
    "[0-9]{1,2}/[0-9]{1,2} [0-9]{2}:[0-9]{2}:[0-9]{2} dprintf\\(\\) had a fatal error in pid "
    "[0-9]+\n";

// Every test that sets LOG does so in its child, so the runner's ConfigTab
// stays empty.
using DprintfExitTest = DebugLogTest;

TEST_F(DprintfExitTest, MainLogInMissingDirectory) {
    std::string path = SetLog(0, "missing/dir/log");
    std::string open_text = "Can't open \"" + path + "\"\n";
    EXPECT_EXIT(dprintf(D_ALWAYS, "x\n"), testing::ExitedWithCode(44),
                "^" + open_text + kFirstLine + open_text + "errno: 2 \\(" + strerror(ENOENT) +
                    "\\)\n" + IdsLine() + "$");
}

TEST_F(DprintfExitTest, MainLogThatCannotBeWritten) {
    free(DebugFile[0]);
    DebugFile[0] = strdup("/dev/full");
    EXPECT_EXIT(dprintf(D_ALWAYS, "x\n"), testing::ExitedWithCode(44),
                std::string(kFirstLine) + "Can't write to DebugFile \"/dev/full\"\nerrno: " +
                    std::to_string(ENOSPC) + " \\(" + strerror(ENOSPC) + "\\)\n");
}

// Opening for appending seeks to the end; a log that cannot seek (here the
// write end of a pipe) ends the process as the main log and is skipped as
// a per-category log, with or without a size limit.
TEST_F(DprintfExitTest, LogThatCannotSeek) {
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    std::string pipe_path = "/proc/self/fd/" + std::to_string(ends[1]);
    std::string main = SetLog(0, "main");
    const int fulldebug_level = 11;  // D_FULLDEBUG is bit 10
    DebugFile[fulldebug_level] = strdup(pipe_path.c_str());
    DebugFlags = static_cast<int>(D_ALWAYS | D_FULLDEBUG | D_NOHEADER);
    for (int limit : {0, 1000}) {
        MaxLog[fulldebug_level] = limit;
        dprintf(D_FULLDEBUG, "line %d\n", limit);
    }
    EXPECT_EQ("line 0\nline 1000\n", Read(main));
    char byte;
    EXPECT_EQ(-1, read(ends[0], &byte, 1));  // nothing went into the pipe
    EXPECT_EQ(EAGAIN, errno);

    free(DebugFile[0]);
    DebugFile[0] = strdup(pipe_path.c_str());
    for (int limit : {0, 1000}) {
        MaxLog[0] = limit;
        EXPECT_EXIT(dprintf(D_ALWAYS, "x\n"), testing::ExitedWithCode(44),
                    std::string(kFirstLine) + "Can't seek to end of DebugFP file\nerrno: " +
                        std::to_string(ESPIPE) + " ");
    }
    close(ends[0]);
    close(ends[1]);
}

TEST_F(DprintfExitTest, ReportGoesIntoTheLogDirectory) {
    std::string path = SetLog(0, "missing/log");
    EXPECT_EXIT(
        {
            insert("LOG", dir_.c_str(), ConfigTab, CONFIG_TABLE_SIZE);
            dprintf(D_ALWAYS, "x\n");
        },
        testing::ExitedWithCode(44), "^Can't open \"[^\"]*\"\n$");
    std::string report = Read(Path("dprintf_failure.TOOL"));
    std::string expected = std::string(kFirstLine) + "Can't open \"" + path + "\"\nerrno: 2 \\(" +
                           strerror(ENOENT) + "\\)\n" + IdsLine();
    EXPECT_TRUE(MatchesWhole(report, expected)) << report;
}

TEST_F(DprintfExitTest, UnwritableLogDirectoryFallsBackToStandardError) {
    EXPECT_EXIT(
        {
            std::string missing = dir_ + "/no/such";
            insert("LOG", missing.c_str(), ConfigTab, CONFIG_TABLE_SIZE);
            _torvel_dprintf_exit(0, "plain message\n");
        },
        testing::ExitedWithCode(44),
        std::string("^") + kFirstLine + "plain message\n" + IdsLine() +
            "$");  // no errno line for error 0
}

// Set up by the next test: once the cleanup hook runs, the log is
// reconfigured to a writable file, which must still receive nothing.
std::string *writable_log = nullptr;
void CleanupThenLog(int line, int error, const char *message) {
    fprintf(stderr, "cleanup %d [%s]", line, message);
    free(DebugLock);
    DebugLock = nullptr;
    free(DebugFile[0]);
    DebugFile[0] = strdup(writable_log->c_str());
    dprintf(D_ALWAYS, "after the failure\n");
}

TEST_F(DprintfExitTest, CleanupRunsAndNothingIsWrittenAfterwards) {
    std::string good = SetLog(0, "good");
    writable_log = &good;
    free(DebugLock);
    DebugLock = strdup(Path("a/b/lock").c_str());
    EXPECT_EXIT(
        {
            _EXCEPT_Cleanup = CleanupThenLog;
            dprintf(D_ALWAYS, "x\n");
        },
        testing::ExitedWithCode(44), "cleanup 821 \\[dprintf hit fatal errors\n\\]$");
    EXPECT_FALSE(Exists(good));
    writable_log = nullptr;
}

TEST_F(DprintfExitTest, DirectPanicWritesIntoTheMainLog) {
    // The panic switches ids; learning them first keeps the account lookup
    // (and its log line) out of the panic, which has no descriptors for it.
    init_torvel_ids();
    std::string path = SetLog(0, "main");
    Write(path, "start\n");
    EXPECT_EXIT(_torvel_fd_panic(77, "somewhere.cpp"), testing::ExitedWithCode(44), "");
    EXPECT_EQ("start\n**** PANIC -- OUT OF FILE DESCRIPTORS at line 77 in somewhere.cpp\n",
              Read(path));
}

// The soft descriptor limit of the process before LogWithoutDescriptors
// lowered it; put back on the way out, so that what runs at exit (a leak
// checker, say) has descriptors again.
rlim_t original_soft_limit = 0;
void RestoreDescriptorLimit(int, int, const char *) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = original_soft_limit;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// Lowers the soft descriptor limit to the descriptors already open, then
// logs.
void LogWithoutDescriptors() {
    int probe = open("/dev/null", O_RDONLY);
    if (probe < 0) {
        exit(1);
    }
    close(probe);
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        exit(2);
    }
    original_soft_limit = limit.rlim_cur;
    limit.rlim_cur = static_cast<rlim_t>(probe);
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) {
        exit(3);
    }
    _EXCEPT_Cleanup = RestoreDescriptorLimit;
    dprintf(D_ALWAYS, "needs a descriptor\n");
    exit(5);
}

TEST_F(DprintfExitTest, ExhaustedDescriptorsPanic) {
    // The panic switches ids; learning them first keeps the account lookup
    // (and its log line) out of the panic, which has no descriptors for it.
    init_torvel_ids();
    std::string path = SetLog(0, "main");
    Write(path, "start\n");
    EXPECT_EXIT(LogWithoutDescriptors(), testing::ExitedWithCode(44), "");
    std::string text = Read(path);
    EXPECT_TRUE(MatchesWhole(text,
                             "start\n\\*\\*\\*\\* PANIC -- OUT OF FILE DESCRIPTORS at line "
                             "[0-9]+ in .*debug_lock.cpp\n"))
        << text;
}

}  // namespace

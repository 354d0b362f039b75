// Writing debug lines once the log is set up: the header and its modifiers,
// category selection, per-category logs, what a write restores (errno,
// umask, signal mask, DebugFlags, privilege state), the final user state,
// saved lines, touching the log, and fatal errors landing in the log.
#include "diagnostics/debug_log.h"

#include <errno.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <string>
#include <vector>

#include "debug_log_fixture.h"
#include "diagnostics/except.h"
#include "identity/privileges.h"
#include "tests/support/output_capture.h"

namespace {

using debug_log_test::DebugLogTest;
using debug_log_test::kHeader;
using debug_log_test::MatchesWhole;

std::string HeaderAt(time_t when) {
    struct tm local;
    localtime_r(&when, &local);
    char text[64];
    snprintf(text, sizeof text, "%d/%d %02d:%02d:%02d ", local.tm_mon + 1, local.tm_mday,
             local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

TEST_F(DebugLogTest, HeaderIsMonthDayAndTime) {
    std::string path = SetLog(0, "main");
    time_t before = time(nullptr);
    dprintf(D_ALWAYS, "hello %d\n", 5);
    time_t after = time(nullptr);
    std::string text = Read(path);
    bool at_a_second_of_the_call = false;
    for (time_t t = before; t <= after; ++t) {
        at_a_second_of_the_call |= text == HeaderAt(t) + "hello 5\n";
    }
    EXPECT_TRUE(at_a_second_of_the_call) << text;
    EXPECT_EQ(nullptr, DebugFP);  // the main log is closed after each line
}

void WriteId(FILE *stream) {
    fputs("[id] ", stream);
}

TEST_F(DebugLogTest, HeaderModifiers) {
    std::string path = SetLog(0, "main");
    DebugFlags = D_ALWAYS | D_PID;
    dprintf(D_ALWAYS, "pid\n");
    dprintf(D_ALWAYS | D_FDS, "both\n");
    dprintf(D_ALWAYS | D_NOHEADER, "bare\n");
    DebugId = WriteId;
    dprintf(D_ALWAYS, "id\n");
    DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    dprintf(D_ALWAYS, "bare too\n");
    std::string pid = "\\(pid:" + std::to_string(getpid()) + "\\) ";
    EXPECT_TRUE(MatchesWhole(Read(path), std::string("") + kHeader + pid + "pid\n" + kHeader +
                                             "\\(fd:[0-9]+\\) " + pid + "both\n" + "bare\n" +
                                             kHeader + pid + "\\[id] id\n" + "bare too\n"))
        << Read(path);
}

// A line far longer than any buffer keeps its header, identification and
// text in order, in the main log, a category log and a caller's stream;
// the short line after it is exact too.
TEST_F(DebugLogTest, LongLineIsWrittenExactly) {
    std::string path = SetLog(0, "main");
    std::string config_log = SetLog(13, "config");
    DebugFlags = D_ALWAYS | D_CONFIG | D_PID;
    DebugId = WriteId;
    std::string text(200000, 'x');
    for (size_t i = 0; i < text.size(); i += 1000) {
        text[i] = static_cast<char>('a' + i / 1000 % 26);
    }
    dprintf(D_CONFIG, "%s|%d\n", text.c_str(), 7);
    dprintf(D_CONFIG, "short\n");
    // The header by pattern, the rest (too long for a pattern) exactly.
    std::string head = std::string(kHeader) + "\\(pid:" + std::to_string(getpid()) + "\\) \\[id] ";
    for (const std::string &log : {path, config_log}) {
        std::string written = Read(log);
        size_t first = written.find("[id] ") + 5;
        size_t second = written.find("[id] ", first) + 5;
        ASSERT_TRUE(first > 5 && second > first) << log;
        EXPECT_TRUE(MatchesWhole(written.substr(0, first), head)) << log;
        EXPECT_EQ(text + "|7\n", written.substr(first, text.size() + 3)) << log;
        EXPECT_TRUE(MatchesWhole(
            written.substr(first + text.size() + 3, second - first - text.size() - 3), head))
            << log;
        EXPECT_EQ("short\n", written.substr(second)) << log;
    }

    free(DebugFile[0]);
    DebugFile[0] = nullptr;
    FILE *stream = tmpfile();
    ASSERT_NE(nullptr, stream);
    DebugFP = stream;
    DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    dprintf(D_ALWAYS, "%s\n", text.c_str());
    rewind(stream);
    std::string written(text.size() + 10, '\0');
    written.resize(fread(&written[0], 1, written.size(), stream));
    EXPECT_EQ(text + "\n", written);
}

TEST_F(DebugLogTest, OnlySelectedCategoriesAreWritten) {
    std::string path = SetLog(0, "main");
    DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    dprintf(D_FULLDEBUG, "hidden\n");
    dprintf(D_ALWAYS | D_FULLDEBUG, "shown\n");
    EXPECT_EQ("shown\n", Read(path));
}

// Code compiled with _FORTIFY_SOURCE reaches dprintf as
// __dprintf_chk(flags, level, format, ...); the line still goes to the log,
// never to the descriptor the C library's function would take flags for.
extern "C" int __dprintf_chk(int flags, int level, const char *format, ...);

TEST_F(DebugLogTest, FortifiedEntryWritesToTheLog) {
    std::string path = SetLog(0, "main");
    DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    // The C library's function would write this to descriptor 1.
    EXPECT_EQ(0, __dprintf_chk(D_ALWAYS, 1, "checked %s %d\n", "line", 7));
    __dprintf_chk(D_FULLDEBUG, 1, "hidden\n");
    EXPECT_EQ("checked line 7\n", Read(path));
}

// The category is tested inline before any call; that test must agree with
// the function's: flags evaluated once, a line of a category that is off
// skipped with its arguments, and before set-up every line kept whatever
// its category, for a later replay with other categories on.
int flag_reads = 0;
int CountedFlags(int flags) {
    ++flag_reads;
    return flags;
}
int argument_reads = 0;
const char *CountedText(const char *text) {
    ++argument_reads;
    return text;
}

TEST_F(DebugLogTest, InlineCategoryTestAgreesWithTheFunction) {
    std::string path = SetLog(0, "main");
    DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    flag_reads = argument_reads = 0;
    dprintf(CountedFlags(D_FULLDEBUG), "%s\n", CountedText("off"));
    dprintf(CountedFlags(D_FULLDEBUG | D_ALWAYS), "%s\n", CountedText("on"));
    EXPECT_EQ(2, flag_reads);
    EXPECT_EQ(1, argument_reads);
    EXPECT_EQ("on\n", Read(path));

    _torvel_dprintf_works = 0;
    dprintf(D_FULLDEBUG, "kept while %s", "unconfigured");
    _torvel_dprintf_works = 1;
    DebugFlags |= D_FULLDEBUG;
    _torvel_dprintf_saved_lines();
    EXPECT_EQ("on\nkept while unconfigured\n", Read(path));
}

// Lines are written through a buffer of the log's own: a line far longer
// than it still arrives whole, and the next one after it.
TEST_F(DebugLogTest, LineLongerThanTheBufferArrivesWhole) {
    std::string path = SetLog(0, "main");
    DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    std::string longest(20000, 'l');
    dprintf(D_ALWAYS, "%s\n", longest.c_str());
    dprintf(D_ALWAYS, "after\n");
    EXPECT_EQ(longest + "\nafter\n", Read(path));
}

TEST_F(DebugLogTest, CategoryLogsGetTheirCategoryOnly) {
    std::string main_log = SetLog(0, "main");
    std::string config_log = SetLog(13, "config");    // bit 12, D_CONFIG
    std::string full_log = SetLog(11, "fulldebug");   // bit 10, D_FULLDEBUG
    std::string failure_log = SetLog(28, "failure");  // bit 27, D_FAILURE
    DebugFlags = static_cast<int>(D_ALWAYS | D_CONFIG | D_FULLDEBUG | D_NOHEADER);
    dprintf(D_ALWAYS, "a\n");
    dprintf(D_CONFIG, "c\n");
    dprintf(D_CONFIG | D_FULLDEBUG, "cf\n");
    dprintf(D_FAILURE, "not selected\n");
    EXPECT_EQ("a\nc\ncf\n", Read(main_log));
    EXPECT_EQ("c\ncf\n", Read(config_log));
    EXPECT_EQ("cf\n", Read(full_log));
    EXPECT_EQ("<missing>", Read(failure_log));
}

TEST_F(DebugLogTest, UnopenableCategoryLogIsSkipped) {
    std::string main_log = SetLog(0, "main");
    std::string config_log = SetLog(13, "missing/config");
    DebugFlags = static_cast<int>(D_ALWAYS | D_CONFIG | D_NOHEADER);
    torvel_test::OutputCapture captured_err(STDERR_FILENO);
    dprintf(D_CONFIG, "still here\n");
    std::string err = captured_err.Finish();
    EXPECT_EQ("still here\n", Read(main_log));
    EXPECT_EQ("Can't open \"" + config_log + "\"\n", err);
}

// Regression: a category log used to leave DebugFP null, so a caller's main
// stream was replaced by standard error after the first category line.
TEST_F(DebugLogTest, CallerStreamSurvivesCategoryLogs) {
    FILE *stream = tmpfile();
    ASSERT_NE(nullptr, stream);
    DebugFP = stream;
    std::string config_log = SetLog(13, "config");
    DebugFlags = static_cast<int>(D_ALWAYS | D_CONFIG | D_NOHEADER);
    dprintf(D_CONFIG, "one\n");
    dprintf(D_CONFIG, "two\n");
    EXPECT_EQ(stream, DebugFP);
    EXPECT_EQ("one\ntwo\n", Read(config_log));
    rewind(stream);
    char text[64] = {};
    EXPECT_EQ(8u, fread(text, 1, sizeof text - 1, stream));
    EXPECT_STREQ("one\ntwo\n", text);
}

// What the DebugId hook sees while a line is being written.
struct DuringWrite {
    int flags = -1;
    mode_t mask = 0;
    priv_state priv = PRIV_UNKNOWN;
    bool blocked_int = false;
    bool blocked_term = false;
    bool blocked_usr2 = false;
    bool blocked_segv = true;
    bool blocked_abrt = true;
};
DuringWrite during;

void RecordDuringWrite(FILE *) {
    during.flags = DebugFlags;
    during.mask = umask(0);
    umask(during.mask);
    during.priv = get_priv();
    sigset_t now;
    sigprocmask(SIG_BLOCK, nullptr, &now);
    during.blocked_int = sigismember(&now, SIGINT) == 1;
    during.blocked_term = sigismember(&now, SIGTERM) == 1;
    during.blocked_usr2 = sigismember(&now, SIGUSR2) == 1;
    during.blocked_segv = sigismember(&now, SIGSEGV) == 1;
    during.blocked_abrt = sigismember(&now, SIGABRT) == 1;
}

bool SameSignalMask(const sigset_t &a, const sigset_t &b) {
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sigismember(&a, sig) != sigismember(&b, sig)) {
            return false;
        }
    }
    return true;
}

TEST_F(DebugLogTest, WriteBlocksSignalsAndRestoresEverything) {
    std::string path = SetLog(0, "main");
    DebugId = RecordDuringWrite;
    DebugFlags = D_ALWAYS | D_CONFIG;
    sigset_t usr1, before, after;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, &before);
    sigprocmask(SIG_BLOCK, nullptr, &before);
    mode_t old_mask = umask(077);
    priv_state old_priv = _set_priv(PRIV_ROOT, __FILE__, __LINE__, 0);

    errno = EACCES;
    dprintf(D_CONFIG, "line\n");
    int error = errno;

    sigprocmask(SIG_BLOCK, nullptr, &after);
    mode_t mask_after = umask(old_mask);
    priv_state priv_after = _set_priv(old_priv, __FILE__, __LINE__, 0);
    sigprocmask(SIG_UNBLOCK, &usr1, nullptr);

    EXPECT_EQ(EACCES, error);
    EXPECT_EQ(077u, mask_after);
    EXPECT_TRUE(SameSignalMask(before, after));
    EXPECT_EQ(D_ALWAYS | D_CONFIG, DebugFlags);
    EXPECT_EQ(PRIV_ROOT, priv_after);

    EXPECT_EQ(0, during.flags);  // nested lines are dropped
    EXPECT_EQ(022u, during.mask);
    EXPECT_EQ(PRIV_TORVEL, during.priv);
    EXPECT_TRUE(during.blocked_int);
    EXPECT_TRUE(during.blocked_term);
    EXPECT_TRUE(during.blocked_usr2);
    EXPECT_FALSE(during.blocked_segv);
    EXPECT_FALSE(during.blocked_abrt);

    // The log was created under the write's umask, not the caller's.
    struct stat status;
    ASSERT_EQ(0, stat(path.c_str(), &status));
    EXPECT_EQ(0644u, status.st_mode & 0777);
}

// The final user state is one-way, so it is tried in a child that reports
// by its exit status what differed. The user is an id without an account
// (switching to a user whose ids are unknown ends the process).
int WriteAsFinalUser(const std::string &path) {
    if (!set_user_ids(4403, 4403)) {
        return 6;
    }
    _set_priv(PRIV_USER_FINAL, __FILE__, __LINE__, 0);
    DebugFlags = D_ALWAYS;
    sigset_t usr1, before, after;
    sigemptyset(&usr1);
    sigaddset(&usr1, SIGUSR1);
    sigprocmask(SIG_BLOCK, &usr1, nullptr);
    sigprocmask(SIG_BLOCK, nullptr, &before);
    umask(027);
    errno = EPERM;
    dprintf(D_ALWAYS, "never\n");
    int error = errno;
    sigprocmask(SIG_BLOCK, nullptr, &after);
    if (access(path.c_str(), F_OK) == 0) {
        return 1;
    }
    if (DebugFlags != D_ALWAYS) {
        return 2;
    }
    if (umask(0) != 027) {
        return 3;
    }
    if (!SameSignalMask(before, after)) {
        return 4;
    }
    if (error != EPERM) {
        return 5;
    }
    return 0;
}

TEST_F(DebugLogTest, FinalUserStateWritesNothingAndRestoresState) {
    std::string path = SetLog(0, "main");
    EXPECT_EXIT(exit(WriteAsFinalUser(path)), testing::ExitedWithCode(0), "^$");
}

// The effective gid and groups in force while a line is written.
gid_t egid_during = 0;
std::vector<gid_t> groups_during;

void RecordGroupsDuringWrite(FILE *) {
    egid_during = getegid();
    groups_during.assign(64, 0);
    int count = getgroups(64, groups_during.data());
    groups_during.resize(count > 0 ? static_cast<size_t>(count) : 0);
}

// Whether every group of one list is in the other or is gid.
bool Within(const std::vector<gid_t> &some, const std::vector<gid_t> &all, gid_t gid) {
    for (gid_t g : some) {
        if (g != gid && std::find(all.begin(), all.end(), g) == all.end()) {
            return false;
        }
    }
    return true;
}

// A line written for a caller in a user's ids (groups: the user's gid) is
// written with the service account's access and none of the user's groups;
// the caller has its own ids again afterwards. Reported by exit status.
int WriteAsUser(const std::string &path) {
    if (!set_user_ids(4403, 4403)) {
        return 6;
    }
    _set_priv(PRIV_USER, __FILE__, __LINE__, 0);
    DebugId = RecordGroupsDuringWrite;
    DebugFlags = D_ALWAYS;
    dprintf(D_ALWAYS, "as user\n");
    DebugId = nullptr;
    gid_t service_gid = get_torvel_gid();
    std::vector<gid_t> service(64);
    int count = static_cast<int>(service.size());
    if (getgrouplist(get_torvel_username(), service_gid, service.data(), &count) < 0) {
        return 7;
    }
    service.resize(static_cast<size_t>(count));
    gid_t after[8];
    int after_count = getgroups(8, after);
    if (access(path.c_str(), F_OK) != 0) {
        return 1;
    }
    if (egid_during != service_gid) {
        return 2;
    }
    if (!Within(groups_during, service, service_gid) ||
        !Within(service, groups_during, service_gid)) {
        return 3;
    }
    if (after_count != 1 || after[0] != 4403 || getegid() != 4403 || geteuid() != 4403) {
        return 4;
    }
    return 0;
}

TEST_F(DebugLogTest, LineIsWrittenWithTheServiceAccountsGroupsOnly) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: to switch ids";
    }
    std::string path = SetLog(0, "main");
    // Back to root before exiting, for the leak check at exit.
    auto write_as_user = [&path] {
        int code = WriteAsUser(path);
        _set_priv(PRIV_ROOT, __FILE__, __LINE__, 0);
        return code;
    };
    EXPECT_EXIT(exit(write_as_user()), testing::ExitedWithCode(0), "^$");
}

TEST_F(DebugLogTest, SavedLinesKeepTheirCategoriesAndOrder) {
    DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    SetLog(0, "earlier");
    _torvel_dprintf_saved_lines();  // lines left by earlier tests go here
    std::string path = SetLog(0, "main");

    _torvel_dprintf_works = 0;
    dprintf(D_ALWAYS, "first %d", 1);
    dprintf(D_FULLDEBUG, "not selected");
    dprintf(D_ALWAYS | D_FULLDEBUG, "second %s", "two");
    dprintf(D_ALWAYS, "third");
    EXPECT_EQ("<missing>", Read(path));  // kept in memory only

    _torvel_dprintf_works = 1;
    _torvel_dprintf_saved_lines();
    EXPECT_EQ("first 1\nsecond two\nthird\n", Read(path));
    _torvel_dprintf_saved_lines();  // the list is empty now
    EXPECT_EQ("first 1\nsecond two\nthird\n", Read(path));
}

// A program that never sets its log up must not grow without end: only the
// newest 1 MiB of saved lines is kept, and the replay first says how many
// of the oldest were dropped.
TEST_F(DebugLogTest, SavedLinesAreBoundedAndTheReplaySaysHowManyWent) {
    DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
    SetLog(0, "earlier");
    _torvel_dprintf_saved_lines();  // lines left by earlier tests go here
    std::string path = SetLog(0, "main");

    constexpr int kLines = 20000;  // about 2 MiB of text
    std::string pad(90, 'p');
    _torvel_dprintf_works = 0;
    for (int i = 0; i < kLines; ++i) {
        dprintf(D_ALWAYS, "line %06d %s", i, pad.c_str());
    }
    _torvel_dprintf_works = 1;
    _torvel_dprintf_saved_lines();

    std::string text = Read(path);
    unsigned long dropped = 0;
    ASSERT_EQ(
        1, sscanf(text.c_str(),
                  "Dropped the %lu oldest debug lines saved before the log was set up\n", &dropped))
        << text.substr(0, 200);
    ASSERT_GT(dropped, 0u);
    ASSERT_LT(dropped, static_cast<unsigned long>(kLines));
    size_t at = text.find('\n') + 1;
    EXPECT_LE(text.size() - at, 1u << 20);
    // What is left is the newest lines, each once, in order.
    for (int i = static_cast<int>(dropped); i < kLines; ++i) {
        char line[128];
        int n = snprintf(line, sizeof line, "line %06d %s\n", i, pad.c_str());
        ASSERT_EQ(0, text.compare(at, static_cast<size_t>(n), line)) << "line " << i;
        at += static_cast<size_t>(n);
    }
    EXPECT_EQ(text.size(), at);
}

TEST_F(DebugLogTest, TouchLogOnlyOnceSetUp) {
    std::string path = SetLog(0, "main");
    Write(path, "x\n");
    struct utimbuf old_times = {1000, 1000};
    ASSERT_EQ(0, utime(path.c_str(), &old_times));
    struct stat status;

    _torvel_dprintf_works = 0;
    dprintf_touch_log();
    ASSERT_EQ(0, stat(path.c_str(), &status));
    EXPECT_EQ(1000, status.st_mtime);

    _torvel_dprintf_works = 1;
    time_t before = time(nullptr);
    dprintf_touch_log();
    ASSERT_EQ(0, stat(path.c_str(), &status));
    EXPECT_GE(status.st_mtime, before);
    EXPECT_GE(status.st_atime, before);

    time_t saved = DebugLastMod;
    DebugLastMod = 123456;
    EXPECT_EQ(123456, dprintf_last_modification());
    DebugLastMod = saved;
}

TEST_F(DebugLogTest, FatalErrorGoesToTheLogOnceSetUp) {
    std::string main_log = SetLog(0, "main");
    std::string failure_log = SetLog(28, "failure");  // D_FAILURE
    EXPECT_EXIT(EXCEPT("bad %d", 3), testing::ExitedWithCode(4), "^$");
    std::string expected =
        std::string(kHeader) + "ERROR \"bad 3\" at line [0-9]+ in file .*debug_log_test.cpp\n";
    EXPECT_TRUE(MatchesWhole(Read(main_log), expected)) << Read(main_log);
    EXPECT_TRUE(MatchesWhole(Read(failure_log), expected)) << Read(failure_log);
}

}  // namespace

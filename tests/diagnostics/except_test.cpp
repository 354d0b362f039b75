// The fatal-error path and the in-memory debug lines kept before set-up.
#include "diagnostics/except.h"

#include <gtest/gtest.h>
#include <setjmp.h>

#include <string>

#include "diagnostics/debug_log.h"

TEST(Except, ReportsPositionOnStandardErrorAndExitsFour) {
    EXPECT_EXIT(EXCEPT("broken %d", 7), testing::ExitedWithCode(4),
                "ERROR \"broken 7\" at line [0-9]+ in file .*except_test.cpp");
}

TEST(Except, AssertionNamesTheCondition) {
    int value = 3;
    EXPECT_EXIT(ASSERT(value == 4), testing::ExitedWithCode(4),
                "Assertion ERROR on \\(value == 4\\)");
}

namespace {
int cleanup_line = 0;
void record_cleanup(int line, int, const char *message) {
    cleanup_line = line;
    fprintf(stderr, "cleanup saw [%s]\n", message);
}
}  // namespace

TEST(Except, CallsCleanupBeforeExit) {
    EXPECT_EXIT(
        {
            _EXCEPT_Cleanup = record_cleanup;
            EXCEPT("why");
        },
        testing::ExitedWithCode(4), "cleanup saw \\[why\\]");
}

namespace {
jmp_buf trap_jump;
int trapped_status = 0;
std::string trapped_line;
bool trap_armed = false;
void jump_back(int status, const char *line) {
    if (trap_armed) {
        trapped_status = status;
        trapped_line = line;
        longjmp(trap_jump, 1);
    }
}
}  // namespace

TEST(Except, TrapTakesTheErrorOverBeforeAnythingIsPrinted) {
    EXPECT_EXIT(
        {
            _torvel_fatal_trap = jump_back;
            trap_armed = true;
            if (setjmp(trap_jump) == 0) {
                EXCEPT("broken %d", 8);
            }
            fprintf(stderr, "back with %d [%s]\n", trapped_status, trapped_line.c_str());
            // A trap that returns lets the error end the process as usual.
            trap_armed = false;
            EXCEPT("second");
        },
        testing::ExitedWithCode(4),
        "^back with 4 \\[ERROR \"broken 8\" at line [0-9]+ in file .*except_test.cpp\\]\n"
        "ERROR \"second\" at line");
}

TEST(Except, LongMessagesAreCutNotOverflowed) {
    std::string huge(20000, 'x');
    EXPECT_EXIT(EXCEPT("%s", huge.c_str()), testing::ExitedWithCode(4), "ERROR \"x+");
}

TEST(DebugLog, LinesBeforeSetUpAreKeptThenWrittenInOrder) {
    EXPECT_EXIT(
        {
            dprintf(D_ALWAYS, "first %d", 1);
            dprintf(D_ALWAYS, "second");
            DebugFlags = D_ALWAYS | D_NOHEADER;
            _torvel_dprintf_works = 1;
            _torvel_dprintf_saved_lines();
            _torvel_dprintf_saved_lines();  // the list is empty now
            exit(0);
        },
        testing::ExitedWithCode(0), "^first 1\nsecond\n$");
}

TEST(DebugLog, OnlySelectedCategoriesAreWritten) {
    EXPECT_EXIT(
        {
            DebugFlags = D_ALWAYS | D_NOHEADER;
            _torvel_dprintf_works = 1;
            dprintf(D_FULLDEBUG, "hidden\n");
            dprintf(D_ALWAYS | D_FULLDEBUG, "shown\n");
            exit(0);
        },
        testing::ExitedWithCode(0), "^shown\n$");
}

TEST(DebugLog, ReplayBeforeSetUpLeavesTheSavedLinesAlone) {
    EXPECT_EXIT(
        {
            dprintf(D_ALWAYS, "kept\n");
            _torvel_dprintf_saved_lines();  // still unconfigured: nothing happens
            _torvel_dprintf_saved_lines();
            DebugFlags = D_ALWAYS | D_NOHEADER;
            _torvel_dprintf_works = 1;
            _torvel_dprintf_saved_lines();
            exit(0);
        },
        testing::ExitedWithCode(0), "^kept\n\n$");
}

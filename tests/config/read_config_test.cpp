// Tests of Read_config: the line syntax and its errors, name and value
// expansion while reading, piped sources, the runtime-source checks and
// provenance records.
#include "config/read_config.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "config/line_reader.h"
#include "config/macro_expand.h"
#include "config/param_provenance.h"
#include "core/my_string.h"
#include "diagnostics/debug_log.h"
#include "reader_test_support.h"
#include "tests/support/interrupting_timer.h"
#include "tests/support/output_capture.h"

namespace {

using reader_test::LocalTable;
using reader_test::TempDir;

class ReadConfigTest : public ::testing::Test {
 protected:
    // Reads bytes as the file "config" of the temp dir; stdout and stderr
    // of the read are kept in out_ and err_.
    int Read(const std::string &bytes, int expand_mode = 1, ExtraParamTable *provenance = nullptr) {
        path_ = dir_.Write("config", bytes);
        return ReadSource(path_, expand_mode, false, provenance);
    }
    int ReadSource(const std::string &source, int expand_mode = 1, bool runtime_checks = false,
                   ExtraParamTable *provenance = nullptr) {
        torvel_test::OutputCapture captured_out(STDOUT_FILENO);
        torvel_test::OutputCapture captured_err(STDERR_FILENO);
        int result = Read_config(source.c_str(), table_.heads, table_.size, expand_mode,
                                 runtime_checks, provenance);
        fflush(stdout);
        out_ = captured_out.Finish();
        err_ = captured_err.Finish();
        return result;
    }
    // The fully expanded value of name, as param would see it.
    std::string Expanded(const char *name) {
        const char *raw = table_.Lookup(name);
        if (raw == nullptr) {
            return "<undefined>";
        }
        char *value = expand_macro(raw, table_.heads, table_.size);
        std::string result = value != nullptr ? value : "<error>";
        free(value);
        return result;
    }
    std::string Raw(const char *name) {
        const char *raw = table_.Lookup(name);
        return raw != nullptr ? raw : "<undefined>";
    }
    // A script in the temp dir printing text and exiting with status.
    std::string Script(const std::string &name, const std::string &text, int status) {
        return dir_.Write(
            name, "#!/bin/sh\nprintf '" + text + "'\nexit " + std::to_string(status) + "\n", 0755);
    }

    TempDir dir_;
    LocalTable<113> table_;
    std::string path_;
    std::string out_;
    std::string err_;
};

TEST_F(ReadConfigTest, SpellingsOfOneNameDefineOneEntryLastWins) {
    ASSERT_EQ(0, Read("Name = A\nNAME: B\nname=C\n"));
    EXPECT_EQ("C", Raw("name"));
    MacroTableCursor *iter = hash_iter_begin(table_.heads, table_.size);
    int entries = 0;
    for (; !hash_iter_done(iter); hash_iter_next(iter)) {
        ++entries;
    }
    hash_iter_delete(&iter);
    EXPECT_EQ(1, entries);
    EXPECT_EQ("", out_ + err_);
}

TEST_F(ReadConfigTest, ValueSyntax) {
    ASSERT_EQ(0, Read("A =   spaced value  \nB=\nC : x = y : z\nD B = 1\nE\t=\t# kept\n"
                      "F = 1 # not a comment\n"));
    EXPECT_EQ("spaced value", Raw("a"));
    EXPECT_EQ("", Raw("b"));
    EXPECT_EQ("x = y : z", Raw("c"));
    EXPECT_EQ("1", Raw("d"));  // "D B = 1" defines D
    EXPECT_EQ("<undefined>", Raw("d b"));
    EXPECT_EQ("# kept", Raw("e"));
    EXPECT_EQ("1 # not a comment", Raw("f"));
}

TEST_F(ReadConfigTest, CommentsAndBlankLinesAreSkipped) {
    ASSERT_EQ(0, Read("# comment = 1\n\n   \n  # indented = 2\nA = 1\n"));
    EXPECT_EQ("1", Raw("a"));
    EXPECT_EQ(5, ConfigLineNo);
}

TEST_F(ReadConfigTest, CommentEndingInBackslashSwallowsTheNextLine) {
    ASSERT_EQ(0, Read("# comment \\\nA = 1\nB = 2\n"));
    EXPECT_EQ("<undefined>", Raw("a"));
    EXPECT_EQ("2", Raw("b"));
}

TEST_F(ReadConfigTest, ContinuationLines) {
    ASSERT_EQ(0, Read("A = x \\\n    y\nB = 1,\\\n 2,\\\n 3\n"));
    EXPECT_EQ("x y", Raw("a"));
    EXPECT_EQ("1,2,3", Raw("b"));
}

TEST_F(ReadConfigTest, SectionLinesAreSkippedOthersFail) {
    ASSERT_EQ(0, Read("[Section]\nA = 1\n"));
    EXPECT_EQ("1", Raw("a"));

    EXPECT_EQ(-1, Read("A = 1\n[My Section]\nB = 2\n"));
    EXPECT_EQ(2, ConfigLineNo);
    EXPECT_EQ("<undefined>", Raw("b"));
    EXPECT_EQ("", out_ + err_);  // the reader itself prints nothing here

    EXPECT_EQ(-1, Read("\n\nJUNK\n"));
    EXPECT_EQ(3, ConfigLineNo);
    EXPECT_EQ("", out_ + err_);

    EXPECT_EQ(-1, Read("A B\n"));
    EXPECT_EQ(1, ConfigLineNo);
}

TEST_F(ReadConfigTest, EarlierAssignmentsStayAfterAnError) {
    EXPECT_EQ(-1, Read("A = 1\nB = 2\nJUNK\nC = 3\n"));
    EXPECT_EQ("1", Raw("a"));
    EXPECT_EQ("2", Raw("b"));
    EXPECT_EQ("<undefined>", Raw("c"));
}

TEST_F(ReadConfigTest, NamesAreExpandedAndChecked) {
    ASSERT_EQ(0, Read("A$(B) = 1\nX = pre\n$(X)_LOG = file\nv.1_ok = y\n"));
    EXPECT_EQ("1", Raw("a"));
    EXPECT_EQ("file", Raw("pre_log"));
    EXPECT_EQ("y", Raw("V.1_OK"));

    EXPECT_EQ(-1, Read("B = -\nA$(B) = 1\n"));
    EXPECT_EQ("Configuration Error File <" + path_ + ">, Line 2: Illegal Identifier: <A->\n", err_);
    EXPECT_EQ("<undefined>", Raw("a-"));
}

TEST_F(ReadConfigTest, EmptyNameIsAnIllegalIdentifier) {
    EXPECT_EQ(-1, Read("A = 1\n= 5\n"));
    EXPECT_EQ("Configuration Error File <" + path_ + ">, Line 2: Illegal Identifier: <>\n", err_);
    EXPECT_EQ(-1, Read(": 5\n"));
    EXPECT_EQ(-1, Read("$(UNDEFINED) = 5\n"));
    EXPECT_EQ("Configuration Error File <" + path_ + ">, Line 1: Illegal Identifier: <>\n", err_);
}

TEST_F(ReadConfigTest, NonAsciiNamesAreIllegalValuesAreKept) {
    EXPECT_EQ(-1, Read("caf\xc3\xa9 = 1\n"));
    // The name is quoted with its bytes outside printable ASCII escaped.
    EXPECT_EQ(
        "Configuration Error File <" + path_ + ">, Line 1: Illegal Identifier: <caf\\xc3\\xa9>\n",
        err_);
    ASSERT_EQ(0, Read("A = caf\xc3\xa9 \xff\n"));
    EXPECT_EQ("caf\xc3\xa9 \xff", Raw("a"));
}

TEST_F(ReadConfigTest, OverlongNamesAreRejectedClearly) {
    std::string longest(1023, 'n');
    ASSERT_EQ(0, Read(longest + " = fits\n"));
    EXPECT_EQ("fits", Raw(longest.c_str()));

    std::string too_long(1024, 'n');
    EXPECT_EQ(-1, Read("A = 1\n" + too_long + " = 1\n"));
    EXPECT_EQ(0u, err_.find("Configuration Error File <" + path_ +
                            ">, Line 2: Name longer than 1023 characters: <nnn"))
        << err_;
    // Also when the long name only appears after expansion.
    EXPECT_EQ(-1, Read("P = " + std::string(600, 'p') + "\n$(P)$(P) = 1\n"));
    EXPECT_NE(std::string::npos, err_.find("Line 2: Name longer than 1023 characters"));
}

// A bad name of megabytes, binary bytes included, is quoted by its first
// 200 bytes, escaped, with its length.
TEST_F(ReadConfigTest, HugeBadNameIsQuotedByAnExcerpt) {
    std::string name = "\x01" + std::string(2 * 1024 * 1024, 'n') + "-";
    EXPECT_EQ(-1, Read(name + " = 1\n"));
    std::string quoted =
        "\\x01" + std::string(199, 'n') + "... (" + std::to_string(name.size()) + " bytes)";
    EXPECT_EQ(
        "Configuration Error File <" + path_ + ">, Line 1: Illegal Identifier: <" + quoted + ">\n",
        err_);

    std::string long_name(2 * 1024 * 1024, 'n');
    EXPECT_EQ(-1, Read(long_name + " = 1\n"));
    EXPECT_EQ("Configuration Error File <" + path_ +
                  ">, Line 1: Name longer than 1023 "
                  "characters: <" +
                  std::string(200, 'n') + "... (2097152 bytes)>\n",
              err_);
}

TEST_F(ReadConfigTest, OverlongValuesAreStoredWhole) {
    std::string value(200000, 'v');
    ASSERT_EQ(0, Read("A = " + value + "\nB = 1\n"));
    EXPECT_EQ(value, Raw("a"));
    EXPECT_EQ("1", Raw("b"));
}

TEST_F(ReadConfigTest, NulBytesAreAnError) {
    EXPECT_EQ(-1, Read(std::string("A = 1\nB = x\0y\nC = 3\n", 20)));
    EXPECT_EQ("Configuration Error File <" + path_ + ">, Line 2: line holds a NUL byte\n", err_);
    EXPECT_EQ("1", Raw("a"));
    EXPECT_EQ("<undefined>", Raw("b"));
}

TEST_F(ReadConfigTest, SourcesWithoutNewlinesStopAtTheLengthBound) {
    EXPECT_EQ(-1, Read("A = 1\nB = " + std::string(LOGICAL_LINE_MAX, 'b') + "\n"));
    EXPECT_EQ("Configuration Error File <" + path_ + ">, Line 2: line longer than 16777216 bytes\n",
              err_);
}

TEST_F(ReadConfigTest, LastLineWithoutNewlineIsTrimmedAndCounted) {
    ASSERT_EQ(0, Read("A = 1\nB = 2   "));
    EXPECT_EQ("2", Raw("b"));
    EXPECT_EQ(2, ConfigLineNo);
    EXPECT_EQ(-1, Read("A = 1\nJUNK"));
    EXPECT_EQ(2, ConfigLineNo);
}

TEST_F(ReadConfigTest, SelfReferencesAreExpandedWhileReading) {
    ASSERT_EQ(0, Read("X = 1\nX = $(X),2\nY = $(X)\nZ = $(z) more\n"));
    EXPECT_EQ("1,2", Raw("x"));
    EXPECT_EQ("$(X)", Raw("y"));  // other references stay for later lookups
    EXPECT_EQ("1,2", Expanded("y"));
    EXPECT_EQ(" more", Raw("z"));  // undefined contributes nothing
}

TEST_F(ReadConfigTest, SelfReferenceModeLeavesSpecialsForLookups) {
    ASSERT_EQ(0, Read("A = $ENV(HOME) $RANDOM_CHOICE(a) $(DOLLAR) $$(A)\nA = $(A)!\n"));
    EXPECT_EQ("$ENV(HOME) $RANDOM_CHOICE(a) $(DOLLAR) $$(A)!", Raw("a"));
}

TEST_F(ReadConfigTest, ExpandModeTwoExpandsEverything) {
    setenv("READ_CONFIG_TEST_VAR", "env", 1);
    ASSERT_EQ(0, Read("X = 1\nY = $(X) $ENV(READ_CONFIG_TEST_VAR) $(DOLLAR)\n", 2));
    EXPECT_EQ("1 env $", Raw("y"));
    unsetenv("READ_CONFIG_TEST_VAR");
}

TEST_F(ReadConfigTest, ExpansionCyclesFailTheReadWithAMessage) {
    // Through a name: A and B refer to each other.
    EXPECT_EQ(-1, Read("A = $(B)\nB = $(A)\n$(A)_X = 1\n"));
    EXPECT_EQ(0u, err_.find("Configuration Error: $("));
    EXPECT_EQ(3, ConfigLineNo);

    // Through full expansion of a value: $(DOLLAR) lets references be
    // stored even in mode 2.
    EXPECT_EQ(-1, Read("A = $(DOLLAR)(B)x\nB = $(DOLLAR)(A)\nC = $(A)\n", 2));
    EXPECT_EQ(0u, err_.find("Configuration Error: "));
    EXPECT_EQ(3, ConfigLineNo);
}

TEST_F(ReadConfigTest, RunawaySelfReferencesFailTheRead) {
    // Doubling a value line by line passes the length bound.
    std::string text = "A = " + std::string(1000, 'a') + "\n";
    for (int i = 0; i < 12; ++i) {
        text += "A = $(A)$(A)\n";
    }
    EXPECT_EQ(-1, Read(text));
    EXPECT_EQ(0u, err_.find("Configuration Error: expanding $(A) makes the text longer than "
                            "262144 bytes"))
        << err_;
    EXPECT_EQ(10, ConfigLineNo);  // 1000 * 2^9 > 262144

    // A stored value that names itself makes self-expansion loop.
    clear_macro_table(table_.heads, table_.size);
    insert("a", "$(A)", table_.heads, table_.size);
    path_ = dir_.Write("loop", "A = $(A)\n");
    EXPECT_EQ(-1, ReadSource(path_));
    EXPECT_EQ(0u, err_.find("Configuration Error: $(A) still expanding after 4096 passes")) << err_;
}

TEST_F(ReadConfigTest, UnterminatedReferencesStayAsText) {
    ASSERT_EQ(0, Read("A = $(B\nB = $ENV(HOME\nC = $RANDOM_CHOICE(a,b\nD = $(bad name)\n", 2));
    EXPECT_EQ("$(B", Raw("a"));
    EXPECT_EQ("$ENV(HOME", Raw("b"));
    EXPECT_EQ("$RANDOM_CHOICE(a,b", Raw("c"));
    EXPECT_EQ("$(bad name)", Raw("d"));
}

TEST_F(ReadConfigTest, MissingFile) {
    std::string missing = dir_.path() + "/missing";
    EXPECT_EQ(-1, ReadSource(missing));
    EXPECT_EQ("Can't open file " + missing + "\n", out_);
    EXPECT_EQ("", err_);
}

// Only a regular file or /dev/null is read as a file source: a directory,
// a device, or a FIFO (which would block the start until a writer came) is
// refused at once, before a line is read.
TEST_F(ReadConfigTest, SourcesThatAreNotRegularFilesAreRefused) {
    std::string fifo = dir_.Path("fifo");
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    for (const std::string &source : {dir_.path(), std::string("/dev/zero"), fifo}) {
        EXPECT_EQ(-1, ReadSource(source));
        EXPECT_EQ("Configuration Error File <" + source + ">: not a regular file\n", err_) << out_;
        EXPECT_EQ(0, ConfigLineNo);
    }
    EXPECT_EQ(0, ReadSource("/dev/null"));
    EXPECT_EQ("", err_);
}

TEST_F(ReadConfigTest, EmptySourceIsLoggedNotAnError) {
    reader_test::LogCapture log(D_FULLDEBUG);
    EXPECT_EQ(0, Read(""));
    std::string warning = "WARNING: Config source is empty: " + path_ + "\n";
    EXPECT_NE(std::string::npos, log.Text().find(warning)) << log.Text();

    // Comments and blank lines are lines: no warning for them.
    EXPECT_EQ(0, Read("# only a comment\n"));
    EXPECT_EQ(0, Read("\n"));
    std::string logged = log.Text();
    EXPECT_EQ(std::string::npos, logged.find(warning, logged.find(warning) + 1)) << logged;
}

TEST_F(ReadConfigTest, PipedSourceIsRead) {
    std::string script = Script("emit", "A = 1\\nB = $(A)2\\n", 0);
    ASSERT_EQ(0, ReadSource(script + " |"));
    EXPECT_EQ("1", Raw("a"));
    EXPECT_EQ("12", Expanded("b"));
    EXPECT_EQ("", out_ + err_);
}

// A timer whose handler lacks SA_RESTART interrupts the read of a slow
// command's output: that read failed, "read failed: Interrupted system
// call", and so did the start of any such program.
TEST_F(ReadConfigTest, PipedSourceReadsThroughInterruptingSignals) {
    std::string script =
        dir_.Write("slow", "#!/bin/sh\nsleep 0.05\necho 'A = 1'\nsleep 0.05\necho 'B = 2'\n", 0755);
    int result = 0;
    int interrupts = 0;
    {
        torvel_test::InterruptingTimer timer;
        result = ReadSource(script + " |");
        interrupts = timer.Interrupts();
    }
    EXPECT_GT(interrupts, 10);
    EXPECT_EQ(0, result) << err_;
    EXPECT_EQ("", err_);
    EXPECT_EQ("1", Raw("a"));
    EXPECT_EQ("2", Raw("b"));
}

TEST_F(ReadConfigTest, PipedSourceWithV2QuotedArguments) {
    ASSERT_EQ(0, ReadSource("\"/bin/sh -c 'echo A = quoted'\" |"));
    EXPECT_EQ("quoted", Raw("a"));
}

TEST_F(ReadConfigTest, PipedSourceExitingNonZeroFails) {
    std::string script = Script("fail", "A = 1\\n", 1);
    std::string source = script + " |";
    EXPECT_EQ(-1, ReadSource(source));
    EXPECT_EQ("1", Raw("a"));  // every line was read
    EXPECT_EQ("Configuration Error File <" + source + ">: command terminated with exit code 256\n",
              err_);
}

TEST_F(ReadConfigTest, PipedSourceThatCannotBeExecutedFails) {
    std::string source = dir_.path() + "/no_such_program |";
    EXPECT_EQ(-1, ReadSource(source));
    // The child reports the failed exec with exit status 8.
    EXPECT_EQ("Configuration Error File <" + source + ">: command terminated with exit code 2048\n",
              err_);
}

TEST_F(ReadConfigTest, PipedSourceSyntaxErrorHidesTheExitStatus) {
    std::string source = Script("junk", "JUNK\\n", 3) + " |";
    EXPECT_EQ(-1, ReadSource(source));
    EXPECT_EQ("", err_);
}

TEST_F(ReadConfigTest, InvalidCommandsAreRejected) {
    EXPECT_EQ(-1, ReadSource("cmd | other"));
    EXPECT_EQ(
        "Specified cmd, cmd | other, not a valid command to execute.  It must have a '|' "
        "character at the end.\n",
        out_);
    EXPECT_EQ(-1, ReadSource(" |"));
    EXPECT_EQ("Can't open cmd  \n", out_);
    EXPECT_EQ(-1, ReadSource("\"unterminated |"));
    EXPECT_EQ("Can't open cmd \"unterminated \n", out_);
}

TEST(PipedCommandTest, Classification) {
    EXPECT_TRUE(is_piped_command("a|b"));
    EXPECT_TRUE(is_piped_command("cmd |"));
    EXPECT_FALSE(is_piped_command("/etc/torvel/torvel_config"));
    EXPECT_TRUE(is_valid_command("cmd |"));
    EXPECT_FALSE(is_valid_command("cmd | "));
    EXPECT_FALSE(is_valid_command("cmd | other"));
    EXPECT_FALSE(is_valid_command(""));
}

TEST_F(ReadConfigTest, RuntimeSourcesMayNotBePiped) {
    std::string marker = dir_.path() + "/ran";
    std::string script = dir_.Write("touch", "#!/bin/sh\ntouch " + marker + "\necho A = 1\n", 0755);
    std::string source = script + " |";
    EXPECT_EQ(-1, ReadSource(source, 1, true));
    EXPECT_EQ("Configuration Error File <" + source +
                  ">: runtime config not allowed to come from a pipe command\n",
              err_);
    EXPECT_NE(0, access(marker.c_str(), F_OK)) << "the refused command was run";
    EXPECT_EQ("<undefined>", Raw("a"));
}

TEST_F(ReadConfigTest, RuntimeSourceOwnedByOtherUidIsRefusedAsRoot) {
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root: to give the source to uid 4242";
    }
    path_ = dir_.Write("runtime", "A = 1\n");
    ASSERT_EQ(0, chown(path_.c_str(), 4242, 4242));
    EXPECT_EQ(-1, ReadSource(path_, 1, true));
    EXPECT_EQ("Configuration Error File <" + path_ +
                  ">, running as root yet runtime config file owned by uid 4242, not 0!\n",
              err_);
    EXPECT_EQ("<undefined>", Raw("a"));

    ASSERT_EQ(0, chown(path_.c_str(), 0, 0));
    EXPECT_EQ(0, ReadSource(path_, 1, true));
    EXPECT_EQ("1", Raw("a"));
}

// ---- Sources of a root process ----

TEST_F(ReadConfigTest, FilesOthersCanWriteAreRefusedWhileRoot) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: the refusal applies to a root process";
    }
    for (mode_t mode : {0666, 0646, 0664, 0620}) {
        path_ = dir_.Write("shared", "A = 1\n", mode);
        EXPECT_EQ(-1, ReadSource(path_)) << std::oct << mode;
        char expected[32];
        snprintf(expected, sizeof expected, "(mode %04o)\n", static_cast<unsigned>(mode));
        EXPECT_EQ("Configuration Error File <" + path_ +
                      ">: not read while running as root: writable by others " + expected,
                  err_);
        EXPECT_EQ("<undefined>", Raw("a"));
    }
    ASSERT_EQ(0, chmod(path_.c_str(), 0644));
    EXPECT_EQ(0, ReadSource(path_)) << err_;
    EXPECT_EQ("1", Raw("a"));
}

TEST_F(ReadConfigTest, FilesOwnedByAnotherAccountAreRefusedWhileRoot) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root: to give the file to uid 4243";
    }
    path_ = dir_.Write("theirs", "A = 1\n");
    ASSERT_EQ(0, chown(path_.c_str(), 4243, 4243));
    EXPECT_EQ(-1, ReadSource(path_));
    EXPECT_EQ("Configuration Error File <" + path_ +
                  ">: not read while running as root: owned by uid 4243, which is neither root "
                  "nor the service account\n",
              err_);
    EXPECT_EQ("<undefined>", Raw("a"));
}

TEST_F(ReadConfigTest, FileReaderNeverRunsANameWithABar) {
    std::string marker = dir_.path() + "/ran";
    dir_.Write("x", "#!/bin/sh\ntouch " + marker + "\necho A = command\n", 0755);
    std::string bar = dir_.Write("x|", "A = file\n");
    torvel_test::OutputCapture captured_out(STDOUT_FILENO);
    torvel_test::OutputCapture captured_err(STDERR_FILENO);
    int result =
        _torvel_read_config_file(bar.c_str(), table_.heads, table_.size, 1, false, nullptr);
    out_ = captured_out.Finish();
    err_ = captured_err.Finish();
    EXPECT_EQ(0, result) << out_ << err_;
    EXPECT_EQ("file", Raw("a"));
    EXPECT_NE(0, access(marker.c_str(), F_OK)) << "the file's name was run as a command";
}

// The check of a text before it is stored never ends the process, never
// touches the table it is given, and agrees with a runtime-checked read.
TEST_F(ReadConfigTest, CheckingAFileTouchesNoTableAndEndsNoProcess) {
    unsetenv("READ_CONFIG_TEST_UNSET");
    struct Case {
        const char *text;
        int result;
        int line;
    } cases[] = {
        {"A = 1\n# c\n[Section]\nB = $(A) $ENV(READ_CONFIG_TEST_UNSET)\n", 0, 4},
        {"A = 1\nNO OPERATOR\n", -1, 2},
        {"A = 1\nB-C = 2\n", -1, 2},
        {"A = 1\n$ENV(READ_CONFIG_TEST_UNSET) = 2\n", -1, 2},
        {"A = 1\nX$RANDOM_CHOICE() = 2\n", -1, 2},
        // Read for real, the name would bring in the unset variable.
        {"A = $ENV(READ_CONFIG_TEST_UNSET)\n$(A) = 2\n", -1, 2},
        {"A = 1\nB = x\0y\n", -1, 2},
    };
    for (const Case &c : cases) {
        std::string text(c.text);
        if (text == "A = 1\nB = x") {
            text.append("\0y\n", 3);
        }
        path_ = dir_.Write("checked", text);
        torvel_test::OutputCapture captured_err(STDERR_FILENO);
        int result = _torvel_check_config_file(path_.c_str());
        err_ = captured_err.Finish();
        EXPECT_EQ(c.result, result) << c.text << err_;
        EXPECT_EQ(c.line, ConfigLineNo) << c.text;
        if (c.result == 0) {
            EXPECT_EQ("", err_) << c.text;
        }
    }
    EXPECT_EQ(nullptr, lookup_macro("a", ConfigTab, CONFIG_TABLE_SIZE));
    EXPECT_EQ("<undefined>", Raw("a"));
}

// Checked into a table holding what the real read would find first, a
// name expands with those values, and what would end the process is
// refused with the reason instead of being carried out.
TEST_F(ReadConfigTest, CheckingIntoATableExpandsNamesWithItsValues) {
    unsetenv("READ_CONFIG_TEST_UNSET");
    insert("suffix", "-x", table_.heads, table_.size);
    insert("evil", "$ENV(READ_CONFIG_TEST_UNSET)", table_.heads, table_.size);
    insert("good", "_y", table_.heads, table_.size);
    struct Case {
        const char *text;
        int result;
        const char *reason;
    } cases[] = {
        {"A = 1\nNAME$(GOOD) = 2\n", 0, ""},
        {"A = 1\nNAME$(SUFFIX) = 2\n", -1, ", Line 2: Illegal Identifier: <NAME-x>\n"},
        {"N$(EVIL) = 1\n", -1,
         ", Line 1: the name <N$(EVIL)> does not expand: $ENV(READ_CONFIG_TEST_UNSET): not in the "
         "environment\n"},
        {"SUFFIX = _z\nN$(SUFFIX) = 1\n", 0, ""},
        {"X = 1\nNO OPERATOR\n", -1, ", Line 2: not an assignment: \"NO OPERATOR\"\n"},
    };
    for (const Case &c : cases) {
        LocalTable<113> scratch;
        for (const char *name : {"suffix", "evil", "good"}) {
            insert(name, table_.Lookup(name), scratch.heads, scratch.size);
        }
        MyString reason;
        path_ = dir_.Write("checked", c.text);
        torvel_test::OutputCapture captured_err(STDERR_FILENO);
        int from_file =
            _torvel_check_config_file(path_.c_str(), scratch.heads, scratch.size, &reason);
        err_ = captured_err.Finish();
        EXPECT_EQ(c.result, from_file) << c.text;
        std::string expected =
            c.reason[0] != '\0' ? "Configuration Error File <" + path_ + ">" + c.reason : "";
        EXPECT_EQ(expected, reason.Value()) << c.text;
        EXPECT_EQ("", err_) << c.text;

        // The same text from memory, into a fresh copy.
        LocalTable<113> again;
        for (const char *name : {"suffix", "evil", "good"}) {
            insert(name, table_.Lookup(name), again.heads, again.size);
        }
        MyString memory_reason;
        EXPECT_EQ(c.result, _torvel_check_config_text("<text>", c.text, again.heads, again.size,
                                                      &memory_reason))
            << c.text;
        if (c.result == 0) {
            EXPECT_STREQ("1", again.Lookup(c.text[0] == 'A' ? "a" : "n_z")) << c.text;
        }
    }
}

// A runtime setting is read from memory: no file is made for it.
TEST_F(ReadConfigTest, TextInMemoryIsReadWithItsNameInProvenance) {
    ExtraParamTable provenance;
    insert("b", "old", table_.heads, table_.size);
    EXPECT_EQ(0, _torvel_read_config_text("<runtime config r>", "A = 1\nB = $(B) new", table_.heads,
                                          table_.size, 1, &provenance));
    EXPECT_EQ("1", Raw("a"));
    EXPECT_EQ("old new", Raw("b"));
    MyString file;
    int line = 0;
    ASSERT_TRUE(provenance.GetParam("b", file, line));
    EXPECT_STREQ("<runtime config r>", file.Value());
    EXPECT_EQ(2, line);
    EXPECT_EQ(0, _torvel_read_config_text("<empty>", "", table_.heads, table_.size, 1, nullptr));
    torvel_test::OutputCapture captured_err(STDERR_FILENO);
    EXPECT_EQ(
        -1, _torvel_read_config_text("<bad>", "A-B = 1\n", table_.heads, table_.size, 1, nullptr));
    EXPECT_EQ("Configuration Error File <<bad>>, Line 1: Illegal Identifier: <A-B>\n",
              captured_err.Finish());
}

// Runs as uid 4243 in a grandchild: reading a root-owned runtime source
// must fail, one owned by 4243 must succeed. Exit status 0 when both hold.
int ReadRuntimeSourcesAsAnotherUser() {
    TempDir dir;
    chmod(dir.path().c_str(), 0755);
    std::string root_owned = dir.Write("runtime", "A = 1\n");
    std::string mine = dir.Write("mine", "A = 1\n");
    if (chown(mine.c_str(), 4243, 4243) != 0) {
        return 2;
    }
    pid_t child = fork();
    if (child == 0) {
        if (setgid(4243) != 0 || setuid(4243) != 0) {
            _exit(2);
        }
        LocalTable<113> table;
        int refused = Read_config(root_owned.c_str(), table.heads, table.size, 1, true, nullptr);
        int accepted = Read_config(mine.c_str(), table.heads, table.size, 1, true, nullptr);
        bool stored = table.Lookup("a") != nullptr;
        clear_macro_table(table.heads, table.size);
        fflush(stderr);
        _exit(refused == -1 && accepted == 0 && stored ? 0 : 3);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 5;
}

TEST(ReadConfigRuntimeTest, RuntimeSourceMustBeOwnedByTheUserWithoutRoot) {
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root: to become another uid";
    }
    // A fresh process, so that whether ids can be switched is settled only
    // after the uid change.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(exit(ReadRuntimeSourcesAsAnotherUser()), ::testing::ExitedWithCode(0),
                "running as uid 4243 yet runtime config file owned by uid 0!");
}

TEST_F(ReadConfigTest, ProvenanceRecordsFileAndLine) {
    ExtraParamTable provenance;
    ASSERT_EQ(0, Read("# first\nA = 1\n\nB = x \\\n  y\n", 1, &provenance));
    std::string first = path_;
    MyString file;
    int line = 0;
    ASSERT_TRUE(provenance.GetParam("A", file, line));
    EXPECT_STREQ(first.c_str(), file.Value());
    EXPECT_EQ(2, line);
    ASSERT_TRUE(provenance.GetParam("b", file, line));
    EXPECT_EQ(5, line);  // the last physical line of the assignment

    // Redefining in a later source moves the location.
    std::string second = dir_.Write("second", "\n\na = 2\n");
    ASSERT_EQ(0, ReadSource(second, 1, false, &provenance));
    ASSERT_TRUE(provenance.GetParam("a", file, line));
    EXPECT_STREQ(second.c_str(), file.Value());
    EXPECT_EQ(3, line);

    EXPECT_FALSE(provenance.GetParam("never", file, line));
    EXPECT_STREQ("<Undefined>", file.Value());
    EXPECT_EQ(-1, line);
}

using ReadConfigDeathTest = ReadConfigTest;

TEST_F(ReadConfigDeathTest, FatalExpansionsEndTheProcess) {
    unsetenv("READ_CONFIG_SURELY_UNSET");
    path_ = dir_.Write("env", "$ENV(READ_CONFIG_SURELY_UNSET) = 1\n");
    EXPECT_EXIT(Read_config(path_.c_str(), table_.heads, table_.size, 1, false, nullptr),
                ::testing::ExitedWithCode(4),
                "Can't find READ_CONFIG_SURELY_UNSET in environment!");
    path_ = dir_.Write("choice", "A = $RANDOM_CHOICE()\n");
    EXPECT_EXIT(Read_config(path_.c_str(), table_.heads, table_.size, 2, false, nullptr),
                ::testing::ExitedWithCode(4), "\\$RANDOM_CHOICE\\(\\) macro in config file empty!");
}

}  // namespace

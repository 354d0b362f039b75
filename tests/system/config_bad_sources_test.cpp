// Configuration sources a user can get wrong, tried from outside with the
// built torvel_config_val: a FIFO where a file is expected must be refused
// at once (it used to block the start before any check), and a huge bad
// line must be quoted by a short, escaped excerpt, not echoed whole.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const char kConfigVal[] = TORVEL_BINARY_DIR "/tools/torvel_config_val";

class ConfigBadSourcesTest : public testing::Test {
 protected:
    // Runs torvel_config_val X with TORVEL_CONFIG=config, for at most 10 s.
    torvel_test::ProgramRun Run(const std::string &config) {
        std::vector<std::string> env = torvel_test::SanitizerEnv();
        env.push_back("PATH=/usr/bin:/bin");
        env.push_back("TORVEL_CONFIG=" + config);
        torvel_test::ProgramOptions options;
        options.timeout_seconds = 10;
        return torvel_test::RunProgram(kConfigVal, {"X"}, env, options);
    }

    std::string Fifo(const std::string &name) {
        std::string path = dir_.Path(name);
        EXPECT_EQ(0, mkfifo(path.c_str(), 0644)) << path;
        return path;
    }

    torvel_test::TempDir dir_{"config_bad_sources"};
};

TEST_F(ConfigBadSourcesTest, FifoAsGlobalSourceIsRefusedWithoutBlocking) {
    std::string fifo = Fifo("torvel_config");
    torvel_test::ProgramRun run = Run(fifo);
    ASSERT_FALSE(run.timed_out) << "start-up blocked on the FIFO";
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos,
              run.err.find("Configuration Error File <" + fifo + ">: not a regular file"))
        << run.err;
}

TEST_F(ConfigBadSourcesTest, FifoInLocalConfigDirIsRefusedWithoutBlocking) {
    std::string local = dir_.MakeDir("conf.d");
    dir_.Write("conf.d/10-plain", "X = plain\n");
    std::string fifo = Fifo("conf.d/20-fifo");
    std::string config = dir_.Write("config", "LOCAL_CONFIG_DIR = " + local + "\n");
    torvel_test::ProgramRun run = Run(config);
    ASSERT_FALSE(run.timed_out) << "start-up blocked on the FIFO";
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos,
              run.err.find("Configuration Error File <" + fifo + ">: not a regular file"))
        << run.err;
    EXPECT_EQ("", run.out);
}

TEST_F(ConfigBadSourcesTest, FifoInLocalConfigFileListIsRefusedWithoutBlocking) {
    std::string fifo = Fifo("local");
    std::string config = dir_.Write("config", "X = 1\nLOCAL_CONFIG_FILE = " + fifo + "\n");
    torvel_test::ProgramRun run = Run(config);
    ASSERT_FALSE(run.timed_out) << "start-up blocked on the FIFO";
    EXPECT_EQ(1, run.status);
    EXPECT_NE(std::string::npos, run.err.find("not a regular file")) << run.err;
}

// A 2 MB name holding a control byte: the message quotes 200 bytes at most,
// escaped, and gives the length.
TEST_F(ConfigBadSourcesTest, HugeBadNameIsQuotedShortAndEscaped) {
    std::string name = std::string(2 * 1024 * 1024, 'N') + "\x01\x7f-";
    std::string config = dir_.Write("config", "A = 1\n" + name + " = 1\n");
    torvel_test::ProgramRun run = Run(config);
    EXPECT_EQ(1, run.status);
    EXPECT_LT(run.err.size(), 1000u) << run.err.substr(0, 1000);
    EXPECT_NE(std::string::npos, run.err.find("Illegal Identifier: <" + std::string(200, 'N') +
                                              "... (" + std::to_string(name.size()) + " bytes)>"))
        << run.err;
    std::string printable = "\n";
    for (char c = ' '; c < 0x7f; ++c) {
        printable += c;
    }
    EXPECT_EQ(std::string::npos, run.err.find_first_not_of(printable)) << run.err;
}

}  // namespace

// End-to-end tests of gt3_gahp_launcher: each test runs the built program in
// a child process with a temporary configuration (TORVEL_CONFIG) and a
// temporary GT3 tree, and an explicit minimal environment so the machine's
// own configuration and variables never take part. A shell script stands in
// for the Java virtual machine and prints what the exec handed it; one test
// starts the real JVM with the demo installation from the build tree.
#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/gt3_jars.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const char kLauncher[] = TORVEL_BINARY_DIR "/launcher/gt3_gahp_launcher";
const char kDemoConfig[] = TORVEL_BINARY_DIR "/demo/torvel_config";
const char kDemoTree[] = TORVEL_BINARY_DIR "/demo/gt3";

// Exits with a status of its own so a test can tell that the process really
// became the script.
const char kFakeJavaScript[] =
    "#!/bin/sh\n"
    "printf 'program=%s\\n' \"$0\"\n"
    "printf 'argc=%s\\n' \"$#\"\n"
    "for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
    "printf 'cwd=%s\\n' \"$(pwd -P)\"\n"
    "printf 'CLASSPATH=%s\\n' \"$CLASSPATH\"\n"
    "printf 'NET_REMAP_ENABLE=%s\\n' \"${NET_REMAP_ENABLE-<unset>}\"\n"
    "exit 7\n";
const int kFakeJavaStatus = 7;

const char kWebroot[] = "-Dorg.globus.ogsa.server.webroot=";

using RunResult = torvel_test::ProgramRun;

// How the child is set up before it execs the launcher.
struct RunOptions {
    std::vector<std::string> extra_env;
    std::vector<std::string> extra_args;
    std::string input;
    bool deny_chdir = false;
};

// Makes every later chdir of this process and its exec'd images fail with
// EACCES. Used because no file permission can let a directory be searched
// (so its jars can be examined) while refusing chdir into it.
bool deny_chdir() {
    struct sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_chdir, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (EACCES & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {static_cast<unsigned short>(sizeof(filter) / sizeof(filter[0])),
                                 filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

// Runs the launcher with config as TORVEL_CONFIG and collects its output.
RunResult run_launcher(const std::string &config, const RunOptions &options,
                       int timeout_seconds = 60) {
    std::vector<std::string> env = {"PATH=/usr/bin:/bin", "TORVEL_CONFIG=" + config};
    for (const std::string &entry : torvel_test::SanitizerEnv()) env.push_back(entry);
    for (const std::string &entry : options.extra_env) env.push_back(entry);
    torvel_test::ProgramOptions run_options;
    run_options.input = options.input;
    run_options.timeout_seconds = timeout_seconds;
    if (options.deny_chdir) run_options.child_setup = deny_chdir;
    run_options.setup_failed_status = 120;
    run_options.exec_failed_status = 121;
    RunResult result = torvel_test::RunProgram(kLauncher, options.extra_args, env, run_options);
    if (!result.failure.empty()) {
        ADD_FAILURE() << result.failure;
        return result;
    }
    if (result.input_short) {
        ADD_FAILURE() << "could not write the child's input";
    }
    if (result.timed_out) {
        ADD_FAILURE() << "launcher did not finish within " << timeout_seconds
                      << "s; stdout so far: " << result.out;
    }
    EXPECT_NE(result.status, 120) << "could not install the chdir filter";
    EXPECT_NE(result.status, 121) << "could not exec " << kLauncher;
    return result;
}

void write_file(const std::string &path, const std::string &text, mode_t mode) {
    ASSERT_TRUE(torvel_test::WriteFile(path, text, mode)) << path << ": " << strerror(errno);
}

// The class-path variable the launcher should build for location, computed
// independently of the launcher's own joining code.
std::string expected_class_path(const std::string &location) {
    std::string lib = location;
    if (lib.empty() || lib.back() != '/') lib += '/';
    lib += "lib/";
    std::string value = "CLASSPATH=";
    const std::vector<std::string> &jars = torvel_test::Gt3Jars();
    for (int i = static_cast<int>(jars.size()) - 1; i >= 0; --i) {
        value += lib + jars[i];
        if (i > 0) value += ':';
    }
    return value;
}

class LauncherTest : public testing::Test {
 protected:
    void SetUp() override {
        char pattern[] = "/tmp/launcher_test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr) << strerror(errno);
        char *real = realpath(pattern, nullptr);
        ASSERT_NE(real, nullptr);
        root_ = real;
        free(real);
        gt3_ = root_ + "/gt3";
        config_ = root_ + "/torvel_config";
        java_ = root_ + "/fake_java";
        ASSERT_EQ(mkdir(gt3_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((gt3_ + "/lib").c_str(), 0755), 0);
        for (const std::string &jar : torvel_test::Gt3Jars()) {
            write_file(jar_path(jar), "", 0644);
        }
        write_file(java_, kFakeJavaScript, 0755);
    }

    void TearDown() override {
        if (root_.empty()) return;
        torvel_test::RemoveTree(root_);
        EXPECT_NE(access(root_.c_str(), F_OK), 0) << root_ << " was not removed";
    }

    std::string jar_path(const std::string &jar) const { return gt3_ + "/lib/" + jar; }

    void write_config(const std::string &text) { write_file(config_, text, 0644); }

    // Writes a configuration naming java and location, and runs the launcher.
    RunResult run_with(const std::string &java, const std::string &location,
                       RunOptions options = RunOptions()) {
        write_config("JAVA = " + java + "\nGT3_LOCATION = " + location + "\n");
        return run_launcher(config_, options);
    }

    // What the fake Java prints when started by the launcher for location.
    std::string fake_java_report(const std::string &java, const std::string &location,
                                 const char *net_remap = "<unset>") const {
        return "program=" + java + "\n" + "argc=2\n" + "arg=" + kWebroot + location + "\n" +
               "arg=torvel.gahp.Gahp\n" + "cwd=" + gt3_ + "\n" + expected_class_path(location) +
               "\n" + "NET_REMAP_ENABLE=" + net_remap + "\n";
    }

    // Expects the launcher to have stopped with one error line and status 1.
    static void expect_error(const RunResult &result, const std::string &line) {
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, line);
        EXPECT_EQ(result.out, "");
    }

    std::string root_;
    std::string gt3_;
    std::string config_;
    std::string java_;
};

TEST_F(LauncherTest, ExecsJavaWithFullClassPathArgumentsAndDirectory) {
    RunOptions options;
    // An inherited class path must be replaced, not extended.
    options.extra_env = {"CLASSPATH=/inherited/stale.jar"};
    RunResult result = run_with(java_, gt3_, options);
    EXPECT_EQ(result.status, kFakeJavaStatus);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out, fake_java_report(java_, gt3_));
}

TEST_F(LauncherTest, ClassPathStartsWithLastJarAndEndsWithFirst) {
    RunResult result = run_with(java_, gt3_);
    ASSERT_EQ(result.status, kFakeJavaStatus);
    std::string::size_type start = result.out.find("CLASSPATH=");
    ASSERT_NE(start, std::string::npos);
    std::string value = result.out.substr(start, result.out.find('\n', start) - start);
    std::string lib = gt3_ + "/lib/";
    EXPECT_EQ(value.rfind("CLASSPATH=" + lib + "xmlsec.jar:" + lib + "xmlrpc-1.1.jar:", 0), 0u)
        << value;
    std::string tail = ":" + lib + "casClients.jar:" + lib + "axis.jar";
    ASSERT_GE(value.size(), tail.size());
    EXPECT_EQ(value.substr(value.size() - tail.size()), tail);
    int separators = 0;
    for (char c : value) separators += c == ':';
    EXPECT_EQ(separators, static_cast<int>(torvel_test::Gt3Jars().size()) - 1);
}

TEST_F(LauncherTest, LocationWithTrailingSlashGetsNoDoubleSlash) {
    RunResult result = run_with(java_, gt3_ + "/");
    EXPECT_EQ(result.status, kFakeJavaStatus);
    EXPECT_EQ(result.err, "");
    // The webroot keeps the slash as configured; the jar paths have one "/".
    EXPECT_EQ(result.out, fake_java_report(java_, gt3_ + "/"));
    EXPECT_EQ(result.out.find("//"), std::string::npos);
}

TEST_F(LauncherTest, CommandLineArgumentsAreNotPassedOn) {
    RunOptions options;
    options.extra_args = {"--verbose", "extra argument"};
    RunResult result = run_with(java_, gt3_, options);
    EXPECT_EQ(result.status, kFakeJavaStatus);
    EXPECT_EQ(result.out, fake_java_report(java_, gt3_));
}

TEST_F(LauncherTest, ToolPrefixedKeysWinOverPlainKeys) {
    std::string plain_java = root_ + "/plain_java";
    write_file(plain_java, kFakeJavaScript, 0755);
    // Both orders of definition: the prefixed key wins either way.
    for (bool prefixed_first : {true, false}) {
        std::string prefixed = "TOOL.JAVA = " + java_ + "\nTOOL.GT3_LOCATION = " + gt3_ + "\n";
        std::string plain = "JAVA = " + plain_java + "\nGT3_LOCATION = " + root_ + "/no_such_gt3\n";
        write_config(prefixed_first ? prefixed + plain : plain + prefixed);
        RunResult result = run_launcher(config_, RunOptions());
        EXPECT_EQ(result.status, kFakeJavaStatus) << result.err;
        EXPECT_EQ(result.out, fake_java_report(java_, gt3_))
            << "prefixed first: " << prefixed_first;
    }
}

TEST_F(LauncherTest, EnvironmentOverrideNamesTheLocation) {
    RunOptions options;
    options.extra_env = {"_torvel_GT3_LOCATION=" + gt3_};
    RunResult result = run_with(java_, root_ + "/no_such_gt3", options);
    EXPECT_EQ(result.status, kFakeJavaStatus) << result.err;
    EXPECT_EQ(result.out, fake_java_report(java_, gt3_));
}

TEST_F(LauncherTest, JavaInheritsNetworkRemappingSwitch) {
    write_config("JAVA = " + java_ + "\nGT3_LOCATION = " + gt3_ + "\nNET_REMAP_ENABLE = true\n");
    RunResult result = run_launcher(config_, RunOptions());
    EXPECT_EQ(result.status, kFakeJavaStatus) << result.err;
    EXPECT_EQ(result.out, fake_java_report(java_, gt3_, "true"));
}

TEST_F(LauncherTest, MissingJavaIsReported) {
    const char kMessage[] = "ERROR: JAVA not defined in your Torvel config file!\n";
    const std::string location = "GT3_LOCATION = " + gt3_ + "\n";
    // Undefined, defined empty, and empty after expansion.
    for (const std::string &java_line :
         {std::string(""), std::string("JAVA =\n"), std::string("JAVA = $(NO_SUCH_MACRO)\n")}) {
        write_config(java_line + location);
        RunResult result = run_launcher(config_, RunOptions());
        SCOPED_TRACE(java_line);
        expect_error(result, kMessage);
    }
}

TEST_F(LauncherTest, MissingLocationIsReported) {
    write_config("JAVA = " + java_ + "\n");
    expect_error(run_launcher(config_, RunOptions()),
                 "ERROR: GT3_LOCATION not defined in your Torvel config file!\n");
}

TEST_F(LauncherTest, NonexistentLocationIsInvalid) {
    std::string location = root_ + "/no_such_gt3";
    expect_error(run_with(java_, location), "ERROR: Invalid GT3_LOCATION: " + location + "\n");
}

TEST_F(LauncherTest, FirstMissingJarInWalkOrderIsReported) {
    ASSERT_EQ(unlink(jar_path("axis.jar").c_str()), 0);
    ASSERT_EQ(unlink(jar_path("xmlsec.jar").c_str()), 0);
    expect_error(run_with(java_, gt3_), "ERROR: Missing required jar file xmlsec.jar!\n");
}

TEST_F(LauncherTest, EveryJarIsChecked) {
    // Removing one jar at a time from the middle and both ends shows that the
    // walk reaches every position and names the bare file.
    for (const char *jar :
         {"axis.jar", "gt3-gahp.jar", "ogsa.jar", "xmlrpc-1.1.jar", "xmlsec.jar"}) {
        SCOPED_TRACE(jar);
        ASSERT_EQ(unlink(jar_path(jar).c_str()), 0);
        expect_error(run_with(java_, gt3_),
                     std::string("ERROR: Missing required jar file ") + jar + "!\n");
        write_file(jar_path(jar), "", 0644);
    }
}

TEST_F(LauncherTest, PlainFileLocationFailsAtFirstJar) {
    std::string file = root_ + "/plain_file";
    write_file(file, "not a directory\n", 0644);
    expect_error(run_with(java_, file), "ERROR: Missing required jar file xmlsec.jar!\n");
}

TEST_F(LauncherTest, UnreachableLocationIsReportedAfterChecks) {
    RunOptions options;
    options.deny_chdir = true;
    expect_error(run_with(java_, gt3_, options), "ERROR: Unable to cd into " + gt3_ + "!\n");
}

TEST_F(LauncherTest, FailedExecExits255Silently) {
    std::string not_executable = root_ + "/not_executable";
    write_file(not_executable, kFakeJavaScript, 0644);
    for (const std::string &java : {root_ + "/no_such_java", not_executable, gt3_}) {
        SCOPED_TRACE(java);
        RunResult result = run_with(java, gt3_);
        EXPECT_EQ(result.status, 255);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "");
    }
}

// The real virtual machine with the demo installation: the stand-in server
// reports what it was started with on standard error and answers on
// standard output.
TEST(LauncherDemoTest, StartsRealJavaServerWithDemoInstallation) {
    struct stat status;
    ASSERT_EQ(stat(kDemoConfig, &status), 0)
        << kDemoConfig << " is missing: build the gt3_demo target";
    // The configuration names the tree as the build saw it; the server's
    // working directory is its physical path.
    const std::string gt3 = kDemoTree;
    char *physical = realpath(kDemoTree, nullptr);
    ASSERT_NE(physical, nullptr) << kDemoTree << " is missing";
    const std::string cwd = physical;
    free(physical);

    RunOptions options;
    options.input = "VERSION\nCOMMANDS\nNO_SUCH_COMMAND now\nQUIT\nVERSION\n";
    RunResult result = run_launcher(kDemoConfig, options, 120);
    EXPECT_EQ(result.status, 0) << result.err;

    const std::string version = "$GahpVersion: 0.1.0 demo Torvel\\ GT3\\ GAHP\\ stand-in $";
    EXPECT_EQ(result.out, version + "\n" + "S " + version + "\n" + "S COMMANDS QUIT VERSION\n" +
                              "E Unknown\\ command: NO_SUCH_COMMAND\\ now\n" + "S\n");

    const std::string lib = gt3 + "/lib/";
    const std::vector<std::string> report = {
        "demo-gahp: main class: torvel.gahp.Gahp\n",
        "demo-gahp: jvm option: " + std::string(kWebroot) + gt3 + "\n",
        "demo-gahp: program arguments: 0\n",
        "demo-gahp: webroot: " + gt3 + "\n",
        "demo-gahp: working directory: " + cwd + "\n",
        "demo-gahp: CLASSPATH entries: 59\n",
        "demo-gahp: CLASSPATH first entry: " + lib + "xmlsec.jar\n",
        "demo-gahp: CLASSPATH last entry: " + lib + "axis.jar\n",
        "demo-gahp: java.class.path entries: 59\n",
        "demo-gahp: server class loaded from: file:" + lib + "gt3-gahp.jar\n",
    };
    for (const std::string &line : report) {
        EXPECT_NE(result.err.find(line), std::string::npos) << "missing: " << line << "in:\n"
                                                            << result.err;
    }
    // Exactly one JVM option: the webroot.
    std::string::size_type first = result.err.find("jvm option:");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(result.err.find("jvm option:", first + 1), std::string::npos);
}

}  // namespace

// Tests of configuration start-up: the search order of the global and root
// sources, local files and directories, the layering of every stage, the
// built-in macros, the "_torvel_" environment overrides, the placeholder
// scan, network remapping and publishing into an attribute list.
//
// Start-up reads /etc/torvel and the torvel account's home, so every load
// runs in the helper program config_probe inside a private mount namespace
// whose /etc is an overlay: the test's own torvel/ directory and passwd file
// (with or without a torvel account) lie over the machine's /etc, which is
// never touched. The namespace, and with it the overlay, ends with the probe.
#include "config/config_startup.h"

#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "classad/attr_list.h"
#include "config/config_fill_ad.h"
#include "files/directory.h"
#include "files/path_helpers.h"
#include "files/stat_info.h"
#include "gtest/gtest.h"
#include "tests/support/etc_overlay.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const char kProbe[] = TORVEL_BINARY_DIR "/tests/config_probe";
const char kPlaceholder[] = "YOU_MUST_CHANGE_THIS_INVALID_TORVEL_CONFIGURATION_VALUE";
// Exit status of a probe child whose namespace set-up failed.
constexpr int kSetupFailed = 125;

struct ProbeResult {
    int exit_code = -1;  // -1 when the probe did not exit normally
    std::string out;
    std::string err;

    // The value printed for NAME ("NAME=value"), or "<undefined>".
    std::string Value(const std::string &name) const {
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            if (line.compare(0, name.size() + 1, name + "=") == 0) {
                return line.substr(name.size() + 1);
            }
        }
        return "<undefined>";
    }
    bool HasLine(const std::string &wanted) const {
        std::istringstream lines(out);
        std::string line;
        while (std::getline(lines, line)) {
            if (line == wanted) {
                return true;
            }
        }
        return false;
    }
};

using torvel_test::RemoveTree;

std::string ShortHostName() {
    char buf[256] = {0};
    gethostname(buf, sizeof buf - 1);
    std::string name = buf;
    return name.substr(0, name.find('.'));
}

// Whether a child can get a private mount namespace with an overlay on
// /etc; reason says why not. Checked once per test program.
bool NamespaceUsable(std::string *reason) {
    static int usable = -1;
    static std::string why;
    if (usable < 0) {
        char tmpl[] = "/tmp/torvel_ns_XXXXXX";
        std::string dir = mkdtemp(tmpl);
        std::string upper = dir + "/upper", work = dir + "/work";
        mkdir(upper.c_str(), 0755);
        mkdir(work.c_str(), 0755);
        std::string opts = "lowerdir=/etc,upperdir=" + upper + ",workdir=" + work;
        pid_t pid = fork();
        if (pid == 0) {
            if (unshare(CLONE_NEWNS) != 0) _exit(1);
            if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) _exit(2);
            if (mount("overlay", "/etc", "overlay", 0, opts.c_str()) != 0) _exit(3);
            _exit(0);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        int code = WIFEXITED(status) ? WEXITSTATUS(status) : 4;
        const char *reasons[] = {"", "unshare(CLONE_NEWNS) is not permitted",
                                 "mount propagation cannot be made private",
                                 "an overlay cannot be mounted on /etc", "probe child died"};
        usable = code == 0 ? 1 : 0;
        why = reasons[code];
        RemoveTree(dir);
    }
    *reason = why;
    return usable == 1;
}

class ConfigStartupTest : public testing::Test {
 protected:
    void SetUp() override {
        std::string reason;
        if (!NamespaceUsable(&reason)) {
            GTEST_SKIP() << "no private mount namespace: " << reason;
        }
        char tmpl[] = "/tmp/torvel_cfg_XXXXXX";
        root_ = mkdtemp(tmpl);
        upper_ = root_ + "/upper";
        mkdir(upper_.c_str(), 0755);
        std::string etc_torvel = upper_ + "/torvel";
        mkdir(etc_torvel.c_str(), 0755);
        // Hide any /etc/torvel of the machine behind our own directory.
        if (setxattr(etc_torvel.c_str(), "trusted.overlay.opaque", "y", 1, 0) != 0 &&
            access("/etc/torvel", F_OK) == 0) {
            GTEST_SKIP() << "cannot hide the machine's /etc/torvel";
        }
    }

    void TearDown() override {
        if (!root_.empty()) {
            RemoveTree(root_);
        }
    }

    // Writes content to <tmp>/rel (parents created); returns the path.
    std::string Write(const std::string &rel, const std::string &content, mode_t mode = 0644) {
        std::string path = root_ + "/" + rel;
        for (size_t slash = path.find('/', root_.size() + 1); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            mkdir(path.substr(0, slash).c_str(), 0755);
        }
        std::ofstream(path, std::ios::binary) << content;
        chmod(path.c_str(), mode);
        return path;
    }
    std::string Dir(const std::string &rel) {
        std::string path = root_ + "/" + rel;
        mkdir(path.c_str(), 0755);
        return path;
    }
    std::string Path(const std::string &rel) const { return root_ + "/" + rel; }

    // A file in the namespace's /etc/torvel.
    void WriteEtcTorvel(const std::string &name, const std::string &content) {
        std::ofstream(upper_ + "/torvel/" + name, std::ios::binary) << content;
    }
    // Gives the namespace a torvel account whose home is home.
    void SetTorvelHome(const std::string &home) { torvel_home_ = home; }
    void Env(const std::string &name, const std::string &value) {
        env_.push_back(name + "=" + value);
    }

    ProbeResult Run(const std::vector<std::string> &args) {
        WritePasswd();
        std::string work = root_ + "/work" + std::to_string(++runs_);
        mkdir(work.c_str(), 0755);
        std::string opts = "lowerdir=/etc,upperdir=" + upper_ + ",workdir=" + work;

        std::vector<std::string> envs = {"PATH=/usr/bin:/bin"};
        for (const std::string &keep : torvel_test::SanitizerEnv()) envs.push_back(keep);
        envs.insert(envs.end(), env_.begin(), env_.end());
        torvel_test::ProgramOptions options;
        // In the child: a private mount namespace whose /etc is our overlay.
        options.child_setup = [&] {
            return unshare(CLONE_NEWNS) == 0 &&
                   mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                   mount("overlay", "/etc", "overlay", 0, opts.c_str()) == 0 &&
                   chdir(root_.c_str()) == 0;
        };
        options.setup_failed_status = kSetupFailed;
        options.exec_failed_status = kSetupFailed;
        torvel_test::ProgramRun run = torvel_test::RunProgram(kProbe, args, envs, options);
        ProbeResult result;
        result.exit_code = run.status;
        result.out = run.out;
        result.err = run.err;
        EXPECT_TRUE(run.failure.empty()) << run.failure;
        EXPECT_FALSE(run.timed_out) << "probe did not finish";
        EXPECT_NE(result.exit_code, kSetupFailed) << "probe set-up failed";
        return result;
    }

    std::string root_;
    std::string upper_;

 private:
    // The machine's accounts less any torvel account, plus ours if set.
    void WritePasswd() {
        std::ifstream in("/etc/passwd");
        std::ofstream out(upper_ + "/passwd");
        std::string line;
        while (std::getline(in, line)) {
            if (line.compare(0, 7, "torvel:") != 0) {
                out << line << "\n";
            }
        }
        if (!torvel_home_.empty()) {
            out << "torvel:x:4242:4242:Torvel:" << torvel_home_ << ":/bin/false\n";
        }
    }

    std::vector<std::string> env_;
    std::string torvel_home_;
    int runs_ = 0;
};

const char kNoGlobalSource[] =
    "\nNeither the environment variable TORVEL_CONFIG,\n"
    "/etc/torvel/, nor ~torvel/ contain a torvel_config source.\n"
    "Either set TORVEL_CONFIG to point to a valid config source,\n"
    "or put a \"torvel_config\" file in /etc/torvel or ~torvel/\n"
    "Exiting.\n\n";

// ---- Finding the global and root sources ----

TEST_F(ConfigStartupTest, EnvironmentVariableNamesTheGlobalSource) {
    std::string global = Write("g.conf", "FROM = env\n");
    WriteEtcTorvel("torvel_config", "FROM = etc\n");
    Env("TORVEL_CONFIG", global);
    ProbeResult r = Run({"--sources", "FROM"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("FROM"), "env");
    EXPECT_EQ(r.Value("GLOBAL"), global);
}

TEST_F(ConfigStartupTest, SearchOrderEtcThenTildeThenGlobus) {
    std::string home = Dir("home");
    Write("home/torvel_config", "FROM = tilde\n");
    Write("globus/etc/torvel_config", "FROM = globus\n");
    WriteEtcTorvel("torvel_config", "FROM = etc\n");
    SetTorvelHome(home);
    Env("GLOBUS_LOCATION", Path("globus"));

    ProbeResult r = Run({"--sources", "FROM", "TILDE"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("FROM"), "etc");
    EXPECT_EQ(r.Value("GLOBAL"), "/etc/torvel/torvel_config");
    EXPECT_EQ(r.Value("TILDE"), home);

    unlink((upper_ + "/torvel/torvel_config").c_str());
    r = Run({"--sources", "FROM"});
    EXPECT_EQ(r.Value("FROM"), "tilde");
    EXPECT_EQ(r.Value("GLOBAL"), home + "/torvel_config");

    unlink((home + "/torvel_config").c_str());
    r = Run({"--sources", "FROM"});
    EXPECT_EQ(r.Value("FROM"), "globus");
    EXPECT_EQ(r.Value("GLOBAL"), Path("globus") + "/etc/torvel_config");
}

TEST_F(ConfigStartupTest, NoGlobalSourceEndsWithTheFullOrQuietMessage) {
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, kNoGlobalSource);
    EXPECT_EQ(r.out, "");

    r = Run({"--quiet", "X"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Torvel error: can't find config source.\n");
}

TEST_F(ConfigStartupTest, RootSourceFoundByVariableAndInEtc) {
    std::string global = Write("g.conf", "X = global\n");
    Env("TORVEL_CONFIG", global);
    WriteEtcTorvel("torvel_config.root", "X = etc_root\n");
    ProbeResult r = Run({"--sources", "X"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("X"), "etc_root");
    EXPECT_EQ(r.Value("ROOT"), "/etc/torvel/torvel_config.root");

    std::string root = Write("r.conf", "X = env_root\n");
    Env("TORVEL_CONFIG_ROOT", root);
    r = Run({"--sources", "X"});
    EXPECT_EQ(r.Value("X"), "env_root");
    EXPECT_EQ(r.Value("ROOT"), root);
}

TEST_F(ConfigStartupTest, OnlyEnvReadsNoGlobalAndNoLocalSource) {
    std::string local = Write("local.conf", "FROM_LOCAL = yes\n");
    std::string root = Write("r.conf", "FROM_ROOT = yes\n");
    WriteEtcTorvel("torvel_config", "FROM_ETC = yes\n");
    Env("TORVEL_CONFIG", "Only_Env");
    Env("TORVEL_CONFIG_ROOT", root);
    Env("_torvel_FOO", "bar");
    Env("_torvel_LOCAL_CONFIG_FILE", local);
    ProbeResult r = Run({"--sources", "FOO", "FROM_ETC", "FROM_LOCAL", "FROM_ROOT"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("FOO"), "bar");
    EXPECT_TRUE(r.HasLine("FROM_ETC undefined"));
    EXPECT_TRUE(r.HasLine("FROM_LOCAL undefined"));
    EXPECT_EQ(r.Value("FROM_ROOT"), "yes");
    EXPECT_EQ(r.Value("GLOBAL"), "");
    EXPECT_EQ(r.Value("LOCALS"), "");
}

TEST_F(ConfigStartupTest, BadConfigVariablesEndWithTheirMessages) {
    std::string missing = Path("missing.conf");
    Env("TORVEL_CONFIG", missing);
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "File specified in TORVEL_CONFIG environment variable:\n\"" + missing +
                         "\" does not exist.\n");
}

TEST_F(ConfigStartupTest, ConfigVariableNamingADirectoryIsRefused) {
    std::string dir = Dir("confdir");
    Env("TORVEL_CONFIG", dir);
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "File specified in TORVEL_CONFIG environment variable:\n\"" + dir +
                         "\" is a directory.  Please specify a file.\n");
}

TEST_F(ConfigStartupTest, ConfigVariableThatCannotBeExaminedIsRefused) {
    std::string through_file = Write("plain", "") + "/x";
    Env("TORVEL_CONFIG", through_file);
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Cannot stat file specified in TORVEL_CONFIG environment variable:\n\"" +
                         through_file + "\", errno: " + std::to_string(ENOTDIR) + "\n");
}

TEST_F(ConfigStartupTest, CommandWithoutTrailingBarIsAMissingFile) {
    Env("TORVEL_CONFIG", "echo X=1");
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err,
              "File specified in TORVEL_CONFIG environment variable:\n\"echo X=1\" does not "
              "exist.\n");
}

TEST_F(ConfigStartupTest, BadRootVariableIsRefusedToo) {
    Env("TORVEL_CONFIG", Write("g.conf", "X = 1\n"));
    std::string missing = Path("missing.root");
    Env("TORVEL_CONFIG_ROOT", missing);
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "File specified in TORVEL_CONFIG_ROOT environment variable:\n\"" + missing +
                         "\" does not exist.\n");
}

// ---- Piped sources ----

TEST_F(ConfigStartupTest, PipedGlobalSourceIsRunNotExamined) {
    std::string script =
        Write("gen.sh",
              "#!/bin/sh\necho 'PIPED = yes'\necho 'LOCAL_CONFIG_FILE = " + Path("piped_local.sh") +
                  " |'\n",
              0755);
    Write("piped_local.sh", "#!/bin/sh\necho 'PIPED_LOCAL = also'\n", 0755);
    Env("TORVEL_CONFIG", script + " |");
    ProbeResult r = Run({"--sources", "PIPED", "PIPED_LOCAL"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("PIPED"), "yes");
    EXPECT_EQ(r.Value("PIPED_LOCAL"), "also");
    EXPECT_EQ(r.Value("GLOBAL"), script + " |");
    EXPECT_EQ(r.Value("LOCALS"), Path("piped_local.sh") + " |");
}

TEST_F(ConfigStartupTest, PipedSourceExitingNonZeroFails) {
    std::string script = Write("fail.sh", "#!/bin/sh\necho 'A = 1'\necho 'B = 2'\nexit 3\n", 0755);
    Env("TORVEL_CONFIG", script + " |");
    ProbeResult r = Run({"A"});
    EXPECT_EQ(r.exit_code, 1);
    std::string ours =
        "Configuration Error Line 2 while reading global config source " + script + " |\n";
    ASSERT_GE(r.err.size(), ours.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - ours.size()), ours);
    EXPECT_NE(r.err.find("command terminated with exit code"), std::string::npos) << r.err;
}

// ---- Local files and directories ----

TEST_F(ConfigStartupTest, LocalFileListThatRedefinesItselfIsFollowed) {
    std::string a = Path("a.conf"), b = Path("b.conf"), c = Path("c.conf");
    Write("a.conf", "FROM_A = 1\nLOCAL_CONFIG_FILE = " + a + " " + c + "\n");
    Write("b.conf", "FROM_B = 1\n");
    Write("c.conf", "FROM_C = 1\n");
    Env("TORVEL_CONFIG", Write("g.conf", "LOCAL_CONFIG_FILE = " + a + ", " + b + "\n"));
    ProbeResult r = Run({"--sources", "FROM_A", "FROM_B", "FROM_C"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("LOCALS"), a + "," + c);
    EXPECT_EQ(r.Value("FROM_A"), "1");
    EXPECT_TRUE(r.HasLine("FROM_B undefined"));
    EXPECT_EQ(r.Value("FROM_C"), "1");
}

TEST_F(ConfigStartupTest, LocalFileRestatingTheSameListChangesNothing) {
    std::string a = Path("a.conf"), b = Path("b.conf");
    std::string list = a + " " + b;
    Write("a.conf", "LOCAL_CONFIG_FILE = " + list + "\n");
    Write("b.conf", "FROM_B = 1\n");
    Env("TORVEL_CONFIG", Write("g.conf", "LOCAL_CONFIG_FILE = " + list + "\n"));
    ProbeResult r = Run({"--sources", "FROM_B"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("LOCALS"), a + "," + b);
    EXPECT_EQ(r.Value("FROM_B"), "1");
}

// A list is redefined also when a macro it refers to, directly or through
// another macro, changes: the expanded list is what counts.
TEST_F(ConfigStartupTest, LocalFileListFollowsAChangedMacroItRefersTo) {
    std::string d1 = Dir("d1"), d2 = Dir("d2");
    Write("d1/b.conf", "FROM = d1\n");
    Write("d2/b.conf", "FROM = d2\n");
    std::string a = Write("a.conf", "DIR = " + d2 + "\n");
    Env("TORVEL_CONFIG", Write("g.conf", "DIR = " + d1 + "\nSECOND = $(DIR)/b.conf\n" +
                                             "LOCAL_CONFIG_FILE = " + a + " $(SECOND)\n"));
    ProbeResult r = Run({"--sources", "FROM"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("LOCALS"), a + "," + d2 + "/b.conf");
    EXPECT_EQ(r.Value("FROM"), "d2");
}

// param tries "TOOL.LOCAL_CONFIG_FILE" first, and names are case-blind:
// a source defining either form redefines the list.
TEST_F(ConfigStartupTest, LocalFileListRedefinedThroughSubsystemKeyOrOtherCase) {
    std::string a = Path("a.conf"), b = Path("b.conf"), c = Path("c.conf"), d = Path("d.conf");
    Write("a.conf", "tool.local_config_file = " + a + " " + c + "\n");
    Write("b.conf", "FROM_B = 1\n");
    Write("c.conf", "Local_Config_File = " + d + "\nFROM_C = 1\n");
    Write("d.conf", "FROM_D = 1\n");
    Env("TORVEL_CONFIG", Write("g.conf", "LOCAL_CONFIG_FILE = " + a + " " + b + "\n"));
    ProbeResult r = Run({"--sources", "FROM_B", "FROM_C", "FROM_D"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // c.conf's plain key is hidden by the subsystem key: d.conf is not read.
    EXPECT_EQ(r.Value("LOCALS"), a + "," + c);
    EXPECT_TRUE(r.HasLine("FROM_B undefined"));
    EXPECT_EQ(r.Value("FROM_C"), "1");
    EXPECT_TRUE(r.HasLine("FROM_D undefined"));
}

// A list whose references cannot all be known beforehand ($ENV here) is
// still followed when a source changes what it expands to.
TEST_F(ConfigStartupTest, LocalFileListWithEnvironmentReferenceIsFollowed) {
    std::string a = Path("a.conf"), b = Path("b.conf"), c = Path("c.conf");
    Write("a.conf", "TAIL = " + c + "\n");
    Write("b.conf", "FROM_B = 1\n");
    Write("c.conf", "FROM_C = 1\n");
    Env("FIRST_LOCAL", a);
    Env("TORVEL_CONFIG",
        Write("g.conf", "TAIL = " + b + "\nLOCAL_CONFIG_FILE = $ENV(FIRST_LOCAL) $(TAIL)\n"));
    ProbeResult r = Run({"--sources", "FROM_B", "FROM_C"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("LOCALS"), a + "," + c);
    EXPECT_TRUE(r.HasLine("FROM_B undefined"));
    EXPECT_EQ(r.Value("FROM_C"), "1");
}

// Sources already read are left out of a redefined list wherever they
// stand in it, each as often as it is named.
TEST_F(ConfigStartupTest, RedefinedLocalFileListSkipsEverySourceAlreadyRead) {
    std::string a = Path("a.conf"), b = Path("b.conf"), c = Path("c.conf");
    Write("a.conf", "N = $(N)a\n");
    Write("b.conf",
          "N = $(N)b\nLOCAL_CONFIG_FILE = " + c + " " + a + "," + b + " " + a + " " + c + "\n");
    Write("c.conf", "N = $(N)c\n");
    Env("TORVEL_CONFIG", Write("g.conf", "N = g\nLOCAL_CONFIG_FILE = " + a + " " + b + "\n"));
    ProbeResult r = Run({"--sources", "N"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("N"), "gabcc");
    EXPECT_EQ(r.Value("LOCALS"), a + "," + b + "," + c + "," + c);
}

TEST_F(ConfigStartupTest, LocalDirectoryIsReadInByteOrderSkippingSubdirectories) {
    std::string dir = Dir("conf.d");
    // Created in an order that is neither the byte order nor its reverse.
    for (const char *name : {"9-x", "1-x", "2-x", "10-x"}) {
        Write(std::string("conf.d/") + name, std::string("ORDER = $(ORDER) ") + name + "\n");
    }
    Write("conf.d/5-sub/inner", "ORDER = $(ORDER) sub\n");
    Env("TORVEL_CONFIG", Write("g.conf", "ORDER = g\nLOCAL_CONFIG_DIR = " + dir + "\n"));
    ProbeResult r = Run({"--sources", "ORDER"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("ORDER"), "g 1-x 10-x 2-x 9-x");
    EXPECT_EQ(r.Value("LOCALS"), dir + "/1-x," + dir + "/10-x," + dir + "/2-x," + dir + "/9-x");
}

TEST_F(ConfigStartupTest, DirectoryListChangedByALocalFileIsReadAfterIt) {
    std::string d1 = Dir("d1"), d2 = Dir("d2");
    Write("d1/x", "ORDER = $(ORDER) d1\n");
    Write("d2/x", "ORDER = $(ORDER) d2\n");
    std::string lf = Write("lf.conf", "ORDER = $(ORDER) lf\nLOCAL_CONFIG_DIR = " + d2 + "\n");
    Env("TORVEL_CONFIG", Write("g.conf", "ORDER = g\nLOCAL_CONFIG_DIR = " + d1 +
                                             "\nLOCAL_CONFIG_FILE = " + lf + "\n"));
    ProbeResult r = Run({"ORDER"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("ORDER"), "g d1 lf d2");
}

TEST_F(ConfigStartupTest, DirectoryListFirstDefinedByALocalFileIsNotRead) {
    std::string d2 = Dir("d2");
    Write("d2/x", "ORDER = $(ORDER) d2\n");
    std::string lf = Write("lf.conf", "ORDER = $(ORDER) lf\nLOCAL_CONFIG_DIR = " + d2 + "\n");
    Env("TORVEL_CONFIG", Write("g.conf", "ORDER = g\nLOCAL_CONFIG_FILE = " + lf + "\n"));
    ProbeResult r = Run({"ORDER"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("ORDER"), "g lf");
}

TEST_F(ConfigStartupTest, MissingLocalFileIsFatalOnlyWhenRequired) {
    std::string missing = Path("missing.conf");
    std::string global = Write("g.conf", "X = 1\nLOCAL_CONFIG_FILE = " + missing + "\n");
    Env("TORVEL_CONFIG", global);
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "ERROR: Can't read config source " + missing + "\n");

    // A host given to config_host makes every unreadable source optional.
    r = Run({"--host", "somehost", "X", "HOSTNAME"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("HOSTNAME"), "somehost");

    Write("g.conf",
          "X = 1\nREQUIRE_LOCAL_CONFIG_FILE = False\nLOCAL_CONFIG_FILE = " + missing + ",\n");
    r = Run({"--sources", "X"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.Value("X"), "1");
    EXPECT_EQ(r.Value("LOCALS"), missing);
}

// ---- Sources of a root process ----

// A command source that leaves a marker file behind when it is run.
class RootSourcesTest : public ConfigStartupTest {
 protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root: the sources of a root process";
        }
        ConfigStartupTest::SetUp();
        marker_ = Path("ran");
        command_ =
            Write("cmd.sh", "#!/bin/sh\ntouch " + marker_ + "\necho 'FROM_CMD = ran'\n", 0755) +
            " |";
    }
    bool CommandRan() const { return access(marker_.c_str(), F_OK) == 0; }
    // The global source names local, which names the command.
    std::string Chain(mode_t local_mode) {
        std::string local = Write("l.conf", "LOCAL_CONFIG_FILE = " + command_ + "\n", local_mode);
        Env("TORVEL_CONFIG", Write("g.conf", "LOCAL_CONFIG_FILE = " + local + "\n"));
        return local;
    }

    std::string marker_;
    std::string command_;
};

// A file named "x|" in a local directory used to run <dir>/x as root, and
// one named "a|b" made every start fail as an invalid command.
TEST_F(RootSourcesTest, LocalDirectoryEntriesAreReadAsFilesNeverRun) {
    std::string dir = Dir("conf.d");
    // Read as configuration too: it defines "echo".
    Write("conf.d/x", "#!/bin/sh\necho 'FROM_X = command'; : > " + marker_ + "\n", 0755);
    Write("conf.d/x|", "FROM_X = file\n");
    Write("conf.d/a|b", "FROM_AB = file\n");
    Env("TORVEL_CONFIG", Write("g.conf", "LOCAL_CONFIG_DIR = " + dir + "\n"));
    ProbeResult r = Run({"FROM_X", "FROM_AB"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("FROM_X"), "file");
    EXPECT_EQ(r.Value("FROM_AB"), "file");
    EXPECT_FALSE(CommandRan());
}

TEST_F(RootSourcesTest, SourceOthersCanWriteIsRefusedAndItsCommandNotRun) {
    for (mode_t mode : {0666, 0664}) {
        std::string local = Chain(mode);
        ProbeResult r = Run({"FROM_CMD"});
        EXPECT_EQ(r.exit_code, 1) << std::oct << mode;
        char expected[64];
        snprintf(expected, sizeof expected, "writable by others (mode %04o)\n",
                 static_cast<unsigned>(mode));
        EXPECT_NE(r.err.find("Configuration Error File <" + local +
                             ">: not read while running as root: " + expected),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("while reading config source " + local), std::string::npos) << r.err;
        EXPECT_FALSE(CommandRan());
    }
    // The same chain owned by root and not writable by others still runs it.
    Chain(0644);
    ProbeResult r = Run({"FROM_CMD"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("FROM_CMD"), "ran");
    EXPECT_TRUE(CommandRan());
}

TEST_F(RootSourcesTest, SourceOwnedByAnotherAccountIsRefused) {
    std::string local = Chain(0644);
    ASSERT_EQ(chown(local.c_str(), 4243, 4243), 0);
    ProbeResult r = Run({"FROM_CMD"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.err.find("Configuration Error File <" + local +
                         ">: not read while running as root: owned by uid 4243, which is "
                         "neither root nor the service account\n"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(CommandRan());

    // The service account (here the torvel account, uid 4242) may own it.
    SetTorvelHome(Dir("home"));
    ASSERT_EQ(chown(local.c_str(), 4242, 4242), 0);
    r = Run({"FROM_CMD"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(CommandRan());
}

TEST_F(RootSourcesTest, LocalDirectoryOthersCanWriteIsRefused) {
    std::string dir = Dir("conf.d");
    Write("conf.d/a", "FROM_DIR = yes\n");
    ASSERT_EQ(chmod(dir.c_str(), 01777), 0);
    Env("TORVEL_CONFIG", Write("g.conf", "LOCAL_CONFIG_DIR = " + dir + "\n"));
    ProbeResult r = Run({"FROM_DIR"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Configuration Error Directory <" + dir +
                         ">: not read while running as root: writable by others (mode 1777)\n");
    EXPECT_EQ(r.out, "");

    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    r = Run({"FROM_DIR"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("FROM_DIR"), "yes");
}

// ---- Layering and provenance ----

TEST_F(ConfigStartupTest, EveryStageOverridesTheOneBefore) {
    std::string rootlocal = Write("rl.conf", "X5 = rootlocal\n");
    std::string root = Write("r.conf", "X4 = root\nLOCAL_ROOT_CONFIG_FILE = " + rootlocal + "\n");
    std::string local = Write("l.conf", "X2 = local\nX3 = local\nX4 = local\n");
    std::string global = Write("g.conf",
                               "X1 = global\nX2 = global\nX3 = global\nX4 = global\n"
                               "X5 = global\nLOCAL_CONFIG_FILE = " +
                                   local + "\n");
    Env("TORVEL_CONFIG", global);
    Env("TORVEL_CONFIG_ROOT", root);
    Env("_torvel_X3", "env");
    Env("_torvel_X4", "env");
    Env("_torvel_X5", "env");
    ProbeResult r = Run({"--where", "--sources", "X1", "X2", "X3", "X4", "X5"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.HasLine("X1=global [" + global + ":1]")) << r.out;
    EXPECT_TRUE(r.HasLine("X2=local [" + local + ":1]")) << r.out;
    EXPECT_TRUE(r.HasLine("X3=env [<Environment>:-1]")) << r.out;
    EXPECT_TRUE(r.HasLine("X4=root [" + root + ":1]")) << r.out;
    EXPECT_TRUE(r.HasLine("X5=rootlocal [" + rootlocal + ":1]")) << r.out;
    EXPECT_EQ(r.Value("LOCALS"), local + "," + rootlocal);
}

TEST_F(ConfigStartupTest, TorvelEnvironmentOverrides) {
    Env("TORVEL_CONFIG", Write("g.conf", "FOO = global\n"));
    Env("_TORVEL_Foo", "bar");
    Env("_torvel_START_owner", "alice");
    Env("_TORVEL_START_OWNER", "bob");
    Env("_Torvel_Mixed", "1");
    Env("_torvel_", "ignored");
    Env("torvel_NOPREFIX", "1");
    ProbeResult r = Run({"--where", "FOO", "START", "START_OWNER", "MIXED", "NOPREFIX"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.HasLine("FOO=bar [<Environment>:-1]")) << r.out;
    EXPECT_TRUE(r.HasLine("START=Owner == \"alice\" [<Environment>:-1]")) << r.out;
    EXPECT_TRUE(r.HasLine("START_OWNER=bob [<Environment>:-1]")) << r.out;
    EXPECT_TRUE(r.HasLine("MIXED=1 [<Environment>:-1]")) << r.out;
    EXPECT_TRUE(r.HasLine("NOPREFIX undefined [<Undefined>:-1]")) << r.out;
}

TEST_F(ConfigStartupTest, BuiltInMacrosCannotBeOverridden) {
    std::string home = Dir("home");
    SetTorvelHome(home);
    Env("TORVEL_CONFIG", Write("g.conf",
                               "hostname = evil\nfull_hostname = evil.example\npid = 1\n"
                               "ppid = 1\nsubsystem = EVIL\nusername = evil\n"
                               "ip_address = 1.2.3.4\ntilde = /evil\n"
                               "ARCH = MYARCH\nOPSYS = MYOS\n"));
    Env("_torvel_PID", "2");
    Env("_torvel_HOSTNAME", "evil");
    std::string root = Write("r.conf", "USERNAME = evil\n");
    Env("TORVEL_CONFIG_ROOT", root);
    ProbeResult r =
        Run({"--pids", "--where", "HOSTNAME", "FULL_HOSTNAME", "PID", "PPID", "SUBSYSTEM",
             "USERNAME", "IP_ADDRESS", "TILDE", "ARCH", "OPSYS", "UNAME_ARCH", "UNAME_OPSYS"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.HasLine("HOSTNAME=" + ShortHostName() + " [<Internal>:-1]")) << r.out;
    EXPECT_NE(r.Value("FULL_HOSTNAME").find(ShortHostName()), std::string::npos);
    EXPECT_EQ(r.Value("FULL_HOSTNAME").find("evil"), std::string::npos);
    EXPECT_TRUE(r.HasLine("PID=" + r.Value("GETPID") + " [<Internal>:-1]")) << r.out;
    EXPECT_TRUE(r.HasLine("PPID=" + r.Value("GETPPID") + " [<Internal>:-1]")) << r.out;
    EXPECT_TRUE(r.HasLine("SUBSYSTEM=TOOL [<Internal>:-1]")) << r.out;
    EXPECT_TRUE(r.HasLine("USERNAME=root [<Internal>:-1]")) << r.out;
    EXPECT_NE(r.Value("IP_ADDRESS").find_first_of("0123456789"), std::string::npos);
    EXPECT_NE(r.Value("IP_ADDRESS").compare(0, 7, "1.2.3.4"), 0);
    EXPECT_TRUE(r.HasLine("TILDE=" + home + " [<Internal>:-1]")) << r.out;
    // Platform facts are defaults only.
    EXPECT_EQ(r.Value("ARCH").substr(0, 6), "MYARCH");
    EXPECT_EQ(r.Value("OPSYS").substr(0, 4), "MYOS");
    struct utsname names;
    ASSERT_EQ(uname(&names), 0);
    EXPECT_TRUE(r.HasLine(std::string("UNAME_ARCH=") + names.machine + " [<Internal>:-1]"))
        << r.out;
    EXPECT_TRUE(r.HasLine(std::string("UNAME_OPSYS=") + names.sysname + " [<Internal>:-1]"))
        << r.out;
}

TEST_F(ConfigStartupTest, TildeFromTheFileStaysWithoutATorvelAccount) {
    Env("TORVEL_CONFIG", Write("g.conf", "tilde = /from/file\n"));
    ProbeResult r = Run({"TILDE"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("TILDE"), "/from/file");
}

TEST_F(ConfigStartupTest, PidStaysThatOfTheFirstLoadAfterReconfiguration) {
    Env("TORVEL_CONFIG", Write("g.conf", "X = 1\n"));
    ProbeResult r = Run({"--fork-reconfig", "--pids", "PID", "PPID"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    // The child reconfigured: its pid macro is still its parent's pid.
    EXPECT_EQ(r.Value("PID"), r.Value("GETPPID"));
    EXPECT_NE(r.Value("PID"), r.Value("GETPID"));
}

TEST_F(ConfigStartupTest, ReconfigurationStartsFromScratch) {
    std::string local = Write("l.conf", "FROM_LOCAL = 1\n");
    Env("TORVEL_CONFIG", Write("g.conf", "X = 1\nLOCAL_CONFIG_FILE = " + local + "\n"));
    ProbeResult r = Run({"--twice", "--sources", "X", "FROM_LOCAL", "HOSTNAME"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("LOCALS"), local);
    EXPECT_EQ(r.Value("X"), "1");
    EXPECT_EQ(r.Value("FROM_LOCAL"), "1");
    EXPECT_EQ(r.Value("HOSTNAME"), ShortHostName());
}

TEST_F(ConfigStartupTest, AddressAndDomainsFollowTheConfiguration) {
    Env("TORVEL_CONFIG",
        Write("g.conf", "NETWORK_INTERFACE = 10.1.2.3\nUID_DOMAIN = uid.example\n"));
    ProbeResult r = Run({"IP_ADDRESS", "FULL_HOSTNAME", "FILESYSTEM_DOMAIN", "UID_DOMAIN"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("IP_ADDRESS"), "10.1.2.3");
    EXPECT_EQ(r.Value("FILESYSTEM_DOMAIN"), r.Value("FULL_HOSTNAME"));
    EXPECT_EQ(r.Value("UID_DOMAIN"), "uid.example");
    std::string full = r.Value("FULL_HOSTNAME");
    r = Run({"--where", "FILESYSTEM_DOMAIN"});
    EXPECT_TRUE(r.HasLine("FILESYSTEM_DOMAIN=" + full + " [<Internal>:-1]")) << r.out;
}

// ---- The placeholder scan ----

TEST_F(ConfigStartupTest, PlaceholderValuesStopConfigWithTheirOrigins) {
    std::string local =
        Write("l.conf", "OK = 1\nLOCAL_B = before" + std::string(kPlaceholder) + "after\n");
    std::string global = Write(
        "g.conf", "X = 1\nLOCAL_CONFIG_FILE = " + local + "\nGLOBAL_A = " + kPlaceholder + "\n");
    Env("TORVEL_CONFIG", global);
    Env("_torvel_ENV_C", kPlaceholder);
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.compare(0, 7, "ERROR \""), 0) << r.err;
    EXPECT_NE(r.err.find("The following configuration macros appear to contain default values "
                         "that must be changed before Torvel will run.  These macros are:\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("   global_a (found on line 3 of " + global + ")\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("   local_b (found on line 2 of " + local + ")\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("   env_c (found on line -1 of <Environment>)\n"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("   ok "), std::string::npos);

    r = Run({"--host", "h", "X"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    r = Run({"--no-scan", "X"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("X"), "1");
}

TEST_F(ConfigStartupTest, PlaceholderReportIsCutToTheFatalErrorBuffer) {
    std::string text;
    for (int i = 0; i < 400; i++) {
        text += "PLACEHOLDER_WITH_A_RATHER_LONG_NAME_" + std::to_string(i) + " = " + kPlaceholder +
                "\n";
    }
    Env("TORVEL_CONFIG", Write("g.conf", text));
    ProbeResult r = Run({"X"});
    EXPECT_EQ(r.exit_code, 4);
    size_t open = r.err.find('"'), close = r.err.rfind('"');
    ASSERT_NE(open, std::string::npos);
    ASSERT_GT(close, open);
    std::string message = r.err.substr(open + 1, close - open - 1);
    EXPECT_LT(message.size(), 8192u);
    EXPECT_GT(message.size(), 8192u - 120);  // filled, less at most one line
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(message.back(), '\n');  // whole lines only
    EXPECT_NE(r.err.find("\" at line "), std::string::npos) << r.err.substr(close);
}

// ---- Syntax errors ----

TEST_F(ConfigStartupTest, MalformedLinesNameTheSourceAndLine) {
    std::string global = Write("g.conf", "A = 1\n\nJUNK\n");
    Env("TORVEL_CONFIG", global);
    ProbeResult r = Run({"A"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err,
              "Configuration Error Line 3 while reading global config source " + global + "\n");

    std::string local = Write("l.conf", "B = 2\n[My Section]\n");
    Write("g.conf", "A = 1\nLOCAL_CONFIG_FILE = " + local + "\n");
    r = Run({"A"});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.err, "Configuration Error Line 2 while reading config source " + local + "\n");

    Write("g.conf", "A = 1\n");
    std::string root = Write("r.conf", "A-B = 1\n");
    Env("TORVEL_CONFIG_ROOT", root);
    r = Run({"A"});
    EXPECT_EQ(r.exit_code, 1);
    std::string ours =
        "Configuration Error Line 1 while reading global root config source " + root + "\n";
    ASSERT_GE(r.err.size(), ours.size()) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - ours.size()), ours);
}

// ---- Network remapping ----

TEST_F(ConfigStartupTest, NetworkRemappingIsExportedToTheEnvironment) {
    Env("TORVEL_CONFIG", Write("g.conf",
                               "NET_REMAP_ENABLE = true\nNET_REMAP_SERVICE = nbx\n"
                               "NET_REMAP_INAGENT = 127.0.0.1:5000\nNET_REMAP_ROUTE = /r/t\n"));
    ProbeResult r =
        Run({"--env", "NET_REMAP_ENABLE", "NBX_ENABLE", "NBX_INAGENT", "NBX_ROUTE", "DPF_ENABLE"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.Value("NET_REMAP_ENABLE"), "true");
    EXPECT_EQ(r.Value("NBX_ENABLE"), "true");
    EXPECT_EQ(r.Value("NBX_INAGENT"), "127.0.0.1:5000");
    EXPECT_EQ(r.Value("NBX_ROUTE"), "/r/t");
    EXPECT_TRUE(r.HasLine("DPF_ENABLE unset"));
    r = Run({"--where", "BIND_ALL_INTERFACES"});
    EXPECT_TRUE(r.HasLine("BIND_ALL_INTERFACES=TRUE [<Internal>:-1]")) << r.out;

    Write("g.conf", "NET_REMAP_ENABLE = true\nNET_REMAP_SERVICE = DPF\nNET_REMAP_ROUTE = /d\n");
    r = Run({"--env", "DPF_ENABLE", "DPF_INAGENT", "DPF_ROUTE", "NBX_ENABLE"});
    EXPECT_EQ(r.Value("DPF_ENABLE"), "true");
    EXPECT_TRUE(r.HasLine("DPF_INAGENT unset"));
    EXPECT_EQ(r.Value("DPF_ROUTE"), "/d");
    EXPECT_TRUE(r.HasLine("NBX_ENABLE unset"));
}

TEST_F(ConfigStartupTest, InheritedOrDisabledRemappingChangesNothing) {
    Env("TORVEL_CONFIG", Write("g.conf", "NET_REMAP_ENABLE = false\nNET_REMAP_SERVICE = NBX\n"));
    ProbeResult r = Run({"--env", "NET_REMAP_ENABLE", "NBX_ENABLE"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.HasLine("NET_REMAP_ENABLE unset"));
    EXPECT_TRUE(r.HasLine("NBX_ENABLE unset"));

    Write("g.conf", "NET_REMAP_ENABLE = true\nNET_REMAP_SERVICE = NBX\n");
    Env("NET_REMAP_ENABLE", "inherited");
    r = Run({"--env", "NET_REMAP_ENABLE", "NBX_ENABLE"});
    EXPECT_EQ(r.Value("NET_REMAP_ENABLE"), "inherited");
    EXPECT_TRUE(r.HasLine("NBX_ENABLE unset"));
    r = Run({"BIND_ALL_INTERFACES"});
    EXPECT_TRUE(r.HasLine("BIND_ALL_INTERFACES undefined"));
}

// ---- Publishing into an attribute list ----

TEST_F(ConfigStartupTest, FillAdPublishesListedAttributesAndVersion) {
    Env("TORVEL_CONFIG", Write("g.conf",
                               "TOOL_ATTRS = A, B\nTOOL_EXPRS = C\nP_TOOL_ATTRS = D\n"
                               "A = 1\nC = \"text\"\nD = 4\nP_A = 2\n"));
    ProbeResult r = Run({"--ad", "A", "B", "C", "D", "TorvelVersion", "TorvelPlatform"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.HasLine("A = 1")) << r.out;
    EXPECT_TRUE(r.HasLine("B absent")) << r.out;
    EXPECT_TRUE(r.HasLine("C = \"text\"")) << r.out;
    EXPECT_TRUE(r.HasLine("D absent")) << r.out;
    EXPECT_TRUE(r.HasLine("TorvelVersion = \"$TorvelVersion: 6.8.0 Jul 19 2006 $\"")) << r.out;
    EXPECT_TRUE(r.HasLine("TorvelPlatform = \"$TorvelPlatform: X86_64-LINUX_RHEL3 $\"")) << r.out;

    r = Run({"--ad=P", "A", "B", "C", "D"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_TRUE(r.HasLine("A = 2")) << r.out;
    EXPECT_TRUE(r.HasLine("B absent")) << r.out;
    EXPECT_TRUE(r.HasLine("C = \"text\"")) << r.out;
    EXPECT_TRUE(r.HasLine("D = 4")) << r.out;
}

// ---- In-process checks that need no configuration ----

TEST(ConfigStartupPieces, OwningTypesAreNotCopiedShallowly) {
    static_assert(!std::is_copy_constructible<StatInfo>::value, "StatInfo owns its paths");
    static_assert(!std::is_copy_assignable<StatInfo>::value, "StatInfo owns its paths");
    static_assert(!std::is_copy_constructible<Directory>::value, "Directory owns its stream");
    static_assert(!std::is_copy_assignable<Directory>::value, "Directory owns its stream");
    config_fill_ad(nullptr, "P");  // a null ad is ignored
    SUCCEED();
}

TEST(ConfigStartupPieces, DircatJoinsWithOneSeparator) {
    struct Case {
        const char *dir, *name, *want;
    } cases[] = {{"/a", "b", "/a/b"}, {"/a/", "b", "/a/b"}, {"", "b", "b"}, {"/", "b", "/b"}};
    for (const Case &c : cases) {
        char *joined = dircat(c.dir, c.name);
        EXPECT_STREQ(joined, c.want) << "dir \"" << c.dir << "\"";
        delete[] joined;
    }
}

// The tilde is the home directory of the account named like the
// distribution, looked up again at each call; null without that account.
TEST(TildeTest, IsTheHomeOfTheDistributionsAccount) {
    std::string why;
    if (geteuid() != 0 || !torvel_test::EtcOverlay::Usable(&why)) {
        GTEST_SKIP() << "needs root: for a private /etc. " << why;
    }
    for (bool with_account : {true, false}) {
        torvel_test::EtcOverlay etc;
        if (with_account) {
            etc.SetEntry("passwd", "torvel", "torvel:x:4242:4242::/home/tilde_test:/bin/false");
        } else {
            etc.RemoveEntry("passwd", "torvel");
        }
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (!etc.EnterInChild()) {
                _exit(2);
            }
            const char *tilde = get_tilde();
            bool right = with_account ? tilde != nullptr && strcmp(tilde, "/home/tilde_test") == 0
                                      : tilde == nullptr;
            _exit(right ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
            << (with_account ? "with" : "without") << " the account: status " << status;
    }
}

}  // namespace

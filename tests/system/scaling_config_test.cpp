// Growth of configuration start-up from outside: the built torvel_config_val
// loads a configuration of n and of 100·n lines, files in LOCAL_CONFIG_DIR,
// "_torvel_" environment overrides and LOCAL_CONFIG_FILE entries, and
// answers --where for one name (which reads the provenance table). The time
// may grow about 100-fold; a path that is quadratic in its input grows
// about 10,000-fold. The inputs of both sizes are written before any run is
// timed.
#include <sys/resource.h>

#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/support/growth_check.h"
#include "tests/support/run_program.h"
#include "tests/support/temp_dir.h"

namespace {

const char kConfigVal[] = TORVEL_BINARY_DIR "/tools/torvel_config_val";

// One prepared input: the environment of the run and the name asked for,
// with the answer expected.
struct Input {
    std::vector<std::string> env;
    std::string name;
    std::string expected_value;
    std::string expected_file;
};

class ScalingConfigTest : public testing::Test {
 protected:
    // Writes the inputs for n and 100·n with make, then checks growth.
    template <class Make>
    void ExpectLinear(size_t n, Make make) {
        ASSERT_FALSE(dir_.path().empty());
        for (size_t size : {n, 100 * n}) {
            inputs_[size] = make(size, dir_.MakeDir("n" + std::to_string(size)));
        }
        EXPECT_LINEAR_GROWTH(n, [this](size_t size) { Run(inputs_.at(size)); });
    }

    static std::vector<std::string> BaseEnv(const std::string &config) {
        std::vector<std::string> env = torvel_test::SanitizerEnv();
        env.push_back("PATH=/usr/bin:/bin");
        env.push_back("TORVEL_CONFIG=" + config);
        return env;
    }

    static std::string Line(size_t i) {
        return "NAME_" + std::to_string(i) + " = value_" + std::to_string(i) + "\n";
    }

    torvel_test::TempDir dir_{"scaling_config"};
    std::map<size_t, Input> inputs_;

 private:
    static void Run(const Input &input) {
        torvel_test::ProgramOptions options;
        // A large environment needs room: the kernel bounds what exec
        // takes by a quarter of the stack limit.
        options.child_setup = [] {
            struct rlimit stack = {256 << 20, 256 << 20};
            return setrlimit(RLIMIT_STACK, &stack) == 0;
        };
        options.timeout_seconds = 120;
        torvel_test::ProgramRun run =
            torvel_test::RunProgram(kConfigVal, {"--where", input.name}, input.env, options);
        ASSERT_EQ(run.status, 0) << run.failure << run.err.substr(0, 500);
        EXPECT_EQ(run.out, input.name + " = " + input.expected_value + "\n  # file " +
                               input.expected_file + "\n");
    }
};

TEST_F(ScalingConfigTest, StartUpGrowsLinearlyWithLines) {
    ExpectLinear(2000, [](size_t size, const std::string &dir) {
        std::string text;
        for (size_t i = 0; i < size; ++i) {
            text += Line(i);
        }
        std::string config = torvel_test::WriteFile(dir + "/config", text) ? dir + "/config" : "";
        size_t last = size - 1;
        return Input{BaseEnv(config), "NAME_" + std::to_string(last),
                     "value_" + std::to_string(last), config + ", line " + std::to_string(size)};
    });
}

// Four names per file: the files' count is what grows.
TEST_F(ScalingConfigTest, StartUpGrowsLinearlyWithFilesInLocalConfigDir) {
    ExpectLinear(500, [](size_t size, const std::string &dir) {
        std::string files = dir + "/conf.d";
        mkdir(files.c_str(), 0755);
        for (size_t i = 0; i < size; ++i) {
            std::string text;
            for (size_t k = 0; k < 4; ++k) {
                text += Line(4 * i + k);
            }
            char name[32];
            snprintf(name, sizeof name, "/%07zu.conf", i);
            torvel_test::WriteFile(files + name, text);
        }
        std::string config = dir + "/config";
        torvel_test::WriteFile(config, "LOCAL_CONFIG_DIR = " + files + "\n");
        char last[32];
        snprintf(last, sizeof last, "/%07zu.conf", size - 1);
        size_t name = 4 * size - 1;
        return Input{BaseEnv(config), "NAME_" + std::to_string(name),
                     "value_" + std::to_string(name), files + last + ", line 4"};
    });
}

TEST_F(ScalingConfigTest, StartUpGrowsLinearlyWithEnvironmentOverrides) {
    ExpectLinear(1000, [](size_t size, const std::string &dir) {
        std::string config = dir + "/config";
        torvel_test::WriteFile(config, "NAME_0 = from the file\n");
        Input input{BaseEnv(config), "name_0", "override_0", "<Environment>, line -1"};
        for (size_t i = 0; i < size; ++i) {
            input.env.push_back("_torvel_NAME_" + std::to_string(i) + "=override_" +
                                std::to_string(i));
        }
        return input;
    });
}

TEST_F(ScalingConfigTest, StartUpGrowsLinearlyWithLocalConfigFileEntries) {
    ExpectLinear(500, [](size_t size, const std::string &dir) {
        std::string list;
        std::string path;
        for (size_t i = 0; i < size; ++i) {
            path = dir + "/local_" + std::to_string(i) + ".conf";
            torvel_test::WriteFile(path, Line(i));
            list += (i == 0 ? "" : ", ") + path;
        }
        std::string config = dir + "/config";
        torvel_test::WriteFile(config, "LOCAL_CONFIG_FILE = " + list + "\n");
        size_t last = size - 1;
        return Input{BaseEnv(config), "NAME_" + std::to_string(last),
                     "value_" + std::to_string(last), path + ", line 1"};
    });
}

}  // namespace

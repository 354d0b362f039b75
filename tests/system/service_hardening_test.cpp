// The hardening of the installed programs, read from the built files as
// lintian's hardening checks read them: a position-independent executable,
// full RELRO (a GNU_RELRO segment and BIND_NOW), and the stack protector
// (a reference to __stack_chk_fail).
#include <stdio.h>

#include <string>

#include "gtest/gtest.h"

namespace {

// What a command printed on standard output.
std::string Output(const std::string &command) {
    std::string text;
    FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    pclose(pipe);
    return text;
}

TEST(ServiceHardeningTest, InstalledProgramsArePieWithFullRelroAndStackProtector) {
    for (const char *program : {"broker/nbx_broker", "launcher/gt3_gahp_launcher",
                                "tools/torvel_config_val", "tools/classad_eval"}) {
        std::string path = std::string(TORVEL_BINARY_DIR) + "/" + program;
        std::string header = Output("readelf -hW " + path + " 2>&1");
        ASSERT_NE(std::string::npos, header.find("ELF Header")) << program << ": " << header;
        EXPECT_NE(std::string::npos, header.find("Position-Independent Executable")) << program;
        EXPECT_NE(std::string::npos, Output("readelf -lW " + path).find("GNU_RELRO")) << program;
        std::string dynamic = Output("readelf -dW " + path);
        EXPECT_NE(std::string::npos, dynamic.find("BIND_NOW")) << program << ": " << dynamic;
        EXPECT_NE(std::string::npos, dynamic.find("Flags: NOW PIE")) << program << ": " << dynamic;
        EXPECT_NE(std::string::npos,
                  Output("readelf --dyn-syms -W " + path).find("__stack_chk_fail"))
            << program;
    }
}

}  // namespace

// The 59 jars of a GT3 installation in stored order, as the demo tree lists
// them (demo/gt3_jars.txt): tests build installations from the same list the
// demo ships, independently of the launcher's own table.
#ifndef TORVEL_TESTS_SUPPORT_GT3_JARS_H_
#define TORVEL_TESTS_SUPPORT_GT3_JARS_H_

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace torvel_test {

inline const std::vector<std::string> &Gt3Jars() {
    static const std::vector<std::string> jars = [] {
        std::vector<std::string> names;
        std::istringstream lines(ReadFile(TORVEL_SOURCE_DIR "/demo/gt3_jars.txt"));
        for (std::string name; std::getline(lines, name);) {
            if (!name.empty()) names.push_back(name);
        }
        return names;
    }();
    return jars;
}

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_GT3_JARS_H_

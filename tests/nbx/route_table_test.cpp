// Tests of the routing-table lookup: matching rules ("*", prefix lengths 0
// and 32, first match wins, comments, method case), malformed lines with
// their log texts, and tables that cannot be opened or read.
#include "nbx/route_table.h"

#include <stdlib.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/nbx/broker_test_support.h"

namespace {

using broker_test::Ip;
using broker_test::LogCapture;
using broker_test::StartsWith;

class RouteTableTest : public testing::Test {
 protected:
    void TearDown() override { unsetenv("NBX_ROUTE"); }

    int Route(const std::string &table, const char *destination) {
        std::string path = dir_.Path("route");
        torvel_test::WriteFile(path, table);
        setenv("NBX_ROUTE", path.c_str(), 1);
        return _CB_directConnect(Ip(destination));
    }

    torvel_test::TempDir dir_;
    LogCapture log_;
};

TEST_F(RouteTableTest, MatchingRules) {
    struct Case {
        const char *table;
        const char *destination;
        int expected;
    } cases[] = {
        {"*/0 NBX\n", "192.168.4.4", 0},
        {"*/whatever direct\n", "8.8.8.8", 1},  // nothing after "*" is examined
        {"192.168.0.0/16 NBX\n", "192.168.4.4", 0},
        {"192.168.0.0/16 NBX\n", "10.0.0.1", 1},  // no line matches
        {"10.0.0.0/8 direct\n*/0 NBX\n", "10.1.2.3", 1},
        {"10.0.0.0/8 direct\n*/0 NBX\n", "11.0.0.1", 0},
        {"10.1.2.3/32 NBX\n*/0 direct\n", "10.1.2.3", 0},
        {"10.1.2.3/32 NBX\n*/0 direct\n", "10.1.2.2", 1},
        {"1.2.3.4/0 NBX\n", "255.255.255.255", 0},
        {"172.16.0.0/12 NBX\n", "172.31.255.255", 0},
        {"172.16.0.0/12 NBX\n", "172.32.0.0", 1},
        {"# private nets go direct\n\n10.0.0.0/8 DiReCt\n#*/0 direct\n\n*/0 nbx\n", "10.9.9.9", 1},
        {"# private nets go direct\n\n10.0.0.0/8 DiReCt\n#*/0 direct\n\n*/0 nbx\n", "9.9.9.9", 0},
        {"10.0.0.0/8 broker\n*/0 NBX\n", "8.8.8.8", 0},  // a bad method only counts on a match
        {"10.0.0.0/ 8\tNBX", "10.0.0.1", 0},             // any white space; no final newline
        {"", "1.2.3.4", 1},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(Route(c.table, c.destination), c.expected) << c.table << " for " << c.destination;
    }
    EXPECT_TRUE(log_.Lines().empty());
    // Comments of the longest line length and longer.
    EXPECT_EQ(Route("#" + std::string(98, 'x') + "\n*/0 NBX\n", "1.2.3.4"), 0);
    EXPECT_EQ(Route("#" + std::string(250, '/') + "\n*/0 NBX\n", "1.2.3.4"), 0);
    unsetenv("NBX_ROUTE");
    EXPECT_EQ(getRouteTbl(), nullptr);
    EXPECT_EQ(_CB_directConnect(Ip("1.2.3.4")), 1);
}

TEST_F(RouteTableTest, MalformedLinesAreLoggedAndRefused) {
    struct Case {
        std::string line;
        const char *first_log;  // before the format error, or null
    } cases[] = {
        {"10.0.0.0/33 NBX", "_CB_directConnect: invalid ipaddr, atoi(33) failed"},
        {"10.0.0.0/-1 NBX", "_CB_directConnect: invalid ipaddr, atoi(-1) failed"},
        {"10.0.0.0/8x NBX", "_CB_directConnect: invalid ipaddr, atoi(8x) failed"},
        {"ten.0.0.0/8 NBX", "_CB_directConnect: invalid ipaddr, inet_aton failed"},
        {"10.0.0.0/8 broker", nullptr},
        {"10.0.0.0 NBX", nullptr},
        {"10.0.0.0/8", nullptr},
        {"*/0", nullptr},
        {"   ", nullptr},
        {"*/0 averyveryverylongmethod", nullptr},
        {"*/0 direct" + std::string(95, ' ') + "x", nullptr},  // longer than a line may be
    };
    for (const Case &c : cases) {
        log_.Lines().clear();
        EXPECT_EQ(Route(c.line + "\n*/0 NBX\n", "10.0.0.1"), -1) << c.line;
        std::vector<std::string> expected;
        if (c.first_log != nullptr)
            expected.push_back(std::string("1:ERROR \"") + c.first_log + "\"\n");
        // The line is shown as read: at most the longest line length.
        expected.push_back("1:ERROR \"routing table format error with line '" +
                           c.line.substr(0, 100) + "'\"\n");
        EXPECT_EQ(log_.Lines(), expected) << c.line;
    }
}

TEST_F(RouteTableTest, TablesThatCannotBeOpenedOrRead) {
    std::string missing = dir_.Path("missing");
    setenv("NBX_ROUTE", missing.c_str(), 1);
    EXPECT_EQ(_CB_directConnect(Ip("1.2.3.4")), -1);
    EXPECT_TRUE(StartsWith(
        log_.Last(), "1:ERROR \"_CB_directConnect: fopen(" + missing + ") failed\" errno 2: "));
    // A directory opens for reading, but reading it fails.
    setenv("NBX_ROUTE", dir_.path().c_str(), 1);
    int open_before = broker_test::OpenDescriptors();
    EXPECT_EQ(_CB_directConnect(Ip("1.2.3.4")), -1);
    EXPECT_TRUE(StartsWith(log_.Last(),
                           "1:ERROR \"_CB_directConnect: NBX routing table read "
                           "failed: fgets() returned NULL but we're not at EOF\""));
    EXPECT_EQ(broker_test::OpenDescriptors(), open_before);
}

}  // namespace

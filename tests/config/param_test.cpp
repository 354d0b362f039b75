// Tests of param and the typed reads against ConfigTab: the subsystem rule,
// the empty-value rule, expansion at each call, bounds and fallbacks with
// their log lines, and locations from the provenance table.
#include "config/param.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

#include "config/builtin_macros.h"
#include "config/macro_table.h"
#include "config/param_provenance.h"
#include "core/my_string.h"
#include "reader_test_support.h"
#include "tests/support/output_capture.h"

namespace {

using reader_test::LogCapture;

class ParamTest : public ::testing::Test {
 protected:
    void SetUp() override { clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE); }
    void TearDown() override { clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE); }
    void Set(const char *name, const char *value) {
        insert(name, value, ConfigTab, CONFIG_TABLE_SIZE);
    }
    std::string Param(const char *name) {
        char *value = param(name);
        std::string result = value != nullptr ? value : "<null>";
        free(value);
        return result;
    }
};

// config_insert enters a definition only when it has both a name and a
// value.
TEST_F(ParamTest, ConfigInsertNeedsANameAndAValue) {
    config_insert("INSERTED", "yes");
    EXPECT_EQ("yes", Param("INSERTED"));
    config_insert("NO_VALUE", nullptr);
    EXPECT_EQ("<null>", Param("NO_VALUE"));
    config_insert(nullptr, "orphan");
    EXPECT_EQ("yes", Param("INSERTED"));
}

TEST_F(ParamTest, SubsystemKeyComesFirst) {
    Set("JAVA", "/usr/bin/java");
    EXPECT_EQ("/usr/bin/java", Param("JAVA"));
    Set("TOOL.JAVA", "/opt/java");
    EXPECT_EQ("/opt/java", Param("java"));
    EXPECT_EQ("<null>", Param("missing"));
    EXPECT_EQ("<null>", Param(nullptr));
}

// "<SUBSYS>.name" is looked up only while some name holds a "."; the count
// of such names must follow inserts, clears and an index rebuilt from the
// chains.
TEST_F(ParamTest, SubsystemKeyFoundWhateverNamesCameBefore) {
    Set("B", "plain");
    EXPECT_EQ("plain", Param("B"));
    Set("OTHER.B", "not ours");
    EXPECT_EQ("plain", Param("B"));
    Set("tool.b", "specific");
    EXPECT_EQ("specific", Param("B"));
    // Other tables used in turn push ConfigTab's index out; it is built
    // again from the chains.
    std::vector<reader_test::LocalTable<113>> others(12);
    for (auto &other : others) {
        insert("x", "y", other.heads, other.size);
        EXPECT_STREQ("y", other.Lookup("x"));
    }
    EXPECT_EQ("specific", Param("b"));
    clear_macro_table(ConfigTab, CONFIG_TABLE_SIZE);
    Set("B", "again");
    EXPECT_EQ("again", Param("B"));
    Set("TOOL.B", "");
    EXPECT_EQ("<null>", Param("B"));
}

TEST_F(ParamTest, EmptySubsystemValueHidesTheGeneralOne) {
    Set("TOOL.X", "");
    Set("X", "5");
    EXPECT_EQ("<null>", Param("X"));
    LogCapture log(D_CONFIG);
    EXPECT_EQ(7, param_integer("X", 7, 0, 10));
    EXPECT_NE(std::string::npos, log.Text().find("X is undefined, using default value of 7\n"));
}

TEST_F(ParamTest, EmptyExpansionIsUndefined) {
    Set("X", "$(Y)");
    EXPECT_EQ("<null>", Param("X"));
    Set("E", "");
    EXPECT_EQ("<null>", Param("E"));
    char *expanded = macro_expand("$(Y)");  // no empty-value rule here
    ASSERT_NE(nullptr, expanded);
    EXPECT_STREQ("", expanded);
    free(expanded);
}

TEST_F(ParamTest, ExpansionHappensAtEachCall) {
    Set("X", "$ENV(PARAM_TEST_VAR)/$(Y)");
    Set("Y", "y");
    setenv("PARAM_TEST_VAR", "first", 1);
    EXPECT_EQ("first/y", Param("X"));
    setenv("PARAM_TEST_VAR", "second", 1);
    Set("Y", "z");
    EXPECT_EQ("second/z", Param("X"));
    unsetenv("PARAM_TEST_VAR");
}

TEST_F(ParamTest, CyclesGiveNullWithAMessage) {
    Set("A", "$(B)");
    Set("B", "$(A)");
    torvel_test::OutputCapture captured_err(STDERR_FILENO);
    char *value = param("A");
    std::string err = captured_err.Finish();
    EXPECT_EQ(nullptr, value);
    free(value);
    EXPECT_EQ(0u, err.find("Configuration Error: $("));
}

TEST_F(ParamTest, IntegerParsingAndBounds) {
    LogCapture log(D_CONFIG);
    Set("N", "abc");
    EXPECT_EQ(3, param_integer("N", 3, 0, 10));
    EXPECT_NE(std::string::npos,
              log.Text().find("WARNING: N not an integer (\"abc\"), using default value of 3\n"));
    Set("N", "-5");
    EXPECT_EQ(0, param_integer("N", 3, 0, 10));
    EXPECT_NE(std::string::npos,
              log.Text().find("WARNING: N too low (-5), using minimum value of 0\n"));
    Set("N", "  12 units");
    EXPECT_EQ(12, param_integer("N", 3, 0, 100));
    EXPECT_EQ(10, param_integer("N", 3, 0, 10));
    EXPECT_NE(std::string::npos,
              log.Text().find("WARNING: N too high (12), using maximum value of 10\n"));
    Set("N", "10");
    EXPECT_EQ(10, param_integer("N", 3, 0, 10));       // bounds are inclusive
    EXPECT_EQ(99, param_integer("UNSET", 99, 0, 10));  // the default is not bounded
}

// Numbers beyond the int range are clamped, never left to sscanf's
// undefined overflow, and then reported by the bound checks.
TEST_F(ParamTest, IntegersBeyondTheIntRangeAreClamped) {
    LogCapture log(D_CONFIG);
    Set("N", "99999999999999999999");
    EXPECT_EQ(10, param_integer("N", 3, 0, 10));
    EXPECT_NE(std::string::npos,
              log.Text().find("WARNING: N too high (2147483647), using maximum value of 10\n"));
    EXPECT_EQ(2147483647, param_integer("N", 3, -5, 2147483647));
    Set("N", "-99999999999");
    EXPECT_EQ(-2147483647 - 1, param_integer("N", 3, -2147483647 - 1, 0));
    EXPECT_EQ(-7, param_integer("N", 3, -7, 0));
    Set("N", "+");
    EXPECT_EQ(3, param_integer("N", 3, 0, 10));
}

TEST_F(ParamTest, FloatParsingAndBounds) {
    LogCapture log(D_CONFIG);
    Set("F", "2.5");
    EXPECT_FLOAT_EQ(2.5f, param_float("F", 1.0f, 0.0f, 10.0f));
    EXPECT_FLOAT_EQ(2.0f, param_float("F", 1.0f, 0.0f, 2.0f));
    EXPECT_NE(std::string::npos,
              log.Text().find("WARNING: F too high (2.500000), using maximum value of 2.000000\n"));
    Set("F", "x");
    EXPECT_FLOAT_EQ(1.0f, param_float("F", 1.0f, 0.0f, 2.0f));
    EXPECT_NE(
        std::string::npos,
        log.Text().find("WARNING: F not an float (\"x\"), using default value of 1.000000\n"));
}

TEST_F(ParamTest, FloatFallbacksAndNan) {
    LogCapture log(D_CONFIG);
    EXPECT_FLOAT_EQ(0.5f, param_float("UNSET", 0.5f, 0.0f, 0.25f));  // default not bounded
    EXPECT_NE(std::string::npos,
              log.Text().find("UNSET is undefined, using default value of 0.500000\n"));
    Set("F", "-3.5e0 seconds");
    EXPECT_FLOAT_EQ(-1.0f, param_float("F", 0.0f, -1.0f, 1.0f));
    EXPECT_NE(
        std::string::npos,
        log.Text().find("WARNING: F too low (-3.500000), using minimum value of -1.000000\n"));
    // Not a number compares false both ways, so it passes the bounds.
    Set("F", "nan");
    EXPECT_TRUE(std::isnan(param_float("F", 0.0f, -1.0f, 1.0f)));
}

TEST_F(ParamTest, SubsystemValueWinsOverAnEmptyGeneralOne) {
    Set("TOOL.PORT", "9618");
    Set("PORT", "");
    EXPECT_EQ(9618, param_integer("PORT", 1, 0, 65535));
    LogCapture log(D_CONFIG);
    Set("TOOL.PORT", "");
    Set("PORT", "9618");
    EXPECT_EQ(1, param_integer("PORT", 1, 0, 65535));
    EXPECT_NE(std::string::npos, log.Text().find("PORT is undefined, using default value of 1\n"));
}

TEST_F(ParamTest, MacroExpandHasNeitherRule) {
    Set("TOOL.X", "");
    Set("X", "general");
    char *expanded = macro_expand("<$(X)>");
    ASSERT_NE(nullptr, expanded);
    EXPECT_STREQ("<general>", expanded);  // the subsystem key is not consulted
    free(expanded);
    expanded = macro_expand("");
    ASSERT_NE(nullptr, expanded);
    EXPECT_STREQ("", expanded);
    free(expanded);
}

TEST_F(ParamTest, BooleansLookAtTheFirstCharacter) {
    for (const char *yes : {"true", "Temp", "1000", "T"}) {
        Set("B", yes);
        EXPECT_TRUE(param_boolean("B", false)) << yes;
        EXPECT_EQ(1, param_boolean_int("B", 0)) << yes;
    }
    for (const char *no : {"false", "0x1", "f"}) {
        Set("B", no);
        EXPECT_FALSE(param_boolean("B", true)) << no;
    }
    LogCapture log(D_CONFIG);
    Set("B", "yes");
    EXPECT_TRUE(param_boolean("B", true));
    EXPECT_NE(std::string::npos,
              log.Text().find("WARNING: B not a boolean (\"yes\"), using default value of True\n"));
    EXPECT_EQ(1, param_boolean_int("UNSET", 5));
    EXPECT_NE(std::string::npos,
              log.Text().find("UNSET is undefined, using default value of True\n"));
    EXPECT_FALSE(param_boolean("UNSET", false));
    EXPECT_NE(std::string::npos,
              log.Text().find("UNSET is undefined, using default value of False\n"));
}

TEST_F(ParamTest, InPattern) {
    Set("LIST", "  alpha beta\tgamma  ");
    EXPECT_EQ(1, param_in_pattern("LIST", "gamma"));
    EXPECT_EQ(1, param_in_pattern("LIST", "alpha"));
    EXPECT_EQ(0, param_in_pattern("LIST", "alp"));
    EXPECT_EQ(0, param_in_pattern("UNSET", "alpha"));
    EXPECT_EQ(0, param_in_pattern("LIST", "Alpha"));  // exact comparison
    EXPECT_EQ(0, param_in_pattern("LIST", nullptr));
    EXPECT_EQ(0, param_in_pattern("LIST", ""));
    std::string many;
    for (int i = 0; i < 600; ++i) {
        many += "w" + std::to_string(i) + " ";
    }
    Set("MANY", many.c_str());
    EXPECT_EQ(1, param_in_pattern("MANY", "w0"));  // past the old 511-word limit
}

TEST_F(ParamTest, LocationsComeFromTheProvenanceTable) {
    MyString file;
    int line = 0;
    ExtraParamTable *saved = extra_info;
    extra_info = nullptr;
    EXPECT_FALSE(param_get_location("hostname", file, line));

    ExtraParamTable table;
    extra_info = &table;
    table.AddInternalParam("hostname");
    EXPECT_TRUE(param_get_location("HOSTNAME", file, line));
    EXPECT_STREQ("<Internal>", file.Value());
    EXPECT_EQ(-1, line);
    EXPECT_FALSE(param_get_location("never_set", file, line));
    EXPECT_STREQ("<Undefined>", file.Value());
    EXPECT_FALSE(param_get_location(nullptr, file, line));
    extra_info = saved;
}

using ParamDeathTest = ParamTest;

TEST_F(ParamDeathTest, NullNamesAreFatal) {
    EXPECT_EXIT(param_integer(nullptr, 1, 0, 2), ::testing::ExitedWithCode(4),
                "Assertion ERROR on \\(name\\)");
    EXPECT_EXIT(param_boolean(nullptr, true), ::testing::ExitedWithCode(4),
                "Assertion ERROR on \\(name\\)");
}

}  // namespace

// Tests of provenance records: each kind of source, replacement of a
// record by a later one, case-blind names, and the record itself.
#include "config/param_provenance.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ParamProvenanceTest, EachKindOfSource) {
    ExtraParamTable table;
    table.AddFileParam("FromFile", "/etc/torvel/torvel_config", 12);
    table.AddInternalParam("hostname");
    table.AddEnvironmentParam("Foo");
    MyString file;
    int line = 0;
    ASSERT_TRUE(table.GetParam("fromfile", file, line));
    EXPECT_STREQ("/etc/torvel/torvel_config", file.Value());
    EXPECT_EQ(12, line);
    ASSERT_TRUE(table.GetParam("HOSTNAME", file, line));
    EXPECT_STREQ("<Internal>", file.Value());
    EXPECT_EQ(-1, line);
    ASSERT_TRUE(table.GetParam("foo", file, line));
    EXPECT_STREQ("<Environment>", file.Value());
    EXPECT_EQ(-1, line);
    EXPECT_FALSE(table.GetParam("absent", file, line));
    EXPECT_STREQ("<Undefined>", file.Value());
    EXPECT_EQ(-1, line);
}

TEST(ParamProvenanceTest, LaterRecordsReplaceEarlierOnes) {
    ExtraParamTable table;
    table.AddFileParam("x", "first", 1);
    table.AddFileParam("X", "second", 9);
    MyString file;
    int line = 0;
    ASSERT_TRUE(table.GetParam("x", file, line));
    EXPECT_STREQ("second", file.Value());
    EXPECT_EQ(9, line);
    table.AddEnvironmentParam("x");
    ASSERT_TRUE(table.GetParam("x", file, line));
    EXPECT_STREQ("<Environment>", file.Value());

    MyString name("x");
    table.ClearOldParam(name);
    EXPECT_FALSE(table.GetParam("x", file, line));
    table.ClearOldParam(name);  // nothing left to remove
}

TEST(ParamProvenanceTest, ManyNames) {
    ExtraParamTable table;
    for (int i = 0; i < 2000; ++i) {
        std::string name = "name" + std::to_string(i);
        table.AddFileParam(name.c_str(), "f", i);
    }
    MyString file;
    int line = 0;
    ASSERT_TRUE(table.GetParam("NAME1234", file, line));
    EXPECT_EQ(1234, line);
}

// File names are shared between records; each record must still answer
// with its own file, also when a file comes back after another one.
TEST(ParamProvenanceTest, RecordsKeepTheirOwnFile) {
    ExtraParamTable table;
    std::string first = "/etc/torvel/first";
    table.AddFileParam("a", first.c_str(), 1);
    first[5] = 'X';  // the table keeps its own copy
    table.AddFileParam("b", "/etc/torvel/second", 2);
    table.AddFileParam("c", "/etc/torvel/first", 3);
    table.AddFileParam("b", "/etc/torvel/third", 4);
    MyString file;
    int line = 0;
    ASSERT_TRUE(table.GetParam("A", file, line));
    EXPECT_STREQ("/etc/torvel/first", file.Value());
    EXPECT_EQ(1, line);
    ASSERT_TRUE(table.GetParam("b", file, line));
    EXPECT_STREQ("/etc/torvel/third", file.Value());
    EXPECT_EQ(4, line);
    ASSERT_TRUE(table.GetParam("c", file, line));
    EXPECT_STREQ("/etc/torvel/first", file.Value());
    EXPECT_EQ(3, line);
}

// A removed name can be recorded again, and removing one name leaves the
// names stored beside it in the index reachable.
TEST(ParamProvenanceTest, RemovedNamesComeBackAndNeighboursStay) {
    ExtraParamTable table;
    for (int i = 0; i < 500; ++i) {
        table.AddFileParam(("n" + std::to_string(i)).c_str(), "f", i);
    }
    for (int i = 0; i < 500; i += 2) {
        MyString name(("n" + std::to_string(i)).c_str());
        table.ClearOldParam(name);
    }
    MyString file;
    int line = 0;
    for (int i = 0; i < 500; ++i) {
        std::string name = "N" + std::to_string(i);
        EXPECT_EQ(i % 2 == 1, table.GetParam(name.c_str(), file, line)) << name;
    }
    table.AddInternalParam("n10");
    ASSERT_TRUE(table.GetParam("n10", file, line));
    EXPECT_STREQ("<Internal>", file.Value());
    ASSERT_TRUE(table.GetParam("n11", file, line));
    EXPECT_EQ(11, line);
}

// Watching: only a record of a watched name (in any case) raises the flag,
// which is taken once; clearing forgets the names.
TEST(ParamProvenanceTest, WatchedNamesRaiseTheFlagOnce) {
    ExtraParamTable table;
    EXPECT_FALSE(table.TakeWatchedChange());
    EXPECT_TRUE(table.WatchName("Local_Config_File", 17));
    EXPECT_FALSE(table.WatchName("LOCAL_CONFIG_FILExyz", 17));  // same name, watched already
    table.AddFileParam("other", "f", 1);
    EXPECT_FALSE(table.TakeWatchedChange());
    table.AddFileParam("LOCAL_CONFIG_FILE", "f", 2);
    EXPECT_TRUE(table.TakeWatchedChange());
    EXPECT_FALSE(table.TakeWatchedChange());
    table.AddEnvironmentParam("local_config_file");
    table.ClearWatch();
    EXPECT_FALSE(table.TakeWatchedChange());
    table.AddFileParam("local_config_file", "f", 3);
    EXPECT_FALSE(table.TakeWatchedChange());
    MyString file;
    int line = 0;
    ASSERT_TRUE(table.GetParam("LOCAL_CONFIG_FILE", file, line));
    EXPECT_EQ(3, line);
}

TEST(ExtraParamInfoTest, SetAndGet) {
    ExtraParamInfo info;
    ExtraParamInfo::ParamSource source = ExtraParamInfo::SourceFile;
    const char *file = "x";
    int line = 0;
    info.GetInfo(source, file, line);
    EXPECT_EQ(ExtraParamInfo::SourceNone, source);
    EXPECT_EQ(nullptr, file);
    EXPECT_EQ(-1, line);

    info.SetInfo("config", 3);
    info.GetInfo(source, file, line);
    EXPECT_EQ(ExtraParamInfo::SourceFile, source);
    EXPECT_STREQ("config", file);
    EXPECT_EQ(3, line);

    info.SetInfo(nullptr, 7);  // a null file changes nothing
    info.GetInfo(source, file, line);
    EXPECT_STREQ("config", file);
    EXPECT_EQ(3, line);

    info.SetInfo(ExtraParamInfo::SourceInternal);
    info.GetInfo(source, file, line);
    EXPECT_EQ(ExtraParamInfo::SourceInternal, source);
    EXPECT_EQ(nullptr, file);
    EXPECT_EQ(-1, line);
}

}  // namespace

// TorvelVersionInfo: parsing of the built-in and foreign markers, each kind of
// rejection, the comparisons against the built-in version, and the scan of
// files for markers. Dates are checked in a fixed zone with summer time.
#include "version/torvel_version_info.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "tests/support/temp_dir.h"

namespace {

std::string Version(const std::string &body) {
    return "$TorvelVersion: " + body + " $";
}

// Sets a zone whose July has summer time for the object's life.
class SummerTimeZone {
 public:
    SummerTimeZone() {
        const char *tz = getenv("TZ");
        had_tz_ = tz != nullptr;
        saved_tz_ = had_tz_ ? tz : "";
        setenv("TZ", "CST6CDT,M3.2.0,M11.1.0", 1);
        tzset();
    }
    ~SummerTimeZone() {
        if (had_tz_) {
            setenv("TZ", saved_tz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

 private:
    bool had_tz_ = false;
    std::string saved_tz_;
};

class VersionInfoTest : public testing::Test {
 protected:
    // Data with every field set, to show what a parse leaves alone.
    static TorvelVersionInfo::VersionData Marked() {
        TorvelVersionInfo::VersionData data;
        data.major = 11;
        data.minor = 12;
        data.sub_minor = 13;
        data.version_number = 14;
        data.build_date = 15;
        return data;
    }

    SummerTimeZone zone_;  // before own_, whose build date depends on it
    TorvelVersionInfo own_;
};

TEST_F(VersionInfoTest, BuiltInVersionParses) {
    TorvelVersionInfo::VersionData data;
    ASSERT_TRUE(own_.string_to_VersionData(TorvelVersion(), data));
    EXPECT_EQ(data.major, 6);
    EXPECT_EQ(data.minor, 8);
    EXPECT_EQ(data.sub_minor, 0);
    EXPECT_EQ(data.version_number, 6008000);
    EXPECT_EQ(data.build_date, 1153285200);  // 2006-07-19 05:00 UTC, midnight CDT
    EXPECT_TRUE(own_.is_valid());
    EXPECT_TRUE(own_.is_stable_series());
    EXPECT_TRUE(own_.built_since_version(6, 7, 15));
    EXPECT_TRUE(own_.built_since_version(6, 8, 0));
    EXPECT_FALSE(own_.built_since_version(6, 8, 1));
    EXPECT_TRUE(own_.built_since_date(7, 19, 2006));
    EXPECT_FALSE(own_.built_since_date(7, 20, 2006));
}

TEST_F(VersionInfoTest, NullTextCopiesOwnData) {
    TorvelVersionInfo other(Version("6.9.3 Jan 2 2007").c_str(), "SHADOW");
    TorvelVersionInfo::VersionData data;
    ASSERT_TRUE(other.string_to_VersionData(nullptr, data));
    EXPECT_EQ(data.version_number, 6009003);
    EXPECT_FALSE(other.is_stable_series());
    EXPECT_EQ(other.compare_versions(nullptr), 0);
    EXPECT_EQ(other.compare_build_dates(nullptr), 0);
}

TEST_F(VersionInfoTest, WrongPrefixLeavesDataAlone) {
    for (const char *text :
         {"", "$TorvelVersion:6.8.0 Jul 19 2006 $", "$torvelVersion: 6.8.0 Jul 19 2006 $"}) {
        TorvelVersionInfo::VersionData data = Marked();
        EXPECT_FALSE(own_.string_to_VersionData(text, data)) << text;
        EXPECT_EQ(data.major, 11) << text;
        EXPECT_EQ(data.version_number, 14) << text;
        EXPECT_EQ(data.build_date, 15) << text;
    }
}

TEST_F(VersionInfoTest, BadNumbersResetMajor) {
    for (const char *body :
         {"5.9.0 Jul 19 2006", "6.100.0 Jul 19 2006", "6.8.100 Jul 19 2006", "6.8 Jul 19 2006",
          "x.8.0 Jul 19 2006", "99999999999.8.0 Jul 19 2006", "3000.0.0 Jul 19 2006"}) {
        TorvelVersionInfo::VersionData data = Marked();
        EXPECT_FALSE(own_.string_to_VersionData(Version(body).c_str(), data)) << body;
        EXPECT_EQ(data.major, 0) << body;
        EXPECT_EQ(data.version_number, 14) << body;  // never computed
        EXPECT_FALSE(own_.is_valid(Version(body).c_str())) << body;
    }
}

// A date rejection keeps the version number that was already computed, so
// compare_versions still orders such a string by its numbers.
TEST_F(VersionInfoTest, BadDateResetsMajorButKeepsNumber) {
    for (const char *body :
         {"6.8.1 Foo 19 2006", "6.8.1 jul 19 2006", "6.8.1 Jul 32 2006", "6.8.1 Jul -1 2006",
          "6.8.1 Jul 19 1996", "6.8.1 Jul 19 2037", "6.8.1 Jul 19", "6.8.1"}) {
        TorvelVersionInfo::VersionData data = Marked();
        std::string text = Version(body);
        EXPECT_FALSE(own_.string_to_VersionData(text.c_str(), data)) << body;
        EXPECT_EQ(data.major, 0) << body;
        EXPECT_EQ(data.version_number, 6008001) << body;
        EXPECT_EQ(own_.compare_versions(text.c_str()), 1) << body;
    }
}

// A month name at the very end must not make the parser skip past the
// terminator (the sanitizer build catches an overrun here).
TEST_F(VersionInfoTest, MonthAtEndOfTextIsRejected) {
    const char text[] = "$TorvelVersion: 6.8.1 Jul";
    char *exact = static_cast<char *>(malloc(sizeof text));
    memcpy(exact, text, sizeof text);
    TorvelVersionInfo::VersionData data;
    EXPECT_FALSE(own_.string_to_VersionData(exact, data));
    EXPECT_EQ(data.major, 0);
    free(exact);
}

TEST_F(VersionInfoTest, DayZeroAndExtremeYearsAreAccepted) {
    TorvelVersionInfo::VersionData data;
    EXPECT_TRUE(own_.string_to_VersionData(Version("6.8.0 Jul 0 2006").c_str(), data));
    EXPECT_EQ(data.build_date, 1153285200 - 19 * 86400);  // June 30th
    EXPECT_TRUE(own_.string_to_VersionData(Version("6.8.0 Jan 1 1997").c_str(), data));
    EXPECT_TRUE(own_.string_to_VersionData(Version("6.8.0 Dec 31 2036").c_str(), data));
}

TEST_F(VersionInfoTest, ComparesAgainstBuiltInVersion) {
    EXPECT_EQ(own_.compare_versions(Version("6.8.1 Jul 19 2006").c_str()), 1);
    EXPECT_EQ(own_.compare_versions(Version("6.7.9 Jul 19 2006").c_str()), -1);
    EXPECT_EQ(own_.compare_versions(Version("6.8.0 Jan 1 1999").c_str()), 0);
    EXPECT_EQ(own_.compare_versions("garbage"), -1);
    EXPECT_EQ(own_.compare_build_dates(Version("6.0.0 Jul 20 2006").c_str()), 1);
    EXPECT_EQ(own_.compare_build_dates(Version("7.0.0 Jul 18 2006").c_str()), -1);
    EXPECT_EQ(own_.compare_build_dates(Version("6.0.0 Jul 19 2006").c_str()), 0);
    EXPECT_EQ(own_.compare_build_dates("garbage"), -1);
}

TEST_F(VersionInfoTest, Compatibility) {
    EXPECT_TRUE(own_.is_compatible(Version("6.8.5 Jul 19 2006").c_str(), nullptr));
    EXPECT_FALSE(own_.is_compatible(Version("6.9.0 Jul 19 2006").c_str(), nullptr));
    EXPECT_TRUE(own_.is_compatible(Version("6.7.9 Jul 19 2006").c_str(), "whatever"));
    EXPECT_FALSE(own_.is_compatible("garbage", nullptr));
    // A development series is compatible only with versions up to its own.
    TorvelVersionInfo development(Version("6.9.2 Jul 19 2006").c_str());
    EXPECT_FALSE(development.is_compatible(Version("6.9.5 Jul 19 2006").c_str(), nullptr));
    EXPECT_TRUE(development.is_compatible(Version("6.9.1 Jul 19 2006").c_str(), nullptr));
}

TEST_F(VersionInfoTest, UnparsableOwnVersionIsInvalid) {
    TorvelVersionInfo broken("$TorvelVersion: 6.8.1 Foo 19 2006 $");
    EXPECT_FALSE(broken.is_valid());
    EXPECT_TRUE(broken.built_since_version(6, 8, 1));  // the number survived
    EXPECT_FALSE(broken.built_since_date(1, 1, 1998));
}

TEST_F(VersionInfoTest, PlatformSplitsAtTheDash) {
    TorvelVersionInfo::VersionData data;
    ASSERT_TRUE(own_.string_to_PlatformData(TorvelPlatform(), data));
    EXPECT_STREQ(data.arch, "X86_64");
    EXPECT_STREQ(data.opsys, "LINUX_RHEL3 ");  // cut at "$", blank kept
    ASSERT_TRUE(own_.string_to_PlatformData("$TorvelPlatform: INTEL $", data));
    EXPECT_STREQ(data.arch, "INTEL $");
    EXPECT_EQ(data.opsys, nullptr);
    EXPECT_FALSE(own_.string_to_PlatformData("$TorvelPlatform:INTEL-LINUX $", data));
    EXPECT_STREQ(data.arch, "INTEL $");
    ASSERT_TRUE(own_.string_to_PlatformData(nullptr, data));
    EXPECT_STREQ(data.arch, "X86_64");
    EXPECT_STREQ(data.opsys, "LINUX_RHEL3 ");
    free(data.arch);
    free(data.opsys);
}

class MarkerFileTest : public testing::Test {
 protected:
    std::string File(const std::string &bytes) { return dir_.Write("program", bytes); }
    torvel_test::TempDir dir_;
};

TEST_F(MarkerFileTest, FindsVersionAfterFalseStart) {
    std::string path = File("xx$Tor" + std::string(TorvelVersion()) + "yy");
    char *found = TorvelVersionInfo::get_version_from_file(path.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found, TorvelVersion());
    free(found);
    char buffer[40];
    EXPECT_EQ(TorvelVersionInfo::get_version_from_file(path.c_str(), buffer, sizeof buffer),
              buffer);
    EXPECT_STREQ(buffer, TorvelVersion());
}

TEST_F(MarkerFileTest, RefusesSmallBuffersAndMissingFiles) {
    std::string path = File(TorvelVersion());
    char buffer[40];
    EXPECT_EQ(TorvelVersionInfo::get_version_from_file(path.c_str(), buffer, 39), nullptr);
    EXPECT_EQ(TorvelVersionInfo::get_version_from_file(nullptr), nullptr);
    EXPECT_EQ(TorvelVersionInfo::get_version_from_file(dir_.Path("absent").c_str()), nullptr);
    EXPECT_EQ(TorvelVersionInfo::get_platform_from_file(path.c_str()), nullptr);
}

TEST_F(MarkerFileTest, MarkerMustEndWithinTheLimit) {
    // 16 prefix characters and 23 more: 39 fit a 40-byte buffer, 40 do not.
    std::string fits = "$TorvelVersion: " + std::string(22, '9') + "$";
    char buffer[40];
    std::string path = File(
        "\x7f"
        "ELF" +
        fits);
    ASSERT_EQ(TorvelVersionInfo::get_version_from_file(path.c_str(), buffer, 40), buffer);
    EXPECT_EQ(std::string(buffer), fits);
    path = File("$TorvelVersion: " + std::string(23, '9') + "$");
    EXPECT_EQ(TorvelVersionInfo::get_version_from_file(path.c_str(), buffer, 40), nullptr);
    // Without a buffer, at most 100 characters.
    std::string hundred = "$TorvelVersion: " + std::string(83, '7') + "$";
    path = File(hundred);
    char *found = TorvelVersionInfo::get_version_from_file(path.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(found), hundred);
    free(found);
    path = File("$TorvelVersion: " + std::string(84, '7') + "$");
    EXPECT_EQ(TorvelVersionInfo::get_version_from_file(path.c_str()), nullptr);
    path = File("$TorvelVersion: 6.8.0 Jul 19 2006 ");  // never closed
    EXPECT_EQ(TorvelVersionInfo::get_version_from_file(path.c_str()), nullptr);
}

TEST_F(MarkerFileTest, FindsAnyPlatform) {
    std::string path = File(std::string("ab\0$TorvelPlatform: INTEL-WINNT50 $cd", 37));
    char *found = TorvelVersionInfo::get_platform_from_file(path.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found, "$TorvelPlatform: INTEL-WINNT50 $");
    free(found);
    path = File("$TorvelPlatform:$");
    found = TorvelVersionInfo::get_platform_from_file(path.c_str());
    ASSERT_NE(found, nullptr);
    EXPECT_STREQ(found, "$TorvelPlatform:$");
    free(found);
}

}  // namespace

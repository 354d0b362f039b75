// Platform identification: the architecture and operating-system
// translations for each family of machine and system names, and the
// process's own names from uname.
#include "config/sysapi.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <sys/utsname.h>

#include <string>

namespace {

std::string Arch(const char *machine, const char *sysname = "Linux") {
    char *name = sysapi_translate_arch(machine, sysname);
    std::string result = name != nullptr ? name : "<null>";
    free(name);
    return result;
}

std::string Opsys(const char *sysname, const char *release = "", const char *version = "") {
    char *name = sysapi_translate_opsys(sysname, release, version);
    std::string result = name != nullptr ? name : "<null>";
    free(name);
    return result;
}

TEST(SysapiTest, ArchitectureFamilies) {
    EXPECT_EQ(Arch("alpha"), "ALPHA");
    for (const char *intel : {"i86pc", "i686", "i586", "i486", "i386"}) {
        EXPECT_EQ(Arch(intel), "INTEL") << intel;
    }
    EXPECT_EQ(Arch("ia64"), "IA64");
    EXPECT_EQ(Arch("x86_64"), "X86_64");
    EXPECT_EQ(Arch("anything", "IRIX64"), "SGI");
    EXPECT_EQ(Arch("mips"), "SGI");
    EXPECT_EQ(Arch("sun4u", "SunOS"), "SUN4u");
    for (const char *sun : {"sun4m", "sun4c", "sparc"}) {
        EXPECT_EQ(Arch(sun, "SunOS"), "SUN4x") << sun;
    }
    for (const char *ppc : {"Power Macintosh", "ppc", "ppc32"}) {
        EXPECT_EQ(Arch(ppc), "PPC") << ppc;
    }
    EXPECT_EQ(Arch("ppc64"), "PPC64");
}

TEST(SysapiTest, ArchitectureRulesMatchExactlyAndInOrder) {
    EXPECT_EQ(Arch("armv7l"), "armv7l");
    EXPECT_EQ(Arch("I686"), "I686");
    EXPECT_EQ(Arch("x86_64 "), "x86_64 ");
    EXPECT_EQ(Arch("i686", "IRIX"), "INTEL");  // machine rules come first
    EXPECT_EQ(Arch("sun4u", "IRIX"), "SGI");   // ... but only the ones above IRIX
    EXPECT_EQ(Arch("mips", "irix"), "SGI");
    EXPECT_EQ(Arch("ppc", "Irix"), "PPC");
}

TEST(SysapiTest, SolarisReleases) {
    EXPECT_EQ(Opsys("SunOS", "5.9"), "SOLARIS29");
    EXPECT_EQ(Opsys("solaris", "2.9"), "SOLARIS29");
    EXPECT_EQ(Opsys("SunOS", "2.8"), "SOLARIS28");
    EXPECT_EQ(Opsys("SunOS", "5.7"), "SOLARIS27");
    EXPECT_EQ(Opsys("SunOS", "2.6"), "SOLARIS26");
    EXPECT_EQ(Opsys("SunOS", "5.5.1"), "SOLARIS251");
    EXPECT_EQ(Opsys("SunOS", "2.5"), "SOLARIS25");
    EXPECT_EQ(Opsys("SunOS", "5.10"), "SOLARIS5.10");
}

TEST(SysapiTest, OtherSystems) {
    EXPECT_EQ(Opsys("Linux", "2.6.9"), "LINUX");
    EXPECT_EQ(Opsys("linux"), "LINUX");
    EXPECT_EQ(Opsys("LINUX", "6.1"), "LINUX6.1");
    EXPECT_EQ(Opsys("OSF1", "V5.1"), "OSF1");
    EXPECT_EQ(Opsys("HP-UX", "B.10.20"), "HPUX10");
    EXPECT_EQ(Opsys("HP-UX", "B.11.00"), "HPUX11");
    EXPECT_EQ(Opsys("HP-UX", "B.11.11"), "HPUX11");
    EXPECT_EQ(Opsys("HP-UX", "B.11.23"), "HPUXB.11.23");
    EXPECT_EQ(Opsys("IRIX64", "6.5"), "IRIX65");
    EXPECT_EQ(Opsys("irix", "6.2"), "IRIX62");
    EXPECT_EQ(Opsys("IRIX", "6.4"), "IRIX6.4");
    EXPECT_EQ(Opsys("Darwin", "8.0"), "OSX");
    EXPECT_EQ(Opsys("AIX", "3", "5"), "AIX53");
    EXPECT_EQ(Opsys("AIX", "3", "4"), "AIX43");
    EXPECT_EQ(Opsys("FreeBSD", "6.1-RELEASE"), "FREEBSD6");
    EXPECT_EQ(Opsys("FreeBSD", ""), "FREEBSD");
    EXPECT_EQ(Opsys("GNU", "0.9"), "GNU0.9");
    EXPECT_EQ(Opsys(nullptr, nullptr, nullptr), "");
}

TEST(SysapiTest, ProcessPlatformComesFromUname) {
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    const char *arch = sysapi_torvel_arch();
    ASSERT_NE(arch, nullptr);
    EXPECT_EQ(Arch(u.machine, u.sysname), arch);
    EXPECT_STREQ(sysapi_opsys(), Opsys(u.sysname, u.release, u.version).c_str());
    EXPECT_STREQ(sysapi_uname_arch(), u.machine);
    EXPECT_STREQ(sysapi_uname_opsys(), u.sysname);
    EXPECT_EQ(sysapi_torvel_arch(), arch);  // computed once
    if (strcmp(u.machine, "x86_64") == 0 && strcmp(u.sysname, "Linux") == 0) {
        EXPECT_STREQ(arch, "X86_64");
        EXPECT_STREQ(sysapi_opsys(), "LINUX");
    }
}

}  // namespace

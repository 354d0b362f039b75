// Parsing and comparing version and platform marker strings, this program's
// own (version/torvel_version.h) or a peer's, and reading the markers out of
// any program file on disk. Touches no process-wide state except reading
// mySubSystem when no subsystem name is given; mktime uses the local zone.
#ifndef TORVEL_VERSION_TORVEL_VERSION_INFO_H_
#define TORVEL_VERSION_TORVEL_VERSION_INFO_H_

#include <time.h>

#include "version/torvel_version.h"

class TorvelVersionInfo {
 public:
    // One parsed version and platform. arch and opsys are malloc'ed and owned
    // by whoever owns the record (null when unknown); the parsers below free
    // and replace them.
    struct VersionData {
        int major = 0;
        int minor = 0;
        int sub_minor = 0;
        int version_number = 0;  // major * 1000000 + minor * 1000 + sub_minor
        time_t build_date = 0;   // midnight local time of the build day
        char *arch = nullptr;
        char *opsys = nullptr;
    };

    // Parses version and platform; null stands for this program's own
    // markers, and a null subsystem for mySubSystem. The texts are borrowed
    // only for the call (the subsystem name is copied).
    explicit TorvelVersionInfo(const char *version = nullptr, const char *subsystem = nullptr,
                               const char *platform = nullptr);
    ~TorvelVersionInfo();

    // Owns heap strings; not copyable.
    TorvelVersionInfo(const TorvelVersionInfo &) = delete;
    TorvelVersionInfo &operator=(const TorvelVersionInfo &) = delete;

    // -1 if other's version number is lower than this one's, 1 if higher,
    // 0 if equal. An unparsable other counts as version 0.
    int compare_versions(const char *other) const;
    // The same on build dates; an unparsable date counts as time 0.
    int compare_build_dates(const char *other) const;

    // False if other_version does not parse; else true for the same major
    // and minor numbers of a stable series, or when this version is at least
    // the other. other_platform is not examined.
    bool is_compatible(const char *other_version, const char *other_platform = nullptr) const;

    bool built_since_version(int major, int minor, int sub_minor) const;
    // month is 1-12; false when the date cannot be converted.
    bool built_since_date(int month, int day, int year) const;

    // With a text: whether it parses. Without: whether this object's own
    // version parsed (major above 5).
    bool is_valid(const char *version = nullptr) const;
    // Stable series have an even minor number.
    bool is_stable_series() const;

    // The first "$TorvelVersion: ... $" marker in the file at path, stored in
    // buffer (size at least 40, of which size - 1 characters are used) or,
    // without a buffer, in a new malloc'ed array of at most 100 characters
    // plus the terminator that the caller free()s. Null if path is null, the
    // buffer is too small, the file cannot be read or holds no whole marker
    // within the limit.
    static char *get_version_from_file(const char *path, char *buffer = nullptr, int size = 0);
    // The same for the first "$TorvelPlatform:...$" marker, whatever platform
    // it names.
    static char *get_platform_from_file(const char *path, char *buffer = nullptr, int size = 0);

    // Parse one marker into data. A null text copies this object's own data.
    // A text without the marker's prefix fails and leaves data alone; any
    // later rejection of a version sets data.major to 0 (a version number
    // already computed stays) and fails.
    bool string_to_VersionData(const char *text, VersionData &data) const;
    bool string_to_PlatformData(const char *text, VersionData &data) const;

 private:
    VersionData myversion_;
    char *mysubsys_;  // malloc'ed copy, or null
};

#endif  // TORVEL_VERSION_TORVEL_VERSION_INFO_H_

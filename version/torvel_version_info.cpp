// TorvelVersionInfo: parsing of version and platform markers, their
// comparisons, and the scan of a program file for a marker. Build dates are
// midnight local time with the daylight-saving flag set, as every peer
// computes them, so dates compare equal across programs of one zone.
#include "version/torvel_version_info.h"

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/subsystem.h"

namespace {

const char kVersionPrefix[] = "$TorvelVersion: ";
const size_t kVersionPrefixLength = sizeof kVersionPrefix - 1;  // 16
const char kPlatformPrefix[] = "$TorvelPlatform: ";
const size_t kPlatformPrefixLength = sizeof kPlatformPrefix - 1;  // 17

const char * const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

const int kSmallestBuffer = 40;
const int kAllocatedLimit = 100;

char *copy_or_null(const char *text) {
    return text == nullptr ? nullptr : strdup(text);
}

// Reads a decimal int at *p the way "%d" does (leading blanks, a sign) and
// moves *p past it; false when there is no number or it does not fit.
bool read_int(const char **p, int *value) {
    char *end = nullptr;
    errno = 0;
    long number = strtol(*p, &end, 10);
    if (end == *p || errno == ERANGE || number < INT_MIN || number > INT_MAX) {
        return false;
    }
    *value = static_cast<int>(number);
    *p = end;
    return true;
}

bool read_version_numbers(const char *p, int *major, int *minor, int *sub_minor) {
    if (!read_int(&p, major) || *p++ != '.') {
        return false;
    }
    if (!read_int(&p, minor) || *p++ != '.') {
        return false;
    }
    return read_int(&p, sub_minor);
}

// Midnight of the day in local time, daylight-saving flag set; -1 when
// mktime cannot represent it. month is 0-11.
time_t local_midnight(int month, int day, int year) {
    struct tm date;
    memset(&date, 0, sizeof date);
    date.tm_mon = month;
    date.tm_mday = day;
    date.tm_year = year - 1900;
    date.tm_isdst = 1;
    return mktime(&date);
}

// The build date from "<Mon> <day> <year>..." at p; -1 when rejected.
time_t read_build_date(const char *p) {
    int month = -1;
    for (int i = 0; i < 12; ++i) {
        if (strncmp(p, kMonths[i], 3) == 0) {
            month = i;
            break;
        }
    }
    // The month must be followed by something to skip, never the terminator.
    if (month < 0 || p[3] == '\0') {
        return -1;
    }
    p += 4;
    int day = 0;
    int year = 0;
    if (!read_int(&p, &day) || !read_int(&p, &year)) {
        return -1;
    }
    if (day < 0 || day > 31 || year < 1997 || year > 2036) {
        return -1;
    }
    return local_midnight(month, day, year);
}

void copy_numbers(const TorvelVersionInfo::VersionData &from, TorvelVersionInfo::VersionData &to) {
    to.major = from.major;
    to.minor = from.minor;
    to.sub_minor = from.sub_minor;
    to.version_number = from.version_number;
    to.build_date = from.build_date;
}

void replace(char **slot, char *value) {
    free(*slot);
    *slot = value;
}

int compare(long long mine, long long other) {
    if (other < mine) {
        return -1;
    }
    return other > mine ? 1 : 0;
}

// Scans the file for marker, whose first match_length characters must match
// exactly; after them anything is copied up to and including the next "$".
// The result is stored in buffer or a new malloc'ed array (see the header).
char *marker_from_file(const char *path, char *buffer, int size, const char *marker,
                       size_t match_length) {
    if (path == nullptr || (buffer != nullptr && size < kSmallestBuffer)) {
        return nullptr;
    }
    FILE *file = fopen(path, "re");
    if (file == nullptr) {
        return nullptr;
    }
    bool allocated = buffer == nullptr;
    size_t limit = allocated ? kAllocatedLimit : static_cast<size_t>(size) - 1;
    if (allocated) {
        buffer = static_cast<char *>(malloc(limit + 1));
    }
    size_t stored = 0;
    bool done = false;
    int c;
    while (buffer != nullptr && stored < limit && (c = getc(file)) != EOF) {
        if (stored >= match_length) {
            buffer[stored++] = static_cast<char>(c);
            if (c == '$') {
                done = true;
                break;
            }
        } else if (c == marker[stored]) {
            buffer[stored++] = static_cast<char>(c);
        } else if (c == '$') {
            buffer[0] = '$';  // a marker may start here
            stored = 1;
        } else {
            stored = 0;
        }
    }
    fclose(file);
    if (!done) {
        if (allocated) {
            free(buffer);
        }
        return nullptr;
    }
    buffer[stored] = '\0';
    return buffer;
}

}  // namespace

TorvelVersionInfo::TorvelVersionInfo(const char *version, const char *subsystem,
                                     const char *platform)
    : mysubsys_(copy_or_null(subsystem != nullptr ? subsystem : mySubSystem)) {
    string_to_VersionData(version != nullptr ? version : TorvelVersion(), myversion_);
    string_to_PlatformData(platform != nullptr ? platform : TorvelPlatform(), myversion_);
}

TorvelVersionInfo::~TorvelVersionInfo() {
    free(myversion_.arch);
    free(myversion_.opsys);
    free(mysubsys_);
}

bool TorvelVersionInfo::string_to_VersionData(const char *text, VersionData &data) const {
    if (text == nullptr) {
        copy_numbers(myversion_, data);
        return true;
    }
    if (strncmp(text, kVersionPrefix, kVersionPrefixLength) != 0) {
        return false;
    }
    const char *numbers = strchr(text, ' ') + 1;  // the prefix holds a blank
    int major = 0;
    int minor = 0;
    int sub_minor = 0;
    if (!read_version_numbers(numbers, &major, &minor, &sub_minor)) {
        data.major = 0;
        return false;
    }
    data.minor = minor;
    data.sub_minor = sub_minor;
    // A number too large for the version number is rejected, not wrapped.
    long long number = major * 1000000LL + minor * 1000LL + sub_minor;
    if (major <= 5 || minor > 99 || sub_minor > 99 || number > INT_MAX || number < INT_MIN) {
        data.major = 0;
        return false;
    }
    data.major = major;
    data.version_number = static_cast<int>(number);

    const char *date = strchr(numbers, ' ');
    time_t build_date = date == nullptr ? -1 : read_build_date(date + 1);
    if (build_date == -1) {
        data.major = 0;
        return false;
    }
    data.build_date = build_date;
    return true;
}

bool TorvelVersionInfo::string_to_PlatformData(const char *text, VersionData &data) const {
    if (text == nullptr) {
        if (&data != &myversion_) {
            replace(&data.arch, copy_or_null(myversion_.arch));
            replace(&data.opsys, copy_or_null(myversion_.opsys));
        }
        return true;
    }
    if (strncmp(text, kPlatformPrefix, kPlatformPrefixLength) != 0) {
        return false;
    }
    const char *rest = strchr(text, ' ') + 1;
    const char *dash = strchr(rest, '-');
    size_t arch_length = dash == nullptr ? strlen(rest) : static_cast<size_t>(dash - rest);
    replace(&data.arch, arch_length == 0 ? nullptr : strndup(rest, arch_length));

    char *opsys = nullptr;
    if (dash != nullptr) {
        const char *start = dash + 1;
        size_t length = strcspn(start, "-");  // the second piece only
        const char *dollar = static_cast<const char *>(memchr(start, '$', length));
        if (dollar != nullptr) {
            length = static_cast<size_t>(dollar - start);
        }
        if (length > 0) {
            opsys = strndup(start, length);
        }
    }
    replace(&data.opsys, opsys);
    return true;
}

int TorvelVersionInfo::compare_versions(const char *other) const {
    VersionData data;
    string_to_VersionData(other, data);
    return compare(myversion_.version_number, data.version_number);
}

int TorvelVersionInfo::compare_build_dates(const char *other) const {
    VersionData data;
    string_to_VersionData(other, data);
    return compare(myversion_.build_date, data.build_date);
}

bool TorvelVersionInfo::is_compatible(const char *other_version, const char *) const {
    VersionData data;
    if (!string_to_VersionData(other_version, data)) {
        return false;
    }
    if (is_stable_series() && data.major == myversion_.major && data.minor == myversion_.minor) {
        return true;
    }
    return myversion_.version_number >= data.version_number;
}

bool TorvelVersionInfo::built_since_version(int major, int minor, int sub_minor) const {
    long long wanted = major * 1000000LL + minor * 1000LL + sub_minor;
    return myversion_.version_number >= wanted;
}

bool TorvelVersionInfo::built_since_date(int month, int day, int year) const {
    time_t wanted = local_midnight(month - 1, day, year);
    if (wanted == -1) {
        return false;
    }
    return myversion_.build_date >= wanted;
}

bool TorvelVersionInfo::is_valid(const char *version) const {
    if (version == nullptr) {
        return myversion_.major > 5;
    }
    VersionData data;
    return string_to_VersionData(version, data);
}

bool TorvelVersionInfo::is_stable_series() const {
    return myversion_.minor % 2 == 0;
}

char *TorvelVersionInfo::get_version_from_file(const char *path, char *buffer, int size) {
    return marker_from_file(path, buffer, size, kVersionPrefix, kVersionPrefixLength);
}

char *TorvelVersionInfo::get_platform_from_file(const char *path, char *buffer, int size) {
    const char *own = TorvelPlatform();
    size_t through_colon = static_cast<size_t>(strchr(own, ':') - own) + 1;
    return marker_from_file(path, buffer, size, own, through_colon);
}

// Shared helpers for the configuration reader tests: a private temporary
// directory with files written into it, and a local macro table that is
// freed when the test ends.
#ifndef TORVEL_TESTS_CONFIG_READER_TEST_SUPPORT_H_
#define TORVEL_TESTS_CONFIG_READER_TEST_SUPPORT_H_

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "config/macro_table.h"
#include "diagnostics/debug_log.h"

namespace reader_test {

// A directory under TMPDIR (or /tmp), removed with its files on destruction.
class TempDir {
 public:
    TempDir() {
        const char *base = getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr ? base : "/tmp") + "/reader_test.XXXXXX";
        path_ = pattern;
        if (mkdtemp(&path_[0]) == nullptr) {
            path_.clear();
        }
    }
    ~TempDir() {
        if (path_.empty()) {
            return;
        }
        DIR *dir = opendir(path_.c_str());
        if (dir != nullptr) {
            while (struct dirent *entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    unlink((path_ + "/" + name).c_str());
                }
            }
            closedir(dir);
        }
        rmdir(path_.c_str());
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }

    // Writes bytes (which may hold NULs) to name; returns the full path.
    std::string Write(const std::string &name, const std::string &bytes, mode_t mode = 0644) {
        std::string full = path_ + "/" + name;
        FILE *out = fopen(full.c_str(), "w");
        if (out != nullptr) {
            fwrite(bytes.data(), 1, bytes.size(), out);
            fclose(out);
        }
        chmod(full.c_str(), mode);
        return full;
    }

 private:
    std::string path_;
};

// A macro table of N buckets, freed on destruction.
template <int N>
struct LocalTable {
    MacroBucket *heads[N] = {};
    ~LocalTable() { clear_macro_table(heads, N); }
    static constexpr int size = N;
    const char *Lookup(const char *name) { return lookup_macro(name, heads, N); }
};

// Sends debug-log lines of the given categories to a temporary file while
// it lives; Text() returns what was written so far.
class LogCapture {
 public:
    explicit LogCapture(int flags)
        : file_(tmpfile()), saved_fp_(DebugFP), saved_flags_(DebugFlags),
          saved_works_(_torvel_dprintf_works) {
        if (file_ != nullptr) {
            DebugFP = file_;
            DebugFlags = flags;
            _torvel_dprintf_works = 1;
        }
    }
    ~LogCapture() {
        if (file_ != nullptr) {
            DebugFP = saved_fp_;
            DebugFlags = saved_flags_;
            _torvel_dprintf_works = saved_works_;
            fclose(file_);
        }
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    std::string Text() {
        std::string text;
        if (file_ == nullptr) {
            return text;
        }
        fflush(file_);
        rewind(file_);
        char chunk[4096];
        size_t got = 0;
        while ((got = fread(chunk, 1, sizeof chunk, file_)) > 0) {
            text.append(chunk, got);
        }
        fseek(file_, 0, SEEK_END);
        return text;
    }

 private:
    FILE *file_;
    FILE *saved_fp_;
    int saved_flags_;
    int saved_works_;
};

}  // namespace reader_test

#endif  // TORVEL_TESTS_CONFIG_READER_TEST_SUPPORT_H_

// A fixture for tests that set up the debug log: a private directory for
// log files, the log's process-wide variables saved before each test and
// put back after it (file names freed, the lock descriptor closed), and
// helpers to read, fill and match files.
#ifndef TORVEL_TESTS_DIAGNOSTICS_DEBUG_LOG_FIXTURE_H_
#define TORVEL_TESTS_DIAGNOSTICS_DEBUG_LOG_FIXTURE_H_

#include <dirent.h>
#include <gtest/gtest.h>
#include <regex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "diagnostics/debug_log.h"

namespace debug_log_test {

class DebugLogTest : public ::testing::Test {
 protected:
    void SetUp() override {
        const char *base = getenv("TMPDIR");
        dir_ = std::string(base != nullptr ? base : "/tmp") + "/debug_log_test.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(&dir_[0]));
        saved_fp_ = DebugFP;
        saved_flags_ = DebugFlags;
        saved_works_ = _torvel_dprintf_works;
        saved_id_ = DebugId;
        saved_lock_ = DebugLock;
        saved_lock_fd_ = LockFd;
        for (int i = 0; i < D_MAX_LOG_FILES; ++i) {
            saved_files_[i] = DebugFile[i];
            saved_max_[i] = MaxLog[i];
            DebugFile[i] = nullptr;
            MaxLog[i] = 0;
        }
        DebugLock = nullptr;
        LockFd = -1;
        DebugId = nullptr;
        DebugFP = nullptr;
        DebugFlags = D_ALWAYS;
        _torvel_dprintf_works = 1;
    }

    void TearDown() override {
        if (DebugFP != nullptr && DebugFP != stderr && DebugFP != saved_fp_) {
            fclose(DebugFP);
        }
        for (int i = 0; i < D_MAX_LOG_FILES; ++i) {
            free(DebugFile[i]);
            DebugFile[i] = saved_files_[i];
            MaxLog[i] = saved_max_[i];
        }
        free(DebugLock);
        DebugLock = saved_lock_;
        if (LockFd >= 0 && LockFd != saved_lock_fd_) {
            close(LockFd);
        }
        LockFd = saved_lock_fd_;
        DebugId = saved_id_;
        DebugFP = saved_fp_;
        DebugFlags = saved_flags_;
        _torvel_dprintf_works = saved_works_;
        RemoveTree(dir_);
    }

    // A path inside the test's directory.
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }

    // Points log level (0 main, i category bit i - 1) at name in the
    // test's directory; returns the full path.
    std::string SetLog(int level, const std::string &name) {
        std::string path = Path(name);
        free(DebugFile[level]);
        DebugFile[level] = strdup(path.c_str());
        return path;
    }

    static std::string Read(const std::string &path) {
        std::string text;
        FILE *in = fopen(path.c_str(), "r");
        if (in == nullptr) {
            return "<missing>";
        }
        char chunk[4096];
        size_t got = 0;
        while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) {
            text.append(chunk, got);
        }
        fclose(in);
        return text;
    }

    static void Write(const std::string &path, const std::string &bytes) {
        FILE *out = fopen(path.c_str(), "w");
        ASSERT_NE(nullptr, out) << path;
        fwrite(bytes.data(), 1, bytes.size(), out);
        fclose(out);
    }

    static bool Exists(const std::string &path) {
        struct stat status;
        return lstat(path.c_str(), &status) == 0;
    }

    // Removes path and everything below it.
    static void RemoveTree(const std::string &path) {
        DIR *dir = opendir(path.c_str());
        if (dir != nullptr) {
            while (struct dirent *entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    RemoveTree(path + "/" + name);
                }
            }
            closedir(dir);
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }

    std::string dir_;

 private:
    FILE *saved_fp_ = nullptr;
    int saved_flags_ = 0;
    int saved_works_ = 0;
    void (*saved_id_)(FILE *) = nullptr;
    char *saved_lock_ = nullptr;
    int saved_lock_fd_ = -1;
    char *saved_files_[D_MAX_LOG_FILES] = {};
    int saved_max_[D_MAX_LOG_FILES] = {};
};

// Whether the whole of text matches the POSIX extended pattern.
inline bool MatchesWhole(const std::string &text, const std::string &pattern) {
    regex_t compiled;
    if (regcomp(&compiled, ("^(" + pattern + ")$").c_str(), REG_EXTENDED | REG_NOSUB) != 0) {
        ADD_FAILURE() << "bad pattern " << pattern;
        return false;
    }
    bool matched = regexec(&compiled, text.c_str(), 0, nullptr, 0) == 0;
    regfree(&compiled);
    return matched;
}

// The pattern of a line header: "%d/%d %02d:%02d:%02d ".
constexpr const char *kHeader = "[0-9]{1,2}/[0-9]{1,2} [0-9]{2}:[0-9]{2}:[0-9]{2} ";

}  // namespace debug_log_test

#endif  // TORVEL_TESTS_DIAGNOSTICS_DEBUG_LOG_FIXTURE_H_

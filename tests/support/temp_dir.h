// Scratch space for tests: a fresh directory removed with everything in it
// (links not followed) when the object goes, and whole-file write and read
// helpers. Test code only; nothing here is thread-safe.
#ifndef TORVEL_TESTS_SUPPORT_TEMP_DIR_H_
#define TORVEL_TESTS_SUPPORT_TEMP_DIR_H_

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace torvel_test {

// Writes text (which may hold NULs) to path, created or truncated, and sets
// its mode to exactly mode; true on success. The file is worked through
// stdio, whose calls never pass through the brokering layer's wrapped
// read, write and close, so these helpers serve that layer's tests too.
inline bool WriteFile(const std::string &path, const std::string &text, mode_t mode = 0644) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    FILE *file = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (file == nullptr) {
        return false;
    }
    bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = fclose(file) == 0 && ok;
    return ok && chmod(path.c_str(), mode) == 0;
}

// The whole content of path, or if_missing when it cannot be opened.
inline std::string ReadFile(const std::string &path, const std::string &if_missing = "") {
    FILE *file = fopen(path.c_str(), "r");
    if (file == nullptr) {
        return if_missing;
    }
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, file)) > 0) {
        text.append(chunk, n);
    }
    fclose(file);
    return text;
}

// Removes path and everything below it; links are removed, not followed.
// errno is kept: clean-up runs between a test's steps.
inline void RemoveTree(const std::string &path) {
    struct Remover {
        static int One(const char *entry, const struct stat *, int, struct FTW *) {
            remove(entry);
            return 0;
        }
    };
    int saved_errno = errno;
    nftw(path.c_str(), Remover::One, 16, FTW_DEPTH | FTW_PHYS);
    errno = saved_errno;
}

// A fresh directory "<prefix>.XXXXXX" under base (by default TMPDIR, or
// /tmp when that is unset), mode 0755 so that other identities can enter
// it. path() is empty when it could not be made.
class TempDir {
 public:
    explicit TempDir(const char *prefix = "torvel_test", const char *base = nullptr) {
        if (base == nullptr || *base == '\0') {
            base = getenv("TMPDIR");
        }
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/" +
                              prefix + ".XXXXXX";
        if (mkdtemp(&pattern[0]) != nullptr) {
            path_ = pattern;
            chmod(path_.c_str(), 0755);
        }
    }
    ~TempDir() {
        if (!path_.empty()) {
            RemoveTree(path_);
        }
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    const std::string &root() const { return path_; }
    std::string Path(const std::string &relative) const { return path_ + "/" + relative; }

    // Writes bytes to name (relative to the directory); returns the full path.
    std::string Write(const std::string &name, const std::string &bytes, mode_t mode = 0644) {
        std::string full = Path(name);
        WriteFile(full, bytes, mode);
        return full;
    }

    // Makes the directory name (relative to the directory); returns its path.
    std::string MakeDir(const std::string &name, mode_t mode = 0755) {
        std::string full = Path(name);
        mkdir(full.c_str(), mode);
        return full;
    }

 private:
    std::string path_;
};

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_TEMP_DIR_H_

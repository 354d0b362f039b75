// DebugCapture: sends the debug log's lines of some categories to a
// temporary file for the life of the object, so tests can check what was
// logged. Touches the process-wide DebugFP, DebugFlags and
// _torvel_dprintf_works, and restores them when it goes; one capture at a
// time.
#ifndef TORVEL_TESTS_SUPPORT_CAPTURE_H_
#define TORVEL_TESTS_SUPPORT_CAPTURE_H_

#include <stdio.h>
#include <unistd.h>

#include <string>

#include "diagnostics/debug_log.h"

class DebugCapture {
 public:
    // Captures the categories in flags. Lines are bare (D_NOHEADER) unless
    // with_headers is true, in which case flags are used exactly as given.
    explicit DebugCapture(int flags, bool with_headers = false)
        : file_(tmpfile()),
          saved_fp_(DebugFP),
          saved_flags_(DebugFlags),
          saved_works_(_torvel_dprintf_works) {
        if (file_ != nullptr) {
            DebugFP = file_;
            DebugFlags =
                with_headers ? flags : static_cast<int>(static_cast<unsigned>(flags) | D_NOHEADER);
            _torvel_dprintf_works = 1;
        }
    }
    ~DebugCapture() {
        if (file_ != nullptr) {
            DebugFP = saved_fp_;
            DebugFlags = saved_flags_;
            _torvel_dprintf_works = saved_works_;
            fclose(file_);
        }
    }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    // Everything logged so far.
    std::string text() const {
        std::string all = ReadAll();
        if (file_ != nullptr) {
            fseek(file_, 0, SEEK_END);
        }
        return all;
    }

    // Everything logged since the last Take(); the capture starts empty again.
    std::string Take() {
        std::string all = ReadAll();
        if (file_ != nullptr) {
            rewind(file_);
            if (ftruncate(fileno(file_), 0) != 0) {
                all += "<truncate failed>";
            }
        }
        return all;
    }

 private:
    std::string ReadAll() const {
        std::string all;
        if (file_ == nullptr) {
            return all;
        }
        fflush(file_);
        rewind(file_);
        char chunk[4096];
        size_t n;
        while ((n = fread(chunk, 1, sizeof chunk, file_)) > 0) {
            all.append(chunk, n);
        }
        return all;
    }

    FILE *file_;
    FILE *saved_fp_;
    int saved_flags_;
    int saved_works_;
};

#endif  // TORVEL_TESTS_SUPPORT_CAPTURE_H_

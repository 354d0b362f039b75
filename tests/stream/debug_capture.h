// DebugCapture: sends the debug log's lines of some categories to a
// temporary file for the life of the object, so tests can check what was
// logged. Restores the log's previous settings when it goes.
#ifndef TORVEL_TESTS_STREAM_DEBUG_CAPTURE_H_
#define TORVEL_TESTS_STREAM_DEBUG_CAPTURE_H_

#include <stdio.h>

#include <string>

#include "diagnostics/debug_log.h"

class DebugCapture {
public:
    explicit DebugCapture(int flags)
        : saved_fp_(DebugFP), saved_flags_(DebugFlags), saved_works_(_torvel_dprintf_works) {
        file_ = tmpfile();
        DebugFP = file_;
        DebugFlags = static_cast<int>(static_cast<unsigned>(flags) | D_NOHEADER);
        _torvel_dprintf_works = 1;
    }
    ~DebugCapture() {
        DebugFP = saved_fp_;
        DebugFlags = saved_flags_;
        _torvel_dprintf_works = saved_works_;
        if (file_ != nullptr) {
            fclose(file_);
        }
    }
    DebugCapture(const DebugCapture &) = delete;
    DebugCapture &operator=(const DebugCapture &) = delete;

    // Everything logged so far.
    std::string text() const {
        std::string all;
        if (file_ == nullptr) {
            return all;
        }
        fflush(file_);
        rewind(file_);
        char chunk[512];
        size_t n;
        while ((n = fread(chunk, 1, sizeof(chunk), file_)) > 0) {
            all.append(chunk, n);
        }
        fseek(file_, 0, SEEK_END);
        return all;
    }

private:
    FILE *file_;
    FILE *saved_fp_;
    int saved_flags_;
    int saved_works_;
};

#endif  // TORVEL_TESTS_STREAM_DEBUG_CAPTURE_H_

// LayerLogCapture: the brokering layer's log lines caught in memory as
// "<level>:<text>", by replacing the layer's log writer (and turning its log
// on) while the object lives. Start() replaces the writer for the rest of a
// child process, which never restores it, and leaves the switch alone. Touches the layer's
// process-wide writer and switch; one capture at a time.
#ifndef TORVEL_TESTS_SUPPORT_LAYER_LOG_CAPTURE_H_
#define TORVEL_TESTS_SUPPORT_LAYER_LOG_CAPTURE_H_

#include <stdarg.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "nbx/generic_log.h"

namespace torvel_test {

class LayerLogCapture {
 public:
    LayerLogCapture() {
        Generic_log_enabled = 1;
        Start();
    }
    ~LayerLogCapture() { Generic_set_log_va(Generic_log_write); }
    LayerLogCapture(const LayerLogCapture &) = delete;
    LayerLogCapture &operator=(const LayerLogCapture &) = delete;

    // Forgets the lines caught so far and catches every later one.
    static void Start() {
        Lines().clear();
        Generic_set_log_va(Catch);
    }

    static std::vector<std::string> &Lines() {
        static std::vector<std::string> lines;
        return lines;
    }
    // Some line is exactly line ("<level>:<text>").
    static bool Has(const std::string &line) {
        for (const std::string &l : Lines()) {
            if (l == line) return true;
        }
        return false;
    }
    // Some line's text contains piece.
    static bool Logged(const std::string &piece) {
        for (const std::string &l : Lines()) {
            if (l.find(piece, l.find(':') + 1) != std::string::npos) return true;
        }
        return false;
    }
    static std::string Last() { return Lines().empty() ? "" : Lines().back(); }

 private:
    static void Catch(int level, const char *format, va_list args) {
        char text[4096];
        vsnprintf(text, sizeof text, format, args);
        Lines().push_back(std::to_string(level) + ":" + text);
    }
};

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_LAYER_LOG_CAPTURE_H_

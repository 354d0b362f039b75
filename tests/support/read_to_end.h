// ReadToEnd: everything a descriptor (a pipe from a child, say) delivers up
// to its end, read with the system's own calls so the brokering layer's
// wrapped read and close never see it. Test code only.
#ifndef TORVEL_TESTS_SUPPORT_READ_TO_END_H_
#define TORVEL_TESTS_SUPPORT_READ_TO_END_H_

#include <sys/types.h>

#include <string>

#include "nbx/wrappers.h"

namespace torvel_test {

// Reads fd until its end and closes it.
inline std::string ReadToEnd(int fd) {
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = __real_read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
    }
    __real_close(fd);
    return text;
}

}  // namespace torvel_test

#endif  // TORVEL_TESTS_SUPPORT_READ_TO_END_H_

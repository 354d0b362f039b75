// Fuzz target for the brokering layer's hand-over parser: the input bytes
// become this process's "CB_INHERIT<pid>" value and are taken over into the
// socket table, as the next program after an exec would. The process holds
// a fixed set of descriptors the values can name: 100 a TCP socket and 101 a
// dup of it, 102 and 103 further TCP sockets, 104 a UDP socket and 105 a
// dup of it, 106 /dev/null. An accepted value must survive a round trip:
// handing the table over again and taking that back gives the same text.
// Between inputs the table is emptied without closing those descriptors,
// and the variable is removed.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "nbx/inherit.h"
#include "nbx/sock_table.h"
#include "nbx/wrappers.h"

const char *mySubSystem = "TOOL";

namespace {

const size_t kMaxInput = 8192;

void Place(int fd, int number) {
    if (fd < 0 || __real_dup2(fd, number) != number) abort();
    if (fd != number) __real_close(fd);
}

// Empties the table; records are freed, descriptors stay open.
void ResetTable() {
    for (int fd = 0; fd < _CB_maxfd; ++fd) {
        SockInfo *info = _CB_fdInfo[fd].info;
        if (info == nullptr) continue;
        for (int other = fd; other < _CB_maxfd; ++other) {
            if (_CB_fdInfo[other].info == info) _CB_fdInfo[other] = FdInfo{NOT_DEFINED, nullptr};
        }
        _CB_freeSockInfo(info);
    }
    _CB_maxfd = 0;
}

std::string HandOverValue(const char *name) {
    const char *value = getenv(name);
    return value == nullptr ? std::string("<absent>") : std::string(value);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    unsetenv("NBX_LOG_FILE");
    _CB_initialize();
    int tcp = __real_socket(AF_INET, SOCK_STREAM, 0);
    Place(__real_dup(tcp), 101);
    Place(tcp, 100);
    Place(__real_socket(AF_INET, SOCK_STREAM, 0), 102);
    Place(__real_socket(AF_INET, SOCK_STREAM, 0), 103);
    int udp = __real_socket(AF_INET, SOCK_DGRAM, 0);
    Place(__real_dup(udp), 105);
    Place(udp, 104);
    Place(open("/dev/null", O_RDONLY), 106);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > kMaxInput) return 0;
    // The environment entry lives in one static buffer handed to putenv, so
    // the inputs do not pile up in the environment's own copies.
    static char entry[32 + kMaxInput + 1];
    char name[32];
    _CB_inheritName(name);
    size_t prefix = strlen(name);
    memcpy(entry, name, prefix);
    entry[prefix] = '=';
    memcpy(entry + prefix + 1, data, size);
    entry[prefix + 1 + size] = '\0';
    const char *value = entry + prefix + 1;
    putenv(entry);
    if (_CB_inheritFrom() == 0 && value[0] != '\0') {
        if (getenv(name) != nullptr) abort();  // success removes the variable
        if (_CB_inheritTo() != 0) abort();     // what was taken can be handed on
        std::string first = HandOverValue(name);
        ResetTable();
        if (_CB_inheritFrom() != 0) abort();
        if (_CB_inheritTo() != 0 || HandOverValue(name) != first) abort();
    }
    ResetTable();
    unsetenv(name);
    return 0;
}

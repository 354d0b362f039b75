// Initialisation and clean-up of the brokering layer. _CB_initialize sets up
// the layer's log from NBX_LOG_FILE, NBX_LOG_LEVEL and NBX_LOG_MAXSIZE,
// allocates the socket table (never freed), ignores SIGPIPE for the whole
// process and takes over sockets handed on by the program that exec'd this
// one. _CB_cleanup empties the table.
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "nbx/generic_log.h"
#include "nbx/inherit.h"
#include "nbx/nbx_ops.h"
#include "nbx/sock_table.h"

#define NBX_LOG_MODULE "init"

namespace {

const char kBannerLine[] = "++++++++++++++++++++++++++++++\n";

// The decimal value of NBX_LOG_MAXSIZE, or the default when it is unset or
// not a plain non-negative decimal that fits an int.
int log_max_size() {
    const char *text = getenv("NBX_LOG_MAXSIZE");
    if (text == nullptr) return GENERIC_LOG_DEFAULT_MAX;
    char *end = nullptr;
    errno = 0;
    long value = strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno != 0 || value < 0 || value > INT_MAX) {
        return GENERIC_LOG_DEFAULT_MAX;
    }
    return static_cast<int>(value);
}

void start_log() {
    const char *path = getenv("NBX_LOG_FILE");
    if (path == nullptr) return;
    const char *level_text = getenv("NBX_LOG_LEVEL");
    int level =
        level_text != nullptr && strcasecmp(level_text, "fulldebug") == 0 ? D_FULL : D_BASIC;
    Generic_logInit(path, level, log_max_size());
}

void allocate_table() {
    int size = getdtablesize();
    if (size < 0) size = 0;
    _CB_fdInfo = static_cast<FdInfo *>(calloc(size > 0 ? size : 1, sizeof(FdInfo)));
    if (_CB_fdInfo == nullptr) {
        NBX_ABORT("malloc failed");
    }
    _NBX_max_no_fds = size;
    for (int i = 0; i < size; ++i) {
        _CB_fdInfo[i].type = NOT_DEFINED;
        _CB_fdInfo[i].info = nullptr;
    }
    NBX_LOG(D_FULL, "_CB_fdInfo[0..%d] has been initialized\n", size - 1);
}

void ignore_sigpipe() {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = SIG_IGN;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    if (sigaction(SIGPIPE, &action, nullptr) != 0) {
        NBX_ERROR("_CB_initialize: sigaction(SIGPIPE) failed");
    }
}

}  // namespace

extern "C" {

void _CB_initialize(void) {
    int saved_errno = errno;
    start_log();
    NBX_LOG(D_FULL, "%s", kBannerLine);
    NBX_LOG(D_FULL, "+ _CB_initialize() called\n");
    // A second initialisation keeps the table: descriptors in it stay managed.
    if (_CB_fdInfo == nullptr) {
        allocate_table();
    }
    ignore_sigpipe();
    _CB_inheritFrom();
    NBX_LOG(D_FULL, "%s", kBannerLine);
    _CB_initialized = 1;
    errno = saved_errno;
}

void _CB_cleanup(void) {
    for (int fd = 0; fd < _CB_maxfd; ++fd) {
        if (_CB_fdInfo[fd].info != nullptr) {
            NBX_close(fd);
        }
    }
    _CB_maxfd = 0;
    _CB_lastCheck = 0;
    _CB_lastHeartBeat = 0;
    _CB_lastFlush = 0;
    _Broker_down_since = 0;
}

}  // extern "C"

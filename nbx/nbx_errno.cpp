// The brokering layer's error-code table, NBX_strerror and the version
// strings. NBX_strerror writes one static buffer.
#include "nbx/nbx_errno.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

extern "C" {

const NBXErrnoEntry NBX_errno_translation[] = {
    {NBX_ERRNO_NONE, "No NBX error"},
    {NBX_ERRNO_SYSTEM, "errno explains the reason best"},
    {NBX_ERRNO_NO_BROKER, "Broker is not available"},
    {NBX_ERRNO_BAD_MESSAGE, "NBX message in a bad format received"},
    {NBX_ERRNO_BAD_MESSAGE_TYPE, "Invalid type of NBX message received"},
    {NBX_ERRNO_INTERNAL_SOCKET, "the socket is being internally used by NBX"},
    {NBX_ERRNO_INVALID_ARGUMENT, "invalid argument is passed"},
    {NBX_ERRNO_NOT_SUPPORTED, "operation not supported for fd"},
    {NBX_ERRNO_INVALID_STATUS, "the socket is in invalid status for the call"},
    {NBX_ERRNO_NOT_REGISTERED, "the peer is not registered to the dest Broker"},
    {NBX_ERRNO_PASSIVE_SILENT, "Can't hear from the dest in PASSIVE connection"},
    {NBX_ERRNO_UNKNOWN, "Can't explain why"},
    {NBX_ERRNO_SENTINEL, nullptr},
};

char *NBX_strerror(int code) {
    static char text[300];
    int saved_errno = errno;
    const char *found = nullptr;
    for (const NBXErrnoEntry *entry = NBX_errno_translation; entry->code != NBX_ERRNO_SENTINEL;
         ++entry) {
        if (entry->code == code) {
            found = entry->text;
            break;
        }
    }
    if (found == nullptr) {
        snprintf(text, sizeof text, "%s", "Invalid error number passed");
    } else if (saved_errno != 0) {
        snprintf(text, sizeof text, "%s (errno %d: %s)", found, saved_errno, strerror(saved_errno));
    } else {
        snprintf(text, sizeof text, "%s", found);
    }
    errno = saved_errno;
    return text;
}

const char *_nbx_version(void) {
    return "$NBXVersion: 1.3.2 $";
}

const char *_nbx_build_date(void) {
    return "$NBXBuildDate: Jul 19 2006 $";
}

}  // extern "C"

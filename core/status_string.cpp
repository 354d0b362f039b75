// Wait-status phrases. The bits are decoded by hand rather than with the
// W* macros so the result does not depend on how a host packs them: low
// seven bits = terminating signal, low byte 0x7f = stopped, next byte = exit
// code.
#include "core/status_string.h"

void statusString(int status, MyString &out) {
    const int signal_bits = status & 0x7f;
    const bool killed = signal_bits != 0 && (status & 0xff) != 0x7f;
    if (killed) {
        out.sprintf_cat("died with signal %d", signal_bits);
    } else {
        out.sprintf_cat("exited with status %d", (status >> 8) & 0xff);
    }
}

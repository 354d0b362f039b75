// Fuzz target for the configuration reader: the input bytes are written to
// a temporary file and read with Read_config into a fresh table of 113
// buckets; then every stored value is expanded in full mode, as param does.
// The first byte picks the expand mode (odd: 2, even: 1). Nothing survives
// between inputs: the table is freed and the file removed.
//
// Every input is first checked the way a persistent setting is before it is
// stored (_torvel_check_config_file), which must never end the process.
// Inputs that could reach the documented fatal paths of a real read (an
// unset $ENV(...) variable, an empty $RANDOM_CHOICE()) are then skipped:
// those need a "$" and an upper-case "V" (for "$ENV") or "H" (for
// "$RANDOM_CHOICE"), since every expanded character comes from the input
// itself. Both paths are covered by the unit tests instead.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "config/macro_expand.h"
#include "config/macro_table.h"
#include "config/read_config.h"

const char *mySubSystem = "TOOL";

namespace {

bool may_reach_fatal_path(const uint8_t *data, size_t size) {
    return memchr(data, '$', size) != nullptr &&
           (memchr(data, 'V', size) != nullptr || memchr(data, 'H', size) != nullptr);
}

// Messages of rejected input go to stdout and stderr; keep them quiet.
void silence_output() {
    static bool done = false;
    if (!done) {
        FILE *out = freopen("/dev/null", "w", stdout);
        (void)out;
        done = true;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    silence_output();
    int expand_mode = (data[0] & 1) != 0 ? 2 : 1;

    char path[] = "/tmp/config_reader_fuzz.XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) {
        return 0;
    }
    size_t written = 0;
    while (written < size - 1) {
        ssize_t n = write(fd, data + 1 + written, size - 1 - written);
        if (n <= 0) {
            break;
        }
        written += static_cast<size_t>(n);
    }
    close(fd);

    _torvel_check_config_file(path);
    if (may_reach_fatal_path(data, size)) {
        unlink(path);
        return 0;
    }
    MacroBucket *table[113] = {};
    Read_config(path, table, 113, expand_mode, false, nullptr);
    unlink(path);

    MacroTableCursor *iter = hash_iter_begin(table, 113);
    for (; !hash_iter_done(iter); hash_iter_next(iter)) {
        free(expand_macro(hash_iter_value(iter), table, 113, nullptr));
    }
    hash_iter_delete(&iter);
    clear_macro_table(table, 113);
    return 0;
}

// The library's basename and dirname under their C names, taking the place
// of the C library's functions in every program linking the library. This
// file must not see <string.h> or <libgen.h>, whose C++ declarations of
// these names differ. dirname allocates (the caller free()s), unlike the C
// library's.
#include "files/path_helpers.h"

extern "C" {

char *basename(const char *path) {
    // A pointer into the caller's own text, as the C library's is.
    return const_cast<char *>(torvel_basename(path));
}

char *dirname(const char *path) {
    return torvel_dirname(path);
}

}  // extern "C"

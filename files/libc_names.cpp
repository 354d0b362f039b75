// The library's basename under its C name, taking the place of the C
// library's in every program linking the library: it returns a pointer into
// the caller's text, as the C library's does, so other code in the process
// keeps working. dirname is deliberately NOT replaced: the library's
// allocating version (torvel_dirname) would leak or mislead every other
// caller of the platform's in-place dirname (libFuzzer's driver is one).
// This file must not see <string.h>, whose C++ declaration of basename
// differs.
#include "files/path_helpers.h"

extern "C" {

char *basename(const char *path) {
    return const_cast<char *>(torvel_basename(path));
}

}  // extern "C"

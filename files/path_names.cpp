// Joining and splitting path names: dircat, torvel_basename,
// torvel_dirname and fullpath. Both '/' and '\\' count as separators when
// splitting; joining always uses '/'.
#include <stdlib.h>
#include <string.h>

#include "core/allocation.h"
#include "diagnostics/except.h"
#include "files/path_helpers.h"

namespace {

bool is_separator(char c) {
    return c == '/' || c == '\\';
}

// The last separator of path, or null.
const char *last_separator(const char *path) {
    const char *last = nullptr;
    for (const char *p = path; *p != '\0'; p++) {
        if (is_separator(*p)) {
            last = p;
        }
    }
    return last;
}

}  // namespace

char *dircat(const char *dir, const char *name) {
    ASSERT(dir != nullptr && name != nullptr);
    size_t dir_len = strlen(dir);
    // An empty dir means "here": a separator would turn the relative name
    // into one under the root directory.
    bool need_delim = dir_len > 0 && dir[dir_len - 1] != '/';
    size_t name_len = strlen(name);
    char *result = new (torvel::or_die) char[dir_len + (need_delim ? 1 : 0) + name_len + 1];
    memcpy(result, dir, dir_len);
    if (need_delim) {
        result[dir_len++] = '/';
    }
    memcpy(result + dir_len, name, name_len + 1);
    return result;
}

const char *torvel_basename(const char *path) {
    if (path == nullptr) {
        return "";
    }
    const char *last = last_separator(path);
    return last != nullptr ? last + 1 : path;
}

char *torvel_dirname(const char *path) {
    const char *last = path != nullptr ? last_separator(path) : nullptr;
    if (last == nullptr) {
        return strdup(".");
    }
    size_t len = last == path ? 1 : static_cast<size_t>(last - path);
    return strndup(path, len);
}

bool fullpath(const char *path) {
    if (path == nullptr) {
        return false;
    }
    if (is_separator(path[0])) {
        return true;
    }
    return path[0] != '\0' && path[1] == ':' && is_separator(path[2]);
}

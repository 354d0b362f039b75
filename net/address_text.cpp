// Text helpers shared by both address families (see the header).
#include "net/address_text.h"

#include <stdio.h>
#include <string.h>

#include "core/c_locale.h"

namespace {

// Longest official name same_official_name keeps for comparing.
const size_t kNameBufSize = 256;

}  // namespace

bool read_leading_decimal(const char *text, size_t length, long max, long *value) {
    long v = 0;
    for (size_t i = 0; i < length && is_digit(text[i]); ++i) {
        v = v * 10 + (text[i] - '0');
        if (v > max) {
            return false;
        }
    }
    *value = v;
    return true;
}

bool read_sinful_host(const char *text, char *buf, size_t size, const char **colon) {
    if (text == nullptr || text[0] == '\0') {
        return false;
    }
    const char *c = strchr(text + 1, ':');
    if (c == nullptr) {
        return false;
    }
    size_t length = static_cast<size_t>(c - text - 1);
    if (length >= size) {
        return false;
    }
    memcpy(buf, text + 1, length);
    buf[length] = '\0';
    *colon = c;
    return true;
}

void format_fd_set(int count, fd_set *fds, size_t limit, char *text, size_t size) {
    size_t length = 0;
    text[length++] = '<';
    text[length] = '\0';
    int last = count < FD_SETSIZE ? count : FD_SETSIZE;
    for (int fd = 0; fd < last; ++fd) {
        if (!FD_ISSET(fd, fds)) {
            continue;
        }
        if (length > limit) {
            snprintf(text + length, size - length, "...>");
            return;
        }
        int used = snprintf(text + length, size - length, "%d ", fd);
        length += used > 0 ? static_cast<size_t>(used) : 0;
        if (length >= size) {
            length = size - 1;
        }
    }
    snprintf(text + length, size - length, ">");
}

int same_official_name(const char *a, const char *b, struct hostent *(*resolve)(const char *),
                       size_t limit) {
    if (strcmp(a, b) == 0) {
        return 1;
    }
    struct hostent *entry = resolve(a);
    if (entry == nullptr) {
        return -1;
    }
    // The resolver's result is static: keep the first name before asking
    // again.
    char first[kNameBufSize + 1];
    snprintf(first, sizeof first, "%s", entry->h_name != nullptr ? entry->h_name : "");
    entry = resolve(b);
    if (entry == nullptr) {
        return -1;
    }
    const char *second = entry->h_name != nullptr ? entry->h_name : "";
    return strncmp(first, second, limit < kNameBufSize ? limit : kNameBufSize) == 0 ? 1 : 0;
}

int ends_in_domain(const char *host, const char *domain,
                   int (*compare)(const char *, const char *)) {
    if (host == nullptr || domain == nullptr) {
        return 0;
    }
    for (const char *tail = host; *tail != '\0'; ++tail) {
        if (compare(tail, domain) == 0) {
            return 1;
        }
    }
    return 0;
}

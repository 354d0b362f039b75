// Text helpers shared by the library's address strings and the brokering
// layer's: the two families differ in their resolver, their log and their
// buffer sizes, not in how they read a sinful text, print a descriptor set
// or compare host names.
#ifndef TORVEL_NET_ADDRESS_TEXT_H_
#define TORVEL_NET_ADDRESS_TEXT_H_

#include <netdb.h>
#include <stddef.h>
#include <sys/select.h>

// Reads the decimal digits of text[0..length) up to the first non-digit
// into *value (0 when there are none). False when the value exceeds max.
bool read_leading_decimal(const char *text, size_t length, long max, long *value);

// The host part of a sinful text: what lies between its first character and
// the first ':' after it, copied into buf (size bytes, terminated); *colon
// points at that ':'. False without such ':' or when the part does not fit.
bool read_sinful_host(const char *text, char *buf, size_t size, const char **colon);

// "<3 4 9 >" for the members of fds below count (at most FD_SETSIZE); once
// the text is longer than limit characters it ends with "...>". Written
// into text (size bytes, terminated).
void format_fd_set(int count, fd_set *fds, size_t limit, char *text, size_t size);

// 1 when a and b are equal or both resolve (through resolve) to the same
// official name, compared on its first limit characters; 0 when they do
// not; -1 when either cannot be resolved.
int same_official_name(const char *a, const char *b, struct hostent *(*resolve)(const char *),
                       size_t limit);

// 1 when some tail of host equals domain under compare (strcmp or
// strcasecmp), else 0; 0 for a null argument.
int ends_in_domain(const char *host, const char *domain,
                   int (*compare)(const char *, const char *));

#endif  // TORVEL_NET_ADDRESS_TEXT_H_

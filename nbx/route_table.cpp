// Lookup of a destination in the routing table named by NBX_ROUTE. The file
// is opened, read line by line up to the first matching rule, and closed at
// every lookup; nothing is cached. Malformed lines and unreadable files are
// logged and reported as -1, never guessed around.
#include "nbx/route_table.h"

#include <arpa/inet.h>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include "nbx/generic_log.h"

#define NBX_LOG_MODULE "route"

namespace {

// What one line says about the destination.
enum LineResult {
    kFormatError = -1,
    kThroughBrokers = 0,
    kDirect = 1,
    kNoMatch = 2,
};

// The next white-space separated word of text from *at into word; false
// when there is none or it is longer than CB_ROUTE_WORD_MAX (*too_long).
bool next_word(const char **at, char *word, bool *too_long) {
    const char *p = *at;
    while (*p != '\0' && isspace(static_cast<unsigned char>(*p))) ++p;
    const char *start = p;
    while (*p != '\0' && !isspace(static_cast<unsigned char>(*p))) ++p;
    size_t length = static_cast<size_t>(p - start);
    *at = p;
    *too_long = length > CB_ROUTE_WORD_MAX;
    if (length == 0 || *too_long) return false;
    memcpy(word, start, length);
    word[length] = '\0';
    return true;
}

// A prefix length: decimal digits only, 0 to 32.
bool parse_length(const char *word, int *length) {
    if (*word == '\0') return false;
    int value = 0;
    for (const char *p = word; *p != '\0'; ++p) {
        if (!isdigit(static_cast<unsigned char>(*p))) return false;
        value = value * 10 + (*p - '0');
        if (value > 32) return false;
    }
    *length = value;
    return true;
}

// Whether the destination lies in the line's network (the text before
// slash, with prefix length in word); kFormatError after logging when the
// network or the length does not parse.
LineResult compare_network(const char *line, const char *slash, const char *word,
                           in_addr destination) {
    char network_text[CB_ROUTE_LINE_MAX + 2];
    size_t network_length = static_cast<size_t>(slash - line);
    memcpy(network_text, line, network_length);
    network_text[network_length] = '\0';
    in_addr network;
    if (inet_aton(network_text, &network) == 0) {
        NBX_ERROR("_CB_directConnect: invalid ipaddr, inet_aton failed");
        return kFormatError;
    }
    int length = 0;
    if (!parse_length(word, &length)) {
        NBX_ERROR("_CB_directConnect: invalid ipaddr, atoi(%s) failed", word);
        return kFormatError;
    }
    // A shift by the full width is undefined, so length 0 is its own case.
    uint32_t mask = length == 0 ? 0u : 0xffffffffu << (32 - length);
    bool inside = (ntohl(destination.s_addr) & mask) == (ntohl(network.s_addr) & mask);
    return inside ? kThroughBrokers : kNoMatch;
}

// Reads one rule (comments and empty lines already skipped).
LineResult match_line(const char *line, in_addr destination) {
    const char *slash = strchr(line, '/');
    if (slash == nullptr) return kFormatError;
    char length_word[CB_ROUTE_WORD_MAX + 1];
    char method[CB_ROUTE_WORD_MAX + 1];
    const char *at = slash + 1;
    bool too_long = false;
    if (!next_word(&at, length_word, &too_long) || !next_word(&at, method, &too_long)) {
        return kFormatError;
    }
    if (line[0] != '*') {
        LineResult in_network = compare_network(line, slash, length_word, destination);
        if (in_network != kThroughBrokers) return in_network;
    }
    if (strcasecmp(method, "NBX") == 0) return kThroughBrokers;
    if (strcasecmp(method, "direct") == 0) return kDirect;
    return kFormatError;
}

void skip_rest_of_line(FILE *table) {
    int c;
    while ((c = fgetc(table)) != EOF && c != '\n') {
    }
}

// Walks the open table; the result of the first matching line, kDirect
// when none matches, -1 on a malformed line or a read error.
int walk_table(FILE *table, in_addr destination) {
    char line[CB_ROUTE_LINE_MAX + 2];  // the characters, newline, terminator
    while (fgets(line, sizeof line, table) != nullptr) {
        size_t length = strlen(line);
        bool whole = length > 0 && line[length - 1] == '\n';
        if (whole) line[--length] = '\0';
        bool cut = !whole && !feof(table);
        if (cut && line[0] == '#') {
            skip_rest_of_line(table);  // a long comment is still a comment
            continue;
        }
        LineResult result;
        if (cut) {
            result = kFormatError;  // longer than a rule may be
        } else if (line[0] == '#' || (whole && length == 0)) {
            continue;
        } else {
            result = match_line(line, destination);
        }
        if (result == kNoMatch) continue;
        if (result == kFormatError) {
            NBX_ERROR("routing table format error with line '%s'", line);
            return -1;
        }
        return result;
    }
    if (!feof(table)) {
        NBX_ERROR(
            "_CB_directConnect: NBX routing table read failed: "
            "fgets() returned NULL but we're not at EOF");
        return -1;
    }
    return kDirect;
}

}  // namespace

extern "C" {

char *getRouteTbl(void) {
    return getenv("NBX_ROUTE");
}

int _CB_directConnect(struct in_addr destination) {
    const char *path = getRouteTbl();
    if (path == nullptr) return 1;
    FILE *table = fopen(path, "re");
    if (table == nullptr) {
        NBX_ERROR("_CB_directConnect: fopen(%s) failed", path);
        return -1;
    }
    int result = walk_table(table, destination);
    fclose(table);
    return result;
}

}  // extern "C"

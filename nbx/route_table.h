// The routing table that decides which destinations are reached through
// the brokers: a text file named by NBX_ROUTE, read afresh at every lookup.
//
// One rule per line, at most CB_ROUTE_LINE_MAX characters before its
// newline (a longer rule is malformed; a comment may be longer):
//   network/length method      e.g. "10.0.0.0/8 direct"
//   */anything method          any destination
// "network" is a dotted IPv4 address, "length" a prefix length 0..32, the
// method "NBX" or "direct" in any letter case. Lines beginning with "#" and
// empty lines are skipped. The first matching line decides; no match means
// direct.
#ifndef TORVEL_NBX_ROUTE_TABLE_H_
#define TORVEL_NBX_ROUTE_TABLE_H_

#include <netinet/in.h>

#define CB_ROUTE_LINE_MAX 99  // characters of one line, newline excluded
#define CB_ROUTE_WORD_MAX 15  // characters of the length and method words

extern "C" {

// The value of NBX_ROUTE, or null. Belongs to the environment.
char *getRouteTbl(void);

// How destination (network byte order) is reached: 0 through the brokers,
// 1 directly (also with no NBX_ROUTE or no matching line), -1 when the
// table cannot be opened or read or a line before the match is malformed
// (logged; callers then connect directly).
int _CB_directConnect(struct in_addr destination);

}  // extern "C"

#endif  // TORVEL_NBX_ROUTE_TABLE_H_

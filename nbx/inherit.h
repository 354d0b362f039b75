// Hand-over of brokered sockets across exec. Before an exec the table is
// serialised into the environment variable "CB_INHERIT" followed by the
// process id (the new program keeps the pid); the next program's layer
// takes the sockets over when it initialises and removes the variable.
//
// Value: records joined by "$", at most CB_INHERIT_MAX_SOCKETS of them, the
// whole shorter than CB_INHERIT_VALUE_SIZE. Record of an owner:
//   fd#manager#T|U#<canon>#[<peer>]#a|p|n#N|B|L|P|C|F#<phy>#[fd|<peer>*...]
// Record of a further descriptor of the same socket: fd#!owner.
// Addresses are "<a.b.c.d:port>".
//
// A value that does not fit is refused whole, on both sides; a descriptor
// named in a value is taken over only when it is in the table's range, open,
// not yet managed and a socket of the kind the record says.
#ifndef TORVEL_NBX_INHERIT_H_
#define TORVEL_NBX_INHERIT_H_

#include "nbx/sock_table.h"

#define CB_INHERIT_PREFIX "CB_INHERIT"
#define CB_INHERIT_MAX_SOCKETS 20
#define CB_INHERIT_VALUE_SIZE 4000  // buffer size, terminator included
#define CB_SOCK_RECORD_SIZE 200     // buffer size, terminator included

extern "C" {

// Closes brokered descriptors marked close-on-exec, then sets the hand-over
// variable for this process (empty with no brokered socket). Returns 0, or
// -1 after logging why when the table cannot be handed over; the variable is
// then removed, so no earlier value survives.
int _CB_inheritTo(void);

// Takes over the sockets named by this process's hand-over variable and
// removes it. Returns 0 when there was nothing or everything was taken
// over, -1 at the first refused record (sockets taken over before it stay,
// the variable stays).
int _CB_inheritFrom(void);

// Writes the record of fd into out. Returns 0, or -1 when the entry's type
// or the status cannot be written or the record does not fit.
// REQUIRES: out has room for CB_SOCK_RECORD_SIZE characters; fd is in the
// table and info is its record.
int _CB_serializeSock(int fd, SockInfo *info, char *out);

// Parses one record and enters it into the table. Returns the record (owned
// by the table) with *fd set, or null after logging why; nothing of a
// refused record stays in the table.
// REQUIRES: the layer's table exists; text is NUL-terminated.
SockInfo *_CB_unserializeSock(const char *text, int *fd);

// Writes CB_INHERIT_PREFIX and the process id into name.
// REQUIRES: name has room for 32 characters.
void _CB_inheritName(char *name);

}  // extern "C"

#endif  // TORVEL_NBX_INHERIT_H_

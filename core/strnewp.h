// strnewp: a copy of a NUL-terminated text in a new array, for owners that
// release with the array form of delete.
#ifndef TORVEL_CORE_STRNEWP_H_
#define TORVEL_CORE_STRNEWP_H_

// Null for null (and only then). Caller delete[]s.
char *strnewp(const char *s);

#endif  // TORVEL_CORE_STRNEWP_H_

// ASCII case conversion in place. Bytes outside 'a'-'z' / 'A'-'Z' are left
// alone, so UTF-8 and Latin-1 text passes through unchanged.
#ifndef TORVEL_CORE_CASE_CONVERT_H_
#define TORVEL_CORE_CASE_CONVERT_H_

// Both return s and accept null.
char *strupr(char *s);
char *strlwr(char *s);

#endif  // TORVEL_CORE_CASE_CONVERT_H_

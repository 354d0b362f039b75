// Splitting a line into white-space separated words in place. Also delivered
// alone as the relocatable object arg_splitter.
#ifndef TORVEL_CORE_MKARGV_H_
#define TORVEL_CORE_MKARGV_H_

#ifdef __cplusplus
extern "C" {
#endif

// Overwrites white space in line with terminators and stores the address of
// each word in argv, then a null; *argc gets the count. Always returns 0.
// REQUIRES: argv has one slot per possible word plus one.
int _torvel_mkargv(int *argc, char **argv, char *line);
int mkargv(int *argc, char **argv, char *line);

#ifdef __cplusplus
}
#endif

#endif  // TORVEL_CORE_MKARGV_H_

// Translation between this host's numbers and the fixed portable numbers
// that travel on a stream: signals, error numbers, open flags and fcntl
// commands. The portable numbers never change; both ends rely on them.
// Pure functions, no state; every int maps to some int.
#ifndef TORVEL_STREAM_CODE_TABLES_H_
#define TORVEL_STREAM_CODE_TABLES_H_

int sig_num_encode(int sig_num);
int sig_num_decode(int sig_num);

int errno_num_encode(int errno_num);
int errno_num_decode(int errno_num);

// Bits outside the table (O_NONBLOCK, O_SYNC, ...) are dropped.
int open_flags_encode(int flags);
int open_flags_decode(int flags);

int fcntl_cmd_encode(int cmd);
int fcntl_cmd_decode(int cmd);

#endif  // TORVEL_STREAM_CODE_TABLES_H_

// Constants every part of the library and every deliverable shares: time
// units, socket kinds, path delimiters and well-known file names.
#ifndef TORVEL_CORE_TORVEL_CONSTANTS_H_
#define TORVEL_CORE_TORVEL_CONSTANTS_H_

#define MINUTE 60
#define HOUR 3600
#define DAY 86400

#define MATCH 0

#define CLIENT_LOG 18
#define REQ_SOCK 16
#define RSC_SOCK 17
#define RPL_SOCK 17

#define DIR_DELIM_CHAR '/'
#define DIR_DELIM_STRING "/"
#define PATH_DELIM_CHAR ':'

#define NULL_FILE "/dev/null"
#define TORVEL_EXEC "torvel_exec.exe"
#define WINDOWS_NULL_FILE "NUL"
#define UNIX_NULL_FILE "/dev/null"
#define NiceUserName "nice-user"

#define IP_STRING_BUF_SIZE 16

#endif  // TORVEL_CORE_TORVEL_CONSTANTS_H_

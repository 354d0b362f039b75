// Changing the process environment for this process and every child it
// starts afterwards.
#ifndef TORVEL_PROCESS_ENVIRONMENT_H_
#define TORVEL_PROCESS_ENVIRONMENT_H_

// Sets key to value; true on success.
// REQUIRES: key and value are not null.
bool SetEnv(const char *key, const char *value);

#endif  // TORVEL_PROCESS_ENVIRONMENT_H_

// The broker's start-up as a service: closing inherited descriptors,
// leaving the terminal while the starting process waits until the broker
// is ready (or reports why it is not), the log file and the pid file
// opened before the switch of account, and the switch itself, for good,
// from root to the service account. Each step either succeeds or fills a
// one-line reason and the exit status it calls for; main decides.
#ifndef TORVEL_BROKER_SERVICE_H_
#define TORVEL_BROKER_SERVICE_H_

#include <stddef.h>
#include <sys/types.h>

#include "broker/broker_config.h"

namespace nbx_broker {

// Exit statuses of nbx_broker besides 0 (see the man page).
const int kExitStartFailed = 1;  // configuration, listener, account, pid file
const int kExitUsage = 2;
const int kExitLogFailed = 44;  // the debug log's own status

// A reason for the user and the status it ends the start with.
struct StartError {
    char text[512] = "";
    int status = 0;
};

// Closes every descriptor above 2: the broker keeps nothing its starter
// left open.
void close_inherited_descriptors();

// Forks. The starting process never returns: it exits 0 once the broker
// wrote its readiness, or with the broker's own status (its reason is
// already on standard error, which both share) when it ended first. The
// broker returns the descriptor to pass to report_ready, in a session of
// its own.
int detach_and_wait_for_readiness();

// The broker is serving: standard streams to /dev/null, working
// directory "/", and the starting process told to exit 0.
void report_ready(int readiness_fd);

// Who the broker will run as. switch_needed is false when it keeps its
// ids: not started as root, or no account to switch to (warning then
// says why, for the log).
struct ServiceIdentity {
    bool switch_needed = false;
    uid_t uid = 0;
    gid_t gid = 0;
    char name[64] = "";
    char warning[160] = "";
};

// Settles the identity from the configuration. False with error when the
// account NBX_BROKER_USER named does not exist.
bool choose_identity(const BrokerConfig &config, ServiceIdentity *identity, StartError *error);

// Opens (creating, mode 0640) the log file as the present identity and,
// when the identity will switch, gives the file to the service account so
// that it can go on writing it. False with error (status 44).
bool prepare_log_file(const char *path, const ServiceIdentity &identity, StartError *error);

// Writes the process id and a newline to path. False with error.
bool write_pid_file(const char *path, StartError *error);

// Switches for good to the service account: supplementary groups cleared,
// real, effective and saved ids set, no capability left. Then checks the
// log can still be opened. False with error.
bool switch_to_service_account(const ServiceIdentity &identity, const char *log_path,
                               StartError *error);

}  // namespace nbx_broker

#endif  // TORVEL_BROKER_SERVICE_H_

// nbx_broker: the broker that lets programs on a private network be
// reached from outside through the brokering layer. One process serves the
// local broker and the relay server on the private address and the
// destination broker and canonical ports on the public address.
//
//   nbx_broker --public ADDRESS --private ADDRESS [--ports LOW-HIGH]
//              [--log FILE] [--pidfile FILE] [--foreground]
//
// Start-up order: inherited descriptors closed, settings read, the
// terminal left (the starting process waits for readiness), then, still
// as the starting identity, listeners, log and pid file; then the switch
// for good to the service account, and only then the first log line and
// the readiness report. Exit statuses are listed in the man page and in
// service.h.
#include <arpa/inet.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <unistd.h>

#include "broker/broker.h"
#include "broker/broker_config.h"
#include "broker/broker_log.h"
#include "broker/service.h"
#include "config/config_sources.h"
#include "config/config_startup.h"
#include "config/param.h"
#include "diagnostics/debug_log.h"
#include "tools/standard_options.h"

const char *mySubSystem = "BROKER";

namespace {

// The configuration is optional for the broker: without a global source
// only the "_torvel_" environment overrides are read.
void load_configuration() {
    if (getenv("TORVEL_CONFIG") == nullptr) {
        char *global = find_global();
        if (global == nullptr) setenv("TORVEL_CONFIG", "ONLY_ENV", 1);
        free(global);
    }
    config(0);
}

// Every debug line is written as the service account. A host without the
// account and without TORVEL_IDS runs the broker under its own ids, which
// it never changes.
void settle_service_account() {
    if (getpwnam("torvel") != nullptr || getenv("TORVEL_IDS") != nullptr) return;
    char *configured = param("TORVEL_IDS");
    if (configured != nullptr) {
        free(configured);
        return;
    }
    char ids[64];
    snprintf(ids, sizeof ids, "%u.%u", static_cast<unsigned>(getuid()),
             static_cast<unsigned>(getgid()));
    setenv("TORVEL_IDS", ids, 1);
}

// Every relayed stream holds four descriptors: take all the system allows.
void raise_descriptor_limit() {
    rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void start_log(const nbx_broker::BrokerConfig &config) {
    // Library code writes through the debug log, which ends the process when
    // it cannot write; it gets standard error only, never the broker's file.
    DebugFP = stderr;
    DebugFlags = D_ALWAYS;
    _torvel_dprintf_works = 1;
    nbx_broker::broker_log_set_full(config.debug);
    // A log that cannot be opened now is retried at every line, which are
    // counted until it can be: it never stops the broker.
    nbx_broker::broker_log_open(config.log_path, config.log_max_size, config.log_repeat_interval);
}

// Everything that needs the starting identity (root, for a system
// service), then the switch away from it. 0, or the exit status after the
// reason went to standard error.
int open_as_starter(nbx_broker::Broker *broker, nbx_broker::ServiceIdentity *identity) {
    const nbx_broker::BrokerConfig &config = broker->config;
    nbx_broker::StartError error;
    if (!nbx_broker::choose_identity(config, identity, &error)) {
        fprintf(stderr, "%s\n", error.text);
        return error.status;
    }
    raise_descriptor_limit();
    signal(SIGPIPE, SIG_IGN);
    if (nbx_broker::broker_open(broker) != 0) return nbx_broker::kExitStartFailed;
    bool ok = (config.log_path[0] == '\0' ||
               nbx_broker::prepare_log_file(config.log_path, *identity, &error)) &&
              (config.pid_path[0] == '\0' || nbx_broker::write_pid_file(config.pid_path, &error)) &&
              (!identity->switch_needed ||
               nbx_broker::switch_to_service_account(*identity, config.log_path, &error));
    if (!ok) {
        fprintf(stderr, "%s\n", error.text);
        // A pid file must never name a broker that did not start.
        if (config.pid_path[0] != '\0') unlink(config.pid_path);
        return error.status;
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    nbx_broker::close_inherited_descriptors();
    static nbx_broker::Broker broker;
    unsigned given = 0;
    char error[256] = "";
    switch (
        nbx_broker::parse_command_line(argc, argv, &broker.config, &given, error, sizeof error)) {
        case nbx_broker::kShowHelp:
            return tool_answer("nbx_broker", kToolHelp, nbx_broker::kUsage);
        case nbx_broker::kShowVersion:
            return tool_answer("nbx_broker", kToolVersion, nbx_broker::kUsage);
        case nbx_broker::kUsageError:
            tool_usage_error("nbx_broker", error, nbx_broker::kUsage);
            return nbx_broker::kExitUsage;
        case nbx_broker::kRun:
            break;
    }
    load_configuration();
    int completed =
        nbx_broker::complete_from_configuration(given, &broker.config, error, sizeof error);
    if (completed != 0) {
        fprintf(stderr, "nbx_broker: %s\n", error);
        if (completed == -2) fputs(nbx_broker::kUsage, stderr);
        return completed == -2 ? 2 : 1;
    }
    // The signal descriptor and everything else belong to the process that
    // serves, so the terminal is left first.
    int readiness = broker.config.foreground ? -1 : nbx_broker::detach_and_wait_for_readiness();
    nbx_broker::ServiceIdentity identity;
    int status = open_as_starter(&broker, &identity);
    if (status != 0) return status;
    settle_service_account();
    start_log(broker.config);
    if (identity.warning[0] != '\0') nbx_broker::broker_log("%s\n", identity.warning);
    nbx_broker::broker_log("nbx_broker started: public %s, ports %d-%d, uid %u, gid %u\n",
                           inet_ntoa(broker.config.public_ip), broker.config.port_low,
                           broker.config.port_high, static_cast<unsigned>(getuid()),
                           static_cast<unsigned>(getgid()));
    if (readiness >= 0) nbx_broker::report_ready(readiness);
    status = nbx_broker::broker_run(&broker);
    // A pid file in a directory the service account cannot write stays.
    if (broker.config.pid_path[0] != '\0') unlink(broker.config.pid_path);
    return status;
}

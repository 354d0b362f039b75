// nbx_broker: the broker that lets programs on a private network be
// reached from outside through the brokering layer. One process serves the
// local broker and the relay server on the private address and the
// destination broker and canonical ports on the public address.
//
//   nbx_broker --public ADDRESS --private ADDRESS [--ports LOW-HIGH]
//              [--log FILE] [--foreground]
//
// Exit status: 0 after SIGTERM or SIGINT, 1 when the configuration is
// invalid or a listener cannot be opened, 2 for bad usage.
#include <arpa/inet.h>
#include <fcntl.h>
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
#include "config/config_sources.h"
#include "config/config_startup.h"
#include "config/param.h"
#include "diagnostics/debug_log.h"
#include "version/torvel_version.h"

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

// Leaves the terminal: the parent exits at once, the child goes on in a
// session of its own with its standard streams on /dev/null.
void daemonize() {
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        perror("ERROR: fork");
        exit(1);
    }
    if (pid > 0) _exit(0);
    setsid();
    if (chdir("/") != 0) {
        // Staying in the start directory is harmless.
    }
    int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
        dup2(null_fd, 0);
        dup2(null_fd, 1);
        dup2(null_fd, 2);
        if (null_fd > 2) close(null_fd);
    }
}

}  // namespace

int main(int argc, char **argv) {
    static nbx_broker::Broker broker;
    unsigned given = 0;
    char error[256] = "";
    switch (
        nbx_broker::parse_command_line(argc, argv, &broker.config, &given, error, sizeof error)) {
        case nbx_broker::kShowHelp:
            fputs(nbx_broker::kUsage, stdout);
            return 0;
        case nbx_broker::kShowVersion:
            printf("%s\n", TorvelVersion());
            return 0;
        case nbx_broker::kUsageError:
            fprintf(stderr, "nbx_broker: %s\n%s", error, nbx_broker::kUsage);
            return 2;
        case nbx_broker::kRun:
            break;
    }
    load_configuration();
    int completed =
        nbx_broker::complete_from_configuration(given, &broker.config, error, sizeof error);
    if (completed != 0) {
        fprintf(stderr, "ERROR: %s\n", error);
        if (completed == -2) fputs(nbx_broker::kUsage, stderr);
        return completed == -2 ? 2 : 1;
    }
    settle_service_account();
    raise_descriptor_limit();
    signal(SIGPIPE, SIG_IGN);
    if (nbx_broker::broker_open(&broker) != 0) return 1;
    if (!broker.config.foreground) daemonize();
    start_log(broker.config);
    nbx_broker::broker_log("nbx_broker started: public %s, ports %d-%d\n",
                           inet_ntoa(broker.config.public_ip), broker.config.port_low,
                           broker.config.port_high);
    return nbx_broker::broker_run(&broker);
}

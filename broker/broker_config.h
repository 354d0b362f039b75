// The broker's settings: its public and private addresses, the range its
// canonical ports come from, its log, whether it stays in the foreground,
// how long a peer may stall, the log's size and rate limits, how long a
// relayed stream may idle and when its peers are probed, and which
// networks are private. Each setting
// comes from the command line or, when the command line leaves it out, from
// the configuration (NBX_BROKER_* keys); the command line wins.
#ifndef TORVEL_BROKER_BROKER_CONFIG_H_
#define TORVEL_BROKER_BROKER_CONFIG_H_

#include <limits.h>
#include <netinet/in.h>

#include "broker/topology.h"

namespace nbx_broker {

// Fixed ports: the local broker (in-agent) and the relay server listen on
// the private address, the destination broker on the public one.
const int kInAgentPort = 65430;
const int kRelayServerPort = 65431;
const int kDestinationPort = 65432;

const int kDefaultPortLow = 40000;
const int kDefaultPortHigh = 44999;
const int kDefaultStallSeconds = 10;
const int kDefaultLogMaxSize = 10 * 1000 * 1000;
const int kDefaultLogRepeatInterval = 60;
const int kDefaultIdleSeconds = 3600;
const int kDefaultKeepaliveSeconds = 300;

struct BrokerConfig {
    in_addr public_ip = {};
    in_addr private_ip = {};
    int port_low = kDefaultPortLow;
    int port_high = kDefaultPortHigh;
    char log_path[PATH_MAX] = "";  // "" writes the log to standard error
    char pid_path[PATH_MAX] = "";  // "" writes no pid file
    // The account a broker started as root runs as; account_named when
    // NBX_BROKER_USER chose it rather than the default.
    char account[64] = "torvel";
    bool account_named = false;
    bool foreground = false;
    bool debug = false;  // D_FULLDEBUG lines as well
    int stall_seconds = kDefaultStallSeconds;
    int log_max_size = kDefaultLogMaxSize;                // bytes before the log moves to ".old"
    int log_repeat_interval = kDefaultLogRepeatInterval;  // seconds of the burst limit
    int idle_seconds = kDefaultIdleSeconds;  // a relayed stream with no traffic; 0: no limit
    int keepalive_seconds = kDefaultKeepaliveSeconds;  // silence before TCP keepalive probes
    Topology topology;
};

// What the command line asked for besides running the broker.
enum CommandLineResult {
    kRun,          // config holds the command line's settings
    kShowHelp,     // --help
    kShowVersion,  // --version
    kUsageError,   // error holds the reason
};

// Reads argv into config and *given (bit per option seen, see the .cpp).
// Never touches the configuration. error receives a one-line reason.
// REQUIRES: error has room for error_size bytes.
CommandLineResult parse_command_line(int argc, char **argv, BrokerConfig *config, unsigned *given,
                                     char *error, int error_size);

// Fills every setting the command line did not give from the configuration
// (param), then checks that both addresses are known. Returns 0; -1 when a
// key's value is invalid, -2 when an address is missing; error then holds
// a one-line reason.
int complete_from_configuration(unsigned given, BrokerConfig *config, char *error, int error_size);

// "LOW-HIGH" with 1 <= LOW <= HIGH <= 65535; false when it is not that.
bool parse_port_range(const char *text, int *low, int *high);
// Whether LOW-HIGH holds a port the broker can hand out: one that is not
// among its own fixed ports.
bool port_range_usable(int low, int high);

// The usage text printed by --help and after a usage error.
extern const char kUsage[];

}  // namespace nbx_broker

#endif  // TORVEL_BROKER_BROKER_CONFIG_H_

// The broker's command line and its configuration keys. The command line
// is read first, by the reader the administrator tools share (GNU rules:
// "--opt=value", "--" ending options, a bad option named), and never
// consults the configuration; the keys then fill whatever it left out.
#include "broker/broker_config.h"

#include <arpa/inet.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/param.h"
#include "tools/standard_options.h"

namespace nbx_broker {

const char kUsage[] =
    "Usage: nbx_broker --public ADDRESS --private ADDRESS [--ports LOW-HIGH]\n"
    "                  [--log FILE] [--pidfile FILE] [--foreground]\n"
    "       nbx_broker --help | --version\n";

namespace {

// Bits of `given`: which settings the command line supplied.
enum Given : unsigned {
    kGivenPublic = 1u << 0,
    kGivenPrivate = 1u << 1,
    kGivenPorts = 1u << 2,
    kGivenLog = 1u << 3,
};

// A path option's value into target; false with error when too long.
bool copy_path(const char *option, const char *value, char *target, size_t size, char *error,
               int error_size) {
    if (strlen(value) >= size) {
        snprintf(error, static_cast<size_t>(error_size), "%s: path too long: %.40s...", option,
                 value);
        return false;
    }
    snprintf(target, size, "%s", value);
    return true;
}

void set_error(char *error, int error_size, const char *format, const char *detail) {
    snprintf(error, static_cast<size_t>(error_size), format, detail);
}

// One option that takes a value; false with error on a bad value.
bool apply_option(const char *option, const char *value, BrokerConfig *config, unsigned *given,
                  char *error, int error_size) {
    if (strcmp(option, "--public") == 0 || strcmp(option, "--private") == 0) {
        bool is_public = option[2] == 'p' && option[3] == 'u';
        in_addr *target = is_public ? &config->public_ip : &config->private_ip;
        if (inet_aton(value, target) == 0) {
            set_error(error, error_size, "not an IPv4 address: %s", value);
            return false;
        }
        *given |= is_public ? kGivenPublic : kGivenPrivate;
        return true;
    }
    if (strcmp(option, "--ports") == 0) {
        if (!parse_port_range(value, &config->port_low, &config->port_high)) {
            set_error(error, error_size, "not a port range LOW-HIGH: %s", value);
            return false;
        }
        if (!port_range_usable(config->port_low, config->port_high)) {
            set_error(error, error_size,
                      "--ports %s: no usable port (65430-65432 are the broker's own)", value);
            return false;
        }
        *given |= kGivenPorts;
        return true;
    }
    if (strcmp(option, "--pidfile") == 0) {
        return copy_path(option, value, config->pid_path, sizeof config->pid_path, error,
                         error_size);
    }
    if (!copy_path(option, value, config->log_path, sizeof config->log_path, error, error_size)) {
        return false;
    }
    *given |= kGivenLog;
    return true;
}

// An address key; 1 when set and valid, 0 when unset, -1 when invalid.
int address_from_key(const char *key, in_addr *address) {
    char *value = param(key);
    if (value == nullptr) return 0;
    int result = inet_aton(value, address) != 0 ? 1 : -1;
    free(value);
    return result;
}

int key_error(const char *key, char *error, int error_size) {
    set_error(error, error_size, "%s is not valid", key);
    return -1;
}

// The service account: NBX_BROKER_USER from the environment, else the key
// of that name, else the default. False with error when it is too long.
bool account_from_settings(BrokerConfig *config, char *error, int error_size) {
    const char *from_env = getenv("NBX_BROKER_USER");
    char *from_key = from_env == nullptr ? param("NBX_BROKER_USER") : nullptr;
    const char *name = from_env != nullptr ? from_env : from_key;
    bool ok = true;
    if (name != nullptr) {
        ok = name[0] != '\0' && strlen(name) < sizeof config->account;
        if (ok) snprintf(config->account, sizeof config->account, "%s", name);
        config->account_named = ok;
    }
    free(from_key);
    if (!ok) set_error(error, error_size, "%s", "NBX_BROKER_USER is not valid");
    return ok;
}

}  // namespace

bool parse_port_range(const char *text, int *low, int *high) {
    char *end = nullptr;
    long first = strtol(text, &end, 10);
    if (end == text || *end != '-') return false;
    const char *second_text = end + 1;
    long second = strtol(second_text, &end, 10);
    if (end == second_text || *end != '\0') return false;
    if (first < 1 || second > 65535 || first > second) return false;
    *low = static_cast<int>(first);
    *high = static_cast<int>(second);
    return true;
}

bool port_range_usable(int low, int high) {
    return low < kInAgentPort || high > kDestinationPort;
}

CommandLineResult parse_command_line(int argc, char **argv, BrokerConfig *config, unsigned *given,
                                     char *error, int error_size) {
    static const ToolOption kOptions[] = {
        {"--public", true}, {"--private", true}, {"--ports", true},
        {"--log", true},    {"--pidfile", true}, {"--foreground", false},
    };
    const int kOptionCount = sizeof kOptions / sizeof kOptions[0];
    *given = 0;
    ToolCommandLine line;
    switch (tool_read_command_line(argc, argv, kOptions, kOptionCount, false, &line)) {
        case kToolHelp:
            return kShowHelp;
        case kToolVersion:
            return kShowVersion;
        case kToolBadUsage:
            set_error(error, error_size, "%s", line.error.c_str());
            return kUsageError;
        case kToolRun:
            break;
    }
    if (!line.operands.empty()) {
        set_error(error, error_size, "extra operand %s", tool_quote(line.operands[0]).c_str());
        return kUsageError;
    }
    for (const ToolOptionUse &use : line.uses) {
        const char *option = kOptions[use.option].name;
        if (use.value == nullptr) {
            config->foreground = true;
        } else if (!apply_option(option, use.value, config, given, error, error_size)) {
            return kUsageError;
        }
    }
    return kRun;
}

int complete_from_configuration(unsigned given, BrokerConfig *config, char *error, int error_size) {
    if ((given & kGivenPublic) == 0 &&
        address_from_key("NBX_BROKER_PUBLIC_ADDRESS", &config->public_ip) < 0) {
        return key_error("NBX_BROKER_PUBLIC_ADDRESS", error, error_size);
    }
    if ((given & kGivenPrivate) == 0 &&
        address_from_key("NBX_BROKER_PRIVATE_ADDRESS", &config->private_ip) < 0) {
        return key_error("NBX_BROKER_PRIVATE_ADDRESS", error, error_size);
    }
    if ((given & kGivenPorts) == 0) {
        char *ports = param("NBX_BROKER_PORT_RANGE");
        bool bad =
            ports != nullptr && (!parse_port_range(ports, &config->port_low, &config->port_high) ||
                                 !port_range_usable(config->port_low, config->port_high));
        free(ports);
        if (bad) return key_error("NBX_BROKER_PORT_RANGE", error, error_size);
    }
    if ((given & kGivenLog) == 0) {
        char *log = param("NBX_BROKER_LOG");
        bool bad = log != nullptr && strlen(log) >= sizeof config->log_path;
        if (log != nullptr && !bad) snprintf(config->log_path, sizeof config->log_path, "%s", log);
        free(log);
        if (bad) return key_error("NBX_BROKER_LOG", error, error_size);
    }
    if (!account_from_settings(config, error, error_size)) return -1;
    config->debug = param_boolean("NBX_BROKER_DEBUG", false);
    config->stall_seconds =
        param_integer("NBX_BROKER_STALL_TIMEOUT", kDefaultStallSeconds, 1, 3600);
    config->log_max_size =
        param_integer("NBX_BROKER_LOG_MAX_SIZE", kDefaultLogMaxSize, 4096, INT_MAX);
    config->log_repeat_interval =
        param_integer("NBX_BROKER_LOG_REPEAT_INTERVAL", kDefaultLogRepeatInterval, 1, 86400);
    config->idle_seconds =
        param_integer("NBX_BROKER_IDLE_TIMEOUT", kDefaultIdleSeconds, 0, 365 * 86400);
    // The kernel takes at most 32767 seconds before the first probe.
    config->keepalive_seconds =
        param_integer("NBX_BROKER_KEEPALIVE_TIME", kDefaultKeepaliveSeconds, 1, 32767);
    char *networks = param("NBX_BROKER_PRIVATE_NETWORKS");
    char word[64] = "";
    int parsed = parse_private_networks(networks, &config->topology, word, sizeof word);
    free(networks);
    if (parsed != 0) {
        set_error(error, error_size, "NBX_BROKER_PRIVATE_NETWORKS: not a network: %s", word);
        return -1;
    }
    if (config->public_ip.s_addr == 0 || config->private_ip.s_addr == 0) {
        set_error(error, error_size, "%s",
                  "both --public and --private (or NBX_BROKER_PUBLIC_ADDRESS and "
                  "NBX_BROKER_PRIVATE_ADDRESS) are needed");
        return -2;
    }
    return 0;
}

}  // namespace nbx_broker

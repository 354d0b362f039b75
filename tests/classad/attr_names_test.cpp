// The attribute-name constants as the launcher exports them: every ATTR_
// symbol of the built program is a pointer-sized data object, there are 515
// of them, and
// each names either the joined, capitalised words of the constant or the
// spelling listed below for the names that depart from that rule.
#include "classad/attr_names.h"

#include <ctype.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <map>
#include <string>

namespace {

const char kLauncher[] = TORVEL_BINARY_DIR "/launcher/gt3_gahp_launcher";

// The names that are not the constant's words joined and capitalised.
const std::map<std::string, std::string> kExceptions = {
    {"ATTR_ALLOW_NOTIFICATION_CC", "AllowNotificationCC"},
    {"ATTR_COD_CLAIMS", "CODClaims"},
    {"ATTR_CKPT_OPSYS", "CkptOpSys"},
    {"ATTR_CRON_MINUTES", "CronMinute"},
    {"ATTR_CRON_HOURS", "CronHour"},
    {"ATTR_CRON_DAYS_OF_MONTH", "CronDayOfMonth"},
    {"ATTR_CRON_MONTHS", "CronMonth"},
    {"ATTR_CRON_DAYS_OF_WEEK", "CronDayOfWeek"},
    {"ATTR_CRON_NEXT_RUNTIME", "CronNextRunTime"},
    {"ATTR_DAG_NODE_NAME", "DAGNodeName"},
    {"ATTR_DAG_NODE_NAME_ALT", "dag_node_name"},
    {"ATTR_GZIP", "GZIP"},
    {"ATTR_JOB_MUST_EXPAND", "MustExpand"},
    {"ATTR_GLOBUS_RSL", "GlobusRSL"},
    {"ATTR_GLOBUS_XML", "GlobusXML"},
    {"ATTR_X509_USER_PROXY", "x509userproxy"},
    {"ATTR_X509_USER_PROXY_SUBJECT", "x509userproxysubject"},
    {"ATTR_GLOBUS_JOBMANAGER_TYPE", "JobmanagerType"},
    {"ATTR_MYPROXY_SERVER_DN", "MyProxyServerDN"},
    {"ATTR_MYPROXY_HOST_NAME", "MyProxyHost"},
    {"ATTR_MYPROXY_PASSWORD", "MyProxyPassword"},
    {"ATTR_MYPROXY_CRED_NAME", "MyProxyCredentialName"},
    {"ATTR_MYPROXY_REFRESH_THRESHOLD", "MyProxyRefreshThreshold"},
    {"ATTR_MYPROXY_NEW_PROXY_LIFETIME", "MyProxyNewProxyLifetime"},
    {"ATTR_HAS_IO_PROXY", "HasIOProxy"},
    {"ATTR_HAS_JIC_LOCAL_CONFIG", "HasJICLocalConfig"},
    {"ATTR_HAS_JIC_LOCAL_STDIN", "HasJICLocalStdin"},
    {"ATTR_HAS_MPI", "HasMPI"},
    {"ATTR_HAS_PVM", "HasPVM"},
    {"ATTR_HAS_TDP", "HasTDP"},
    {"ATTR_HAS_SOAP_API", "HasSOAPInterface"},
    {"ATTR_HAS_WIN_RUN_AS_OWNER", "HasWindowsRunAsOwner"},
    {"ATTR_JAVA_MFLOPS", "JavaMFlops"},
    {"ATTR_JOB_ARGUMENTS1", "Args"},
    {"ATTR_JOB_ARGUMENTS2", "Arguments"},
    {"ATTR_JOB_CMD", "Cmd"},
    {"ATTR_JOB_CMDEXT", "CmdExt"},
    {"ATTR_JOB_CORE_FILENAME", "JobCoreFileName"},
    {"ATTR_JOB_ENVIRONMENT1", "Env"},
    {"ATTR_JOB_ENVIRONMENT1_DELIM", "EnvDelim"},
    {"ATTR_JOB_ENVIRONMENT2", "Environment"},
    {"ATTR_JOB_ERROR", "Err"},
    {"ATTR_JOB_ERROR_ORIG", "ErrOrig"},
    {"ATTR_JOB_ERROR_SIZE", "ErrSize"},
    {"ATTR_JOB_SPOOL_EXECUTABLE", "SpoolExecutable"},
    {"ATTR_JOB_EXIT_STATUS", "ExitStatus"},
    {"ATTR_JOB_EXIT_REQUIREMENTS", "ExitRequirements"},
    {"ATTR_JOB_INPUT", "In"},
    {"ATTR_JOB_IWD", "Iwd"},
    {"ATTR_JOB_JAVA_VM_ARGS1", "JavaVMArgs"},
    {"ATTR_JOB_JAVA_VM_ARGS2", "JavaVMArguments"},
    {"ATTR_JOB_REMOTE_IWD", "RemoteIwd"},
    {"ATTR_JOB_RUNAS_OWNER", "RunAsOwner"},
    {"ATTR_JOB_LOCAL_CPU", "LocalCpu"},
    {"ATTR_JOB_LOCAL_SYS_CPU", "LocalSysCpu"},
    {"ATTR_JOB_LOCAL_USER_CPU", "LocalUserCpu"},
    {"ATTR_JOB_MANAGED", "Managed"},
    {"ATTR_JOB_MANAGED_MANAGER", "ManagedManager"},
    {"ATTR_JOB_MATCHED", "Matched"},
    {"ATTR_JOB_NOOP", "IsNoopJob"},
    {"ATTR_JOB_NOOP_EXIT_SIGNAL", "NoopJobExitSignal"},
    {"ATTR_JOB_NOOP_EXIT_CODE", "NoopJobExitCode"},
    {"ATTR_JOB_OUTPUT", "Out"},
    {"ATTR_JOB_OUTPUT_ORIG", "OutOrig"},
    {"ATTR_JOB_OUTPUT_SIZE", "OutSize"},
    {"ATTR_JOB_COMMITTED_TIME", "CommittedTime"},
    {"ATTR_JOB_LEAVE_IN_QUEUE", "LeaveJobInQueue"},
    {"ATTR_JOB_REMOTE_SYS_CPU", "RemoteSysCpu"},
    {"ATTR_JOB_REMOTE_USER_CPU", "RemoteUserCpu"},
    {"ATTR_JOB_REMOTE_WALL_CLOCK", "RemoteWallClockTime"},
    {"ATTR_JOB_ROOT_DIR", "RootDir"},
    {"ATTR_JOB_WALL_CLOCK_CKPT", "WallClockCheckpoint"},
    {"ATTR_KFLOPS", "KFlops"},
    {"ATTR_LAST_HOLD_REASON_SUBCODE", "LastHoldReasonSubCode"},
    {"ATTR_LAST_MATCH_LIST_PREFIX", "LastMatchName"},
    {"ATTR_MPI_IS_MASTER", "MPIIsMaster"},
    {"ATTR_MPI_MASTER_ADDR", "MPIMasterAddr"},
    {"ATTR_NORDUGRID_RSL", "NordugridRSL"},
    {"ATTR_NT_DOMAIN", "NTDomain"},
    {"ATTR_NUM_COD_CLAIMS", "NumCODClaims"},
    {"ATTR_NUM_MATCHES", "NumJobMatches"},
    {"ATTR_OPSYS", "OpSys"},
    {"ATTR_REMOTE_VIRTUAL_MACHINE_ID", "RemoteVirtualMachineID"},
    {"ATTR_RSC_BYTES_SENT", "RSCBytesSent"},
    {"ATTR_RSC_BYTES_RECVD", "RSCBytesRecvd"},
    {"ATTR_RUNNING_COD_JOB", "RunningCODJob"},
    {"ATTR_STARTER_IGNORED_ATTRS", "StarterIgnoredAttributes"},
    {"ATTR_STARTER_ULOG_FILE", "StarterUserLog"},
    {"ATTR_STARTER_ULOG_USE_XML", "StarterUserLogUseXML"},
    {"ATTR_STREAM_INPUT", "StreamIn"},
    {"ATTR_STREAM_OUTPUT", "StreamOut"},
    {"ATTR_STREAM_ERROR", "StreamErr"},
    {"ATTR_TOOL_DAEMON_ARGS1", "ToolDaemonArgs"},
    {"ATTR_TOOL_DAEMON_ARGS2", "ToolDaemonArguments"},
    {"ATTR_TOTAL_LOCAL_RUNNING_JOBS", "TotalLocalJobsRunning"},
    {"ATTR_TOTAL_LOCAL_IDLE_JOBS", "TotalLocalJobsIdle"},
    {"ATTR_TOTAL_SCHEDULER_RUNNING_JOBS", "TotalSchedulerJobsRunning"},
    {"ATTR_TOTAL_SCHEDULER_IDLE_JOBS", "TotalSchedulerJobsIdle"},
    {"ATTR_ULOG_FILE", "UserLog"},
    {"ATTR_ULOG_USE_XML", "UserLogUseXML"},
    {"ATTR_CLASSAD_LIFETIME", "ClassAdLifetime"},
    {"ATTR_WANT_IO_PROXY", "WantIOProxy"},
    {"ATTR_WANT_REMOTE_IO", "WantRemoteIO"},
    {"ATTR_WANT_AD_REVAULATE", "WantAdRevaluate"},
    {"ATTR_CREDD_IP_ADDR", "CredDIpAddr"},
    {"ATTR_NUM_HOSTS_TOTAL", "HostsTotal"},
    {"ATTR_NUM_HOSTS_CLAIMED", "HostsClaimed"},
    {"ATTR_NUM_HOSTS_UNCLAIMED", "HostsUnclaimed"},
    {"ATTR_NUM_HOSTS_OWNER", "HostsOwner"},
    {"ATTR_SCHEDD_BIRTHDATE", "ScheddBday"},
    {"ATTR_VIRTUAL_MACHINE_ID", "VirtualMachineID"},
    {"ATTR_TRANSFER_INPUT", "TransferIn"},
    {"ATTR_TRANSFER_OUTPUT", "TransferOut"},
    {"ATTR_TRANSFER_ERROR", "TransferErr"},
    {"ATTR_TRANSFER_INPUT_FILES", "TransferInput"},
    {"ATTR_TRANSFER_INTERMEDIATE_FILES", "TransferIntermediate"},
    {"ATTR_TRANSFER_OUTPUT_FILES", "TransferOutput"},
    {"ATTR_SHADOW_BIRTHDATE", "ShadowBday"},
    {"ATTR_HOLD_REASON_SUBCODE", "HoldReasonSubCode"},
    {"ATTR_WANT_RESOURCE_AD", "WantResAd"},
    {"ATTR_ON_EXIT_BY_SIGNAL", "ExitBySignal"},
    {"ATTR_ON_EXIT_CODE", "ExitCode"},
    {"ATTR_ON_EXIT_HOLD_CHECK", "OnExitHold"},
    {"ATTR_ON_EXIT_REMOVE_CHECK", "OnExitRemove"},
    {"ATTR_ON_EXIT_SIGNAL", "ExitSignal"},
    {"ATTR_POST_ON_EXIT_BY_SIGNAL", "PostExitBySignal"},
    {"ATTR_POST_ON_EXIT_SIGNAL", "PostExitSignal"},
    {"ATTR_POST_ON_EXIT_CODE", "PostExitCode"},
    {"ATTR_PERIODIC_HOLD_CHECK", "PeriodicHold"},
    {"ATTR_PERIODIC_RELEASE_CHECK", "PeriodicRelease"},
    {"ATTR_PERIODIC_REMOVE_CHECK", "PeriodicRemove"},
    {"ATTR_TIMER_REMOVE_CHECK", "TimerRemove"},
    {"ATTR_TIMER_REMOVE_CHECK_SENT", "TimerRemoveSent"},
    {"ATTR_GLOBUS_RESUBMIT_CHECK", "GlobusResubmit"},
    {"ATTR_REMATCH_CHECK", "Rematch"},
    {"ATTR_SEC_AUTHENTICATION_METHODS_LIST", "AuthMethodsList"},
    {"ATTR_SEC_AUTHENTICATION_METHODS", "AuthMethods"},
    {"ATTR_SEC_CRYPTO_METHODS", "CryptoMethods"},
    {"ATTR_SEC_AUTHENTICATION", "Authentication"},
    {"ATTR_SEC_ENCRYPTION", "Encryption"},
    {"ATTR_SEC_INTEGRITY", "Integrity"},
    {"ATTR_SEC_ENACT", "Enact"},
    {"ATTR_SEC_RESPOND", "Respond"},
    {"ATTR_SEC_COMMAND", "Command"},
    {"ATTR_SEC_AUTH_COMMAND", "AuthCommand"},
    {"ATTR_SEC_SID", "Sid"},
    {"ATTR_SEC_SUBSYSTEM", "Subsystem"},
    {"ATTR_SEC_REMOTE_VERSION", "RemoteVersion"},
    {"ATTR_SEC_SERVER_ENDPOINT", "ServerEndpoint"},
    {"ATTR_SEC_SERVER_COMMAND_SOCK", "ServerCommandSock"},
    {"ATTR_SEC_SERVER_PID", "ServerPid"},
    {"ATTR_SEC_PARENT_UNIQUE_ID", "ParentUniqueID"},
    {"ATTR_SEC_PACKET_COUNT", "PacketCount"},
    {"ATTR_SEC_NEGOTIATION", "OutgoingNegotiation"},
    {"ATTR_SEC_VALID_COMMANDS", "ValidCommands"},
    {"ATTR_SEC_SESSION_DURATION", "SessionDuration"},
    {"ATTR_SEC_USER", "User"},
    {"ATTR_SEC_NEW_SESSION", "NewSession"},
    {"ATTR_SEC_USE_SESSION", "UseSession"},
    {"ATTR_SEC_COOKIE", "Cookie"},
    {"ATTR_UPDATESTATS_TOTAL", "UpdatesTotal"},
    {"ATTR_UPDATESTATS_SEQUENCED", "UpdatesSequenced"},
    {"ATTR_UPDATESTATS_LOST", "UpdatesLost"},
    {"ATTR_UPDATESTATS_HISTORY", "UpdatesHistory"},
    {"ATTR_OSTRA_DB_IP_ADDR", "OstraDatabaseIpAddr"},
    {"ATTR_OSTRA_DB_NAME", "OstraDatabaseName"},
    {"ATTR_OSTRA_DB_QUERY_PASSWORD", "OstraDatabaseQueryPassword"},
    {"ATTR_OSTRA_SQL_TOTAL", "NumSqlTotal"},
    {"ATTR_OSTRA_SQL_LAST_BATCH", "NumSqlLastBatch"},
    {"ATTR_TERMINATION_EXITREASON", "TerminationExitReason"},
};

// "ATTR_JOB_STATUS" -> "JobStatus".
std::string RuleName(const std::string &constant) {
    std::string name;
    bool word_start = true;
    for (size_t i = strlen("ATTR_"); i < constant.size(); ++i) {
        char c = constant[i];
        if (c == '_') {
            word_start = true;
            continue;
        }
        name += word_start ? static_cast<char>(toupper(c)) : static_cast<char>(tolower(c));
        word_start = false;
    }
    return name;
}

struct Symbol {
    char type;  // nm's letter: 'R' read-only, 'D' relocated then read-only
    unsigned long size;
};

// The dynamic symbols of a program that start with "ATTR_"; empty when nm
// cannot run.
std::map<std::string, Symbol> ExportedAttrSymbols(const std::string &program) {
    std::map<std::string, Symbol> symbols;
    std::string command = "nm -D -P --defined-only '" + program + "' 2>/dev/null";
    FILE *pipe_in = popen(command.c_str(), "r");
    if (pipe_in == nullptr) {
        return symbols;
    }
    char line[1024];
    while (fgets(line, sizeof line, pipe_in) != nullptr) {
        char name[512];
        Symbol symbol;
        if (sscanf(line, "%511s %c %*x %lx", name, &symbol.type, &symbol.size) == 3 &&
            strncmp(name, "ATTR_", 5) == 0) {
            symbols[name] = symbol;
        }
    }
    pclose(pipe_in);
    return symbols;
}

// The text of a constant looked up by its symbol name in this test program,
// which exports the same library; null when the symbol is missing.
const char *ValueOf(const std::string &constant) {
    void *address = dlsym(RTLD_DEFAULT, constant.c_str());
    return address == nullptr ? nullptr : *static_cast<const char * const *>(address);
}

TEST(AttrNamesTest, LauncherExportsEveryConstantAsAPointer) {
    std::map<std::string, Symbol> symbols = ExportedAttrSymbols(kLauncher);
    EXPECT_EQ(symbols.size(), 515u);
    for (const auto &symbol : symbols) {
        // A position-independent program keeps relocated constants in data
        // that becomes read-only after loading, which nm lists as 'D'.
        EXPECT_TRUE(symbol.second.type == 'R' || symbol.second.type == 'D')
            << symbol.first << " has type " << symbol.second.type;
        EXPECT_EQ(symbol.second.size, sizeof(const char *)) << symbol.first;
    }
    for (const auto &exception : kExceptions) {
        EXPECT_EQ(symbols.count(exception.first), 1u) << exception.first << " not exported";
    }
}

TEST(AttrNamesTest, EveryNameFollowsTheRuleOrItsListedException) {
    std::map<std::string, Symbol> symbols = ExportedAttrSymbols(kLauncher);
    ASSERT_FALSE(symbols.empty()) << "nm found no ATTR_ symbols in " << kLauncher;
    size_t exceptions_seen = 0;
    for (const auto &symbol : symbols) {
        const char *value = ValueOf(symbol.first);
        ASSERT_NE(value, nullptr) << symbol.first;
        auto exception = kExceptions.find(symbol.first);
        if (exception != kExceptions.end()) {
            ++exceptions_seen;
            EXPECT_STREQ(value, exception->second.c_str()) << symbol.first;
        } else {
            EXPECT_STREQ(value, RuleName(symbol.first).c_str()) << symbol.first;
        }
    }
    EXPECT_EQ(exceptions_seen, 170u);
}

TEST(AttrNamesTest, NamesTheClassAdCodeUses) {
    EXPECT_STREQ(ATTR_SERVER_TIME, "ServerTime");
    EXPECT_STREQ(ATTR_NUM_USERS, "NumUsers");
    EXPECT_STREQ(ATTR_REQUIREMENTS, "Requirements");
    EXPECT_STREQ(ATTR_RANK, "Rank");
    EXPECT_STREQ(ATTR_MY_TYPE, "MyType");
    EXPECT_STREQ(ATTR_TARGET_TYPE, "TargetType");
    EXPECT_STREQ(ATTR_ACCOUNTING_GROUP, "AccountingGroup");
    EXPECT_STREQ(ATTR_JOB_STATUS, "JobStatus");
    EXPECT_STREQ(ATTR_Q_DATE, "QDate");
    EXPECT_STREQ(ATTR_CPUS, "Cpus");
    EXPECT_STREQ(ATTR_X509_USER_PROXY, "x509userproxy");
    EXPECT_STREQ(ATTR_WANT_AD_REVAULATE, "WantAdRevaluate");
    EXPECT_STREQ(ATTR_JOB_ENVIRONMENT1_DELIM, "EnvDelim");
}

TEST(AttrNamesTest, PairedFormsAreDistinctNames) {
    EXPECT_STREQ(ATTR_DAG_NODE_NAME, "DAGNodeName");
    EXPECT_STREQ(ATTR_DAG_NODE_NAME_ALT, "dag_node_name");
    // Lookups ignore case, so the two forms must differ by more than case.
    EXPECT_NE(strcasecmp(ATTR_DAG_NODE_NAME, ATTR_DAG_NODE_NAME_ALT), 0);
    EXPECT_STREQ(ATTR_JOB_ARGUMENTS1, "Args");
    EXPECT_STREQ(ATTR_JOB_ARGUMENTS2, "Arguments");
    EXPECT_STREQ(ATTR_JOB_ENVIRONMENT1, "Env");
    EXPECT_STREQ(ATTR_JOB_ENVIRONMENT2, "Environment");
}

// Two constants name one attribute only where a security-negotiation name
// reuses a general one; any other clash would make two attributes one.
TEST(AttrNamesTest, OnlyTheSecurityNamesShareAnAttribute) {
    std::map<std::string, Symbol> symbols = ExportedAttrSymbols(kLauncher);
    ASSERT_FALSE(symbols.empty());
    std::map<std::string, std::string> by_lower_name;
    std::map<std::string, std::string> clashes;
    for (const auto &symbol : symbols) {
        const char *value = ValueOf(symbol.first);
        ASSERT_NE(value, nullptr) << symbol.first;
        std::string lower;
        for (const char *p = value; *p != '\0'; ++p) {
            lower += static_cast<char>(tolower(*p));
        }
        auto inserted = by_lower_name.emplace(lower, symbol.first);
        if (!inserted.second) {
            clashes[symbol.first] = inserted.first->second;
        }
    }
    std::map<std::string, std::string> expected = {{"ATTR_SEC_COMMAND", "ATTR_COMMAND"},
                                                   {"ATTR_USER", "ATTR_SEC_USER"}};
    EXPECT_EQ(clashes, expected);
}

}  // namespace

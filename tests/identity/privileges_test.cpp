// Tests of the privilege states: where the service account comes from and
// the start-up errors about it, the real, effective and saved ids and the
// supplementary groups each state leaves, the one-way final user state,
// switches that must end the process, the rules for recording users and
// owners, the history and the descriptions. Each case runs in a forked
// child inside a private /etc with the test's accounts.
#include "identity/privileges.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/macro_table.h"
#include "tests/identity/identity_test_support.h"
#include "tests/support/capture.h"

namespace {

using identity_test::ChildOutcome;
using identity_test::RunIsolated;

// "uid r/e/s gid r/e/s groups a,b,..." (groups sorted) of this process.
std::string Ids() {
    uid_t ru, eu, su;
    gid_t rg, eg, sg;
    getresuid(&ru, &eu, &su);
    getresgid(&rg, &eg, &sg);
    std::vector<gid_t> groups(static_cast<size_t>(getgroups(0, nullptr)) + 1);
    groups.resize(static_cast<size_t>(getgroups(static_cast<int>(groups.size()), groups.data())));
    std::sort(groups.begin(), groups.end());
    std::string text = "uid " + std::to_string(ru) + "/" + std::to_string(eu) + "/" +
                       std::to_string(su) + " gid " + std::to_string(rg) + "/" +
                       std::to_string(eg) + "/" + std::to_string(sg) + " groups";
    for (size_t i = 0; i < groups.size(); ++i) {
        text += (i == 0 ? " " : ",") + std::to_string(groups[i]);
    }
    return text;
}

priv_state Become(priv_state s) {
    return _set_priv(s, __FILE__, __LINE__, 0);
}

const char kBadIds[] =
    "ERROR: badly formed value in TORVEL_IDS %s variable (%s).\n"
    "Please set TORVEL_IDS to the '.' seperated uid, gid pair that\n"
    "should be used by torvel.\n";

class PrivilegesTest : public testing::Test {
 protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root: to switch ids";
        }
        std::string why;
        if (!torvel_test::EtcOverlay::Usable(&why)) {
            GTEST_SKIP() << why;
        }
    }
    ChildOutcome Run(bool with_service_account, const std::function<std::string()> &body) {
        torvel_test::EtcOverlay etc;
        identity_test::AddTestAccounts(&etc, with_service_account);
        return RunIsolated(etc, body);
    }
    // Runs body and expects it to pass.
    void Expect(bool with_service_account, const std::function<std::string()> &body) {
        ChildOutcome out = Run(with_service_account, body);
        EXPECT_EQ("", out.failure);
        EXPECT_EQ(0, out.status) << out.err;
    }
};

// ---- The service account ----

TEST_F(PrivilegesTest, ServiceAccountIsTheDistributionsAccount) {
    Expect(true, [] {
        std::string start = Ids();
        ID_CHECK(start.compare(0, 20, "uid 0/0/0 gid 0/0/0 ") == 0);
        priv_state was = _set_priv(PRIV_TORVEL, __FILE__, __LINE__, 1);
        ID_CHECK(was == PRIV_UNKNOWN);
        ID_CHECK(Ids() == "uid 0/4242/0 gid 0/4242/0 groups 4242,4250");
        ID_CHECK(strcmp(get_torvel_username(), "torvel") == 0);
        ID_CHECK(get_torvel_uid() == 4242 && get_torvel_gid() == 4242);
        ID_CHECK(get_real_torvel_uid() == 4242 && get_real_torvel_gid() == 4242);
        // Back to the state the process started in: its own ids again.
        ID_CHECK(_set_priv(was, __FILE__, __LINE__, 1) == PRIV_TORVEL);
        ID_CHECK(Ids() == start);
        return std::string();
    });
}

// A switch makes only the id calls that change something, by the ids the
// last switch left; ids changed behind its back (here the effective uid)
// are still replaced by the state's own, and a switch back leaves every id
// as before.
TEST_F(PrivilegesTest, IdsChangedWithoutASwitchAreSetAgain) {
    Expect(true, [] {
        ID_CHECK(init_user_ids("idt_user"));
        std::string start = Ids();
        Become(PRIV_ROOT);
        std::string root = Ids();
        ID_CHECK(seteuid(4301) == 0);
        Become(PRIV_TORVEL);
        ID_CHECK(Ids() == "uid 0/4242/0 gid 0/4242/0 groups 4242,4250");
        Become(PRIV_ROOT);
        ID_CHECK(seteuid(4302) == 0);
        Become(PRIV_USER);
        ID_CHECK(Ids() == "uid 0/4301/0 gid 0/4301/0 groups 4301,4310");
        Become(PRIV_ROOT);
        ID_CHECK(Ids() == root);
        ID_CHECK(setegid(4302) == 0);
        Become(PRIV_TORVEL);
        ID_CHECK(Ids() == "uid 0/4242/0 gid 0/4242/0 groups 4242,4250");
        Become(PRIV_UNKNOWN);
        ID_CHECK(Ids() == start);
        return std::string();
    });
}

// A program that dropped to its service account by itself, then took
// ids back behind the library's back (seteuid(0) in the embedding
// program): a switch whose ids match what the last switch left must still
// look at the ids really in force, or the program would run as root while
// it believes it runs as the service account. Each id the program changes
// (uid, gid, groups) is set again; a log line written meanwhile is written
// as the service account and leaves the program's ids as they were.
const char kServiceIds[] = "uid 0/4242/0 gid 0/4242/0 groups 4242,4250";

std::string DropToServiceAccountAndSwitch() {
    const gid_t service_groups[] = {4242, 4250};
    ID_CHECK(setgroups(2, service_groups) == 0);
    ID_CHECK(setegid(4242) == 0 && seteuid(4242) == 0);
    ID_CHECK(Ids() == kServiceIds);
    Become(PRIV_ROOT);
    Become(PRIV_UNKNOWN);  // the ids it had: the service account's
    ID_CHECK(Ids() == kServiceIds);
    return std::string();
}

TEST_F(PrivilegesTest, IdsTakenBackDirectlyAreNotMistakenForTheLastSwitchs) {
    Expect(true, [] {
        std::string failed = DropToServiceAccountAndSwitch();
        ID_CHECK(failed.empty());
        ID_CHECK(seteuid(0) == 0);
        Become(PRIV_TORVEL);
        ID_CHECK(Ids() == kServiceIds);
        return std::string();
    });
    // The gid, then the groups, given to root behind the library's back
    // while the effective uid stays the service account's.
    const std::function<bool()> changes[] = {
        [] { return seteuid(0) == 0 && setegid(0) == 0 && seteuid(4242) == 0; },
        [] {
            const gid_t root_group = 0;
            return seteuid(0) == 0 && setgroups(1, &root_group) == 0 && seteuid(4242) == 0;
        },
    };
    for (const std::function<bool()> &change : changes) {
        Expect(true, [change] {
            std::string failed = DropToServiceAccountAndSwitch();
            ID_CHECK(failed.empty());
            Become(PRIV_TORVEL);
            ID_CHECK(change());
            Become(PRIV_UNKNOWN);
            ID_CHECK(Ids() == kServiceIds);
            return std::string();
        });
    }
    torvel_test::TempDir logs("priv_log");
    ASSERT_EQ(0, chmod(logs.path().c_str(), 0777));
    std::string log = logs.Path("service.log");
    Expect(true, [log] {
        std::string failed = DropToServiceAccountAndSwitch();
        ID_CHECK(failed.empty());
        ID_CHECK(seteuid(0) == 0);
        std::string own = Ids();
        DebugFile[0] = strdup(log.c_str());
        DebugFlags = D_ALWAYS;
        _torvel_dprintf_works = 1;
        dprintf(D_ALWAYS, "written as the service account\n");
        struct stat status;
        ID_CHECK(stat(log.c_str(), &status) == 0);
        ID_CHECK(status.st_uid == 4242 && status.st_gid == 4242);
        ID_CHECK(Ids() == own);
        return std::string();
    });
}

// The process's own ids are its real ids when it first learns its ids;
// root is decided by the real uid of the moment.
TEST_F(PrivilegesTest, OwnIdsAreTheRealIdsAndRootIsTheRealUid) {
    Expect(true, [] {
        ID_CHECK(setresgid(identity_test::kUserGroup, 0, 0) == 0);
        ID_CHECK(get_my_gid() == identity_test::kUserGroup);
        ID_CHECK(get_my_uid() == 0);
        ID_CHECK(is_root() == 1);
        ID_CHECK(setresuid(identity_test::kUser, 0, 0) == 0);
        ID_CHECK(is_root() == 0);
        ID_CHECK(get_my_gid() == identity_test::kUserGroup);
        return std::string();
    });
}

TEST_F(PrivilegesTest, IdsVariableOverridesTheAccount) {
    auto uses_other = [] {
        ID_CHECK(get_real_torvel_uid() == 4242);
        Become(PRIV_TORVEL);
        ID_CHECK(Ids() == "uid 0/4302/0 gid 0/4302/0 groups 4302");
        ID_CHECK(strcmp(get_torvel_username(), "idt_other") == 0);
        return std::string();
    };
    Expect(true, [&] {
        setenv("TORVEL_IDS", "4302.4302", 1);
        return uses_other();
    });
    Expect(true, [&] {
        insert("TORVEL_IDS", "4302.4302", ConfigTab, CONFIG_TABLE_SIZE);
        return uses_other();
    });
}

TEST_F(PrivilegesTest, UnusableServiceAccountEndsTheProgram) {
    auto learn = [] {
        get_torvel_uid();
        return std::string("still running");
    };
    char text[512];

    ChildOutcome out = Run(true, [&] {
        setenv("TORVEL_IDS", "500", 1);
        return learn();
    });
    snprintf(text, sizeof text, kBadIds, "environment", "500");
    EXPECT_EQ(1, out.status);
    EXPECT_EQ(text, out.err);

    out = Run(true, [&] {
        insert("TORVEL_IDS", "4301,4301", ConfigTab, CONFIG_TABLE_SIZE);
        return learn();
    });
    snprintf(text, sizeof text, kBadIds, "config file", "4301,4301");
    EXPECT_EQ(1, out.status);
    EXPECT_EQ(text, out.err);

    // Beyond the int range: refused, never wrapped to some other uid.
    out = Run(true, [&] {
        setenv("TORVEL_IDS", "4294971597.4301", 1);
        return learn();
    });
    snprintf(text, sizeof text, kBadIds, "environment", "4294971597.4301");
    EXPECT_EQ(1, out.status);
    EXPECT_EQ(text, out.err);

    out = Run(true, [&] {
        setenv("TORVEL_IDS", "4999.4999", 1);
        return learn();
    });
    EXPECT_EQ(1, out.status);
    EXPECT_EQ(
        "ERROR: the uid specified in TORVEL_IDS environment variable (4999)\n"
        "does not exist in your password information.\n"
        "Please set TORVEL_IDS to the '.' seperated uid, gid pair that\n"
        "should be used by torvel.\n",
        out.err);

    out = Run(false, learn);
    EXPECT_EQ(1, out.status);
    EXPECT_EQ(
        "Can't find \"torvel\" in the password file and TORVEL_IDS not defined in "
        "torvel_config or as an environment variable.\n",
        out.err);
}

// ---- The ids of each state ----

TEST_F(PrivilegesTest, EachStateCarriesOnlyItsOwnGroups) {
    Expect(true, [] {
        std::string start = Ids();
        ID_CHECK(init_user_ids("idt_user"));
        ID_CHECK(set_file_owner_ids(4302, 4302));
        Become(PRIV_USER);
        ID_CHECK(Ids() == "uid 0/4301/0 gid 0/4301/0 groups 4301,4310");
        Become(PRIV_TORVEL);
        ID_CHECK(Ids() == "uid 0/4242/0 gid 0/4242/0 groups 4242,4250");
        Become(PRIV_FILE_OWNER);
        ID_CHECK(Ids() == "uid 0/4302/0 gid 0/4302/0 groups 4302");
        Become(PRIV_ROOT);
        ID_CHECK(Ids() == start);
        // A user without an account has only its own gid.
        ID_CHECK(set_user_ids(4999, 4998));
        Become(PRIV_USER);
        ID_CHECK(Ids() == "uid 0/4999/0 gid 0/4998/0 groups 4998");
        return std::string();
    });
}

// A switch made only for file access keeps a group list that differs from
// the state's own only in holding the state's gid (the same access), never
// one with a group the state lacks; an ordinary switch still installs the
// exact list, and the switch back restores the caller's.
TEST_F(PrivilegesTest, FileAccessSwitchKeepsOnlyGroupsGrantingTheSameAccess) {
    Expect(true, [] {
        setenv("TORVEL_IDS", "4302.4302", 1);  // groups: 4302 alone
        ID_CHECK(setgroups(0, nullptr) == 0);
        std::string start = Ids();
        ID_CHECK(start.compare(start.size() - 7, 7, " groups") == 0);
        Become(PRIV_TORVEL);
        ID_CHECK(Ids() == "uid 0/4302/0 gid 0/4302/0 groups 4302");
        Become(PRIV_UNKNOWN);
        ID_CHECK(Ids() == start);
        ID_CHECK(_torvel_set_priv_for_files(PRIV_TORVEL, __FILE__, __LINE__) == PRIV_UNKNOWN);
        ID_CHECK(get_priv() == PRIV_TORVEL);
        ID_CHECK(Ids() == "uid 0/4302/0 gid 0/4302/0 groups");
        ID_CHECK(Become(PRIV_UNKNOWN) == PRIV_TORVEL);
        ID_CHECK(Ids() == start);
        // A list set without a switch is looked at, not taken on trust;
        // the switch back gives the program the list it had set.
        gid_t other = 4310;
        ID_CHECK(setgroups(1, &other) == 0);
        _torvel_set_priv_for_files(PRIV_TORVEL, __FILE__, __LINE__);
        ID_CHECK(Ids() == "uid 0/4302/0 gid 0/4302/0 groups 4302");
        Become(PRIV_UNKNOWN);
        ID_CHECK(Ids() == start + " 4310");
        ID_CHECK(setgroups(0, nullptr) == 0);
        // From the user's groups (4301,4310) the list must change.
        ID_CHECK(init_user_ids("idt_user"));
        Become(PRIV_USER);
        ID_CHECK(_torvel_set_priv_for_files(PRIV_TORVEL, __FILE__, __LINE__) == PRIV_USER);
        ID_CHECK(Ids() == "uid 0/4302/0 gid 0/4302/0 groups 4302");
        Become(PRIV_USER);
        ID_CHECK(Ids() == "uid 0/4301/0 gid 0/4301/0 groups 4301,4310");
        Become(PRIV_UNKNOWN);
        ID_CHECK(Ids() == start);
        return std::string();
    });
}

TEST_F(PrivilegesTest, FinalUserStateIsForGood) {
    Expect(true, [] {
        ID_CHECK(init_user_ids("idt_user"));
        ID_CHECK(Become(PRIV_USER_FINAL) == PRIV_UNKNOWN);
        std::string final_ids = "uid 4301/4301/4301 gid 4301/4301/4301 groups 4301,4310";
        ID_CHECK(Ids() == final_ids);
        ID_CHECK(Become(PRIV_ROOT) == PRIV_USER_FINAL);
        ID_CHECK(Become(PRIV_USER_FINAL) == PRIV_USER_FINAL);
        ID_CHECK(get_priv() == PRIV_USER_FINAL);
        ID_CHECK(Ids() == final_ids);
        ID_CHECK(seteuid(0) != 0);
        return std::string();
    });
}

// Switching to the user or owner before their ids are known would leave
// the process as root under the user's name: it ends instead.
TEST_F(PrivilegesTest, SwitchWithoutTheIdsEndsTheProcess) {
    for (priv_state s : {PRIV_USER, PRIV_USER_FINAL, PRIV_FILE_OWNER}) {
        ChildOutcome out = Run(true, [s] {
            DebugFP = stderr;
            DebugFlags = static_cast<int>(D_ALWAYS | D_NOHEADER);
            _torvel_dprintf_works = 1;
            Become(s);
            return std::string("switched to ") + priv_to_string(s) + " as " + Ids();
        });
        EXPECT_EQ(4, out.status) << out.failure;
        std::string user = s == PRIV_USER_FINAL
                               ? "set_user_rgid() called when UserIds not inited!\n"
                                 "set_user_ruid() called when UserIds not inited!\n"
                               : "set_user_egid() called when UserIds not inited!\n"
                                 "set_user_euid() called when UserIds not inited!\n";
        std::string owner = "set_owner_egid() called when OwnerIds not inited!\n";
        std::string kind = s == PRIV_FILE_OWNER ? "owner" : "user";
        EXPECT_EQ(0u, out.err.find(s == PRIV_FILE_OWNER ? owner : user)) << out.err;
        EXPECT_NE(std::string::npos,
                  out.err.find(std::string("ERROR \"cannot switch to ") + priv_to_string(s) + ": " +
                               kind + " ids are not initialized\" at line "))
            << out.err;
        EXPECT_NE(std::string::npos, out.err.find(" in file uids\n")) << out.err;
    }
}

// Without CAP_SETUID the user's uid cannot be taken: the switch ends the
// process instead of going on as root.
TEST_F(PrivilegesTest, FailedIdCallEndsTheProcess) {
    ChildOutcome out = Run(true, [] {
        ID_CHECK(init_user_ids("idt_user"));
        __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct data[2] = {};
        ID_CHECK(syscall(SYS_capget, &header, data) == 0);
        data[0].effective &= ~(1u << CAP_SETUID);
        ID_CHECK(syscall(SYS_capset, &header, data) == 0);
        Become(PRIV_USER);
        return "switch returned as " + Ids();
    });
    EXPECT_EQ(4, out.status) << out.failure;
    EXPECT_NE(std::string::npos, out.err.find("seteuid(4301) failed while switching ids, errno: 1"))
        << out.err;
}

TEST_F(PrivilegesTest, NonRootProcessOnlyTracksTheState) {
    auto as_user = [](const std::function<std::string()> &then) {
        gid_t group = 4301;
        ID_CHECK(setgroups(1, &group) == 0 && setresgid(4301, 4301, 4301) == 0 &&
                 setresuid(4301, 4301, 4301) == 0);
        return then();
    };
    Expect(false, [&] {
        return as_user([] {
            ID_CHECK(!can_switch_ids());
            ID_CHECK(get_torvel_uid() == 4301 && get_torvel_gid() == 4301);
            ID_CHECK(strcmp(get_torvel_username(), "idt_user") == 0);
            ID_CHECK(get_real_torvel_uid() == 2147483647u);
            ID_CHECK(Become(PRIV_ROOT) == PRIV_UNKNOWN && get_priv() == PRIV_ROOT);
            ID_CHECK(geteuid() == 4301);
            // Any user recorded is the process itself, under its own name.
            ID_CHECK(set_user_ids(4302, 4302) && get_user_uid() == 4301);
            ID_CHECK(init_nobody_ids(0) && get_user_uid() == 4301);
            ID_CHECK(strcmp(get_user_loginname(), "idt_user") == 0);
            ID_CHECK(set_user_ids(0, 100) == 0);
            return std::string();
        });
    });
    // TORVEL_IDS naming the process itself makes it the account too.
    Expect(false, [&] {
        setenv("TORVEL_IDS", "4301.4301", 1);
        return as_user([] {
            ID_CHECK(get_real_torvel_uid() == 4301 && get_real_torvel_gid() == 4301);
            return std::string();
        });
    });
}

// ---- Recording users and owners ----

TEST_F(PrivilegesTest, RecordingUsersAndOwners) {
    Expect(true, [] {
        DebugCapture log(D_ALWAYS);
        ID_CHECK(set_user_ids(4301, 4301));
        ID_CHECK(strcmp(get_user_loginname(), "idt_user") == 0);
        ID_CHECK(set_user_ids(0, 100) == 0);
        ID_CHECK(set_user_ids(4302, 0) == 0);
        ID_CHECK(get_user_uid() == 4301 && get_user_gid() == 4301);
        ID_CHECK(set_user_ids(4302, 4302));
        ID_CHECK(set_user_ids_quiet(4301, 4301));
        ID_CHECK(log.Take() ==
                 "ERROR: Attempt to initialize user_priv with root privileges rejected\n"
                 "ERROR: Attempt to initialize user_priv with root privileges rejected\n"
                 "warning: setting UserUid to 4302, was 4301 previosly\n");

        ID_CHECK(init_user_ids("NoBody"));
        ID_CHECK(get_user_uid() == 65534 && strcmp(get_user_loginname(), "nobody") == 0);
        ID_CHECK(init_user_ids_quiet("idt_other") && get_user_uid() == 4302);
        ID_CHECK(!init_user_ids("idt_missing"));
        ID_CHECK(get_user_uid() == 4302);
        uninit_user_ids();
        ID_CHECK(get_user_uid() == static_cast<uid_t>(-1));
        ID_CHECK(get_user_gid() == static_cast<gid_t>(-1));
        ID_CHECK(log.Take() ==
                 "warning: setting UserUid to 65534, was 4301 previosly\n"
                 "passwd_cache::cache_uid(): getpwnam(\"idt_missing\") failed: user not found\n"
                 "idt_missing not in passwd file\n"
                 "get_user_uid() called when UserIds not inited!\n"
                 "get_user_gid() called when UserIds not inited!\n");

        ID_CHECK(get_file_owner_uid() == static_cast<uid_t>(-1));
        ID_CHECK(set_file_owner_ids(0, 0) && get_file_owner_uid() == 0);
        ID_CHECK(set_file_owner_ids(4999, 4998) && get_file_owner_gid() == 4998);
        uninit_file_owner_ids();
        ID_CHECK(get_file_owner_gid() == static_cast<gid_t>(-1));
        ID_CHECK(log.Take() ==
                 "get_file_owner_uid() called when OwnerIds not inited!\n"
                 "warning: setting OwnerUid to 4999, was 0 previosly\n"
                 "get_file_owner_gid() called when OwnerIds not inited!\n");
        return std::string();
    });
}

// ---- History and descriptions ----

TEST_F(PrivilegesTest, HistoryKeepsTheLast32SwitchesNewestFirst) {
    Expect(true, [] {
        DebugCapture log(D_ALWAYS | D_PRIV);
        for (int line = 1; line <= 33; ++line) {
            _set_priv(line % 2 == 1 ? PRIV_ROOT : PRIV_TORVEL, "hist.cpp", line, 1);
            // The state in force: no switch, no entry.
            _set_priv(get_priv(), "same.cpp", line, 1);
        }
        std::string want = "PRIV_UNKNOWN --> PRIV_ROOT at hist.cpp:1\n";
        for (int line = 2; line <= 33; ++line) {
            want += line % 2 == 1 ? "PRIV_TORVEL --> PRIV_ROOT" : "PRIV_ROOT --> PRIV_TORVEL";
            want += " at hist.cpp:" + std::to_string(line) + "\n";
        }
        ID_CHECK(log.Take() == want);
        display_priv_log();
        std::string shown = log.Take();
        const char first[] = "running as root; privilege switching in effect\n";
        ID_CHECK(shown.compare(0, strlen(first), first) == 0);
        size_t at = strlen(first);
        for (int line = 33; line >= 2; --line) {
            std::string want = std::string("--> ") + (line % 2 == 1 ? "PRIV_ROOT" : "PRIV_TORVEL") +
                               " at hist.cpp:" + std::to_string(line) + " ";
            ID_CHECK(shown.compare(at, want.size(), want) == 0);
            at = shown.find('\n', at);
            ID_CHECK(at != std::string::npos);
            ++at;
        }
        ID_CHECK(at == shown.size());
        return std::string();
    });
}

TEST_F(PrivilegesTest, Descriptions) {
    EXPECT_STREQ("PRIV_INVALID", priv_to_string(static_cast<priv_state>(6)));
    EXPECT_STREQ("PRIV_INVALID", priv_to_string(static_cast<priv_state>(-1)));
    EXPECT_STREQ("PRIV_FILE_OWNER", priv_to_string(PRIV_FILE_OWNER));
    Expect(true, [] {
        ID_CHECK(strcmp(priv_identifier(PRIV_UNKNOWN), "unknown user") == 0);
        ID_CHECK(strcmp(priv_identifier(PRIV_TORVEL), "Torvel daemon user 'torvel' (4242.4242)") ==
                 0);
        ID_CHECK(init_user_ids("idt_user") && set_file_owner_ids(4999, 4998));
        ID_CHECK(strcmp(priv_identifier(PRIV_USER_FINAL), "User 'idt_user' (4301.4301)") == 0);
        ID_CHECK(strcmp(priv_identifier(PRIV_FILE_OWNER), "file owner 'unknown' (4999.4998)") == 0);
        ID_CHECK(strcmp(priv_identifier(PRIV_ROOT), "SuperUser (root)") == 0);
        ID_CHECK(strcmp(get_real_username(), "root") == 0);
        char *name = my_username(-1);
        ID_CHECK(name != nullptr && strcmp(name, "root") == 0);
        free(name);
        ID_CHECK(my_username(4999) == nullptr);
        ID_CHECK(my_domainname() == nullptr);
        return std::string();
    });
    struct Fatal {
        priv_state state;
        const char *message;
    } fatal[] = {
        {PRIV_USER,
         "Programmer Error: priv_identifier() called for PRIV_USER, but user ids are "
         "not initialized"},
        {PRIV_FILE_OWNER,
         "Programmer Error: priv_identifier() called for PRIV_FILE_OWNER, but "
         "owner ids are not initialized"},
        {static_cast<priv_state>(9), "Programmer error: unknown state (9) in priv_identifier"},
    };
    for (const Fatal &f : fatal) {
        ChildOutcome out = Run(true, [&] { return std::string(priv_identifier(f.state)); });
        EXPECT_EQ(4, out.status);
        EXPECT_EQ(0u, out.err.find(std::string("ERROR \"") + f.message + "\" at line ")) << out.err;
    }
}

}  // namespace

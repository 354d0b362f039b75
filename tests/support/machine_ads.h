// Generated machine ads for the readers' tests and benchmarks: about 100
// attributes each (integers, reals, strings, booleans, and expressions such
// as Start, Requirements and Rank in the mix a startd advertises), about
// 2 KB of text, the same for the same seed on every host. Names repeat
// across ads as they do in a pool; values, and a few optional attributes,
// vary with the seed.
//
// Each ad comes in the three forms the readers take, written here from the
// generated texts, not by the library's writers: the text form (one
// "name = value" line each, MyType and TargetType first), the XML form
// ("<c>" with one "<a n=...>" element each) and the wire form (a Stream's
// count, the assignments as strings, then the two type names).
// Header-only, no process-wide state.
#ifndef TORVEL_TESTS_SUPPORT_MACHINE_ADS_H_
#define TORVEL_TESTS_SUPPORT_MACHINE_ADS_H_

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "stream/stream.h"

namespace machine_ads {

// One attribute: its name, the right-hand side's text, and its kind: 'i'
// integer, 'r' real, 's' string (value holds the quotes), 'b' boolean,
// 'e' expression.
struct Attribute {
    std::string name;
    std::string value;
    char kind;
};

// A small deterministic generator (xorshift), so the ads do not depend on
// the C library's rand().
class Random {
 public:
    explicit Random(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ULL + 0x2545F4914F6CDD1DULL) {
        Next();
    }
    uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return static_cast<uint32_t>(state_ >> 16);
    }
    int Pick(int n) { return static_cast<int>(Next() % static_cast<uint32_t>(n)); }
    bool Chance(int percent) { return Pick(100) < percent; }
    template <size_t N>
    const char *From(const char * const (&list)[N]) {
        return list[Pick(static_cast<int>(N))];
    }

 private:
    uint64_t state_;
};

namespace internal {

inline std::string Int(long value) {
    return std::to_string(value);
}
inline std::string Real(Random &r, int whole, int decimals) {
    char text[64];
    snprintf(text, sizeof text, "%d.%0*d", r.Pick(whole), decimals,
             r.Pick(decimals == 1   ? 10
                    : decimals == 2 ? 100
                                    : 1000000));
    return text;
}
inline std::string Quoted(const std::string &text) {
    return "\"" + text + "\"";
}

const char * const kArchs[] = {"X86_64", "INTEL", "PPC64LE", "AARCH64"};
const char * const kOpSys[] = {"LINUX", "LINUX", "LINUX", "OSX"};
const char * const kStates[] = {"Unclaimed", "Claimed", "Owner", "Matched"};
const char * const kActivities[] = {"Idle", "Busy", "Benchmarking", "Suspended"};
const char * const kDomains[] = {"cs.example.edu", "hep.example.org", "farm.example.net"};

// The fixed part of every ad's expressions; their operands vary little in a
// real pool either.
const char * const kStart[] = {
    "(KeyboardIdle > 15 * 60) && (LoadAvg - TorvelLoadAvg <= 0.3)",
    "TRUE",
    "(TARGET.Owner == \"alice\" || TARGET.Owner == \"bob\") && KeyboardIdle > 600",
    "((MY.Memory >= TARGET.ImageSize / 1024) && (CpuBusyTime < 120))",
};
const char * const kRank[] = {
    "TARGET.Department == MY.Department",
    "0",
    "(TARGET.Owner == \"alice\") * 10 + (TARGET.Group =?= \"physics\")",
    "-TARGET.ImageSize / 1000.0",
};

}  // namespace internal

// The attributes of the ad of seed, in advertising order (the types are not
// among them). The same seed gives the same attributes.
inline std::vector<Attribute> Generate(uint64_t seed) {
    using namespace internal;
    Random r(seed);
    std::vector<Attribute> a;
    auto add = [&a](const char *name, const std::string &value, char kind) {
        a.push_back({name, value, kind});
    };
    int slot = 1 + r.Pick(32);
    std::string host = "node" + Int(r.Pick(5000)) + "." + r.From(kDomains);
    std::string name = "slot" + Int(slot) + "@" + host;
    int memory = 1024 << r.Pick(6);
    int cpus = 1 << r.Pick(5);
    long disk = 1000000L + r.Pick(90000000);
    int now = 1700000000 + r.Pick(50000000);
    add("Name", Quoted(name), 's');
    add("Machine", Quoted(host), 's');
    add("Arch", Quoted(r.From(kArchs)), 's');
    add("OpSys", Quoted(r.From(kOpSys)), 's');
    add("OpSysVer", Int(700 + r.Pick(300)), 'i');
    add("OpSysAndVer", Quoted("RedHat" + Int(7 + r.Pick(3))), 's');
    add("UidDomain", Quoted(r.From(kDomains)), 's');
    add("FileSystemDomain", Quoted(r.From(kDomains)), 's');
    add("CheckpointPlatform", Quoted("LINUX X86_64 4.18.0 normal N/A ssse3 sse4_1 sse4_2"), 's');
    add("State", Quoted(r.From(kStates)), 's');
    add("Activity", Quoted(r.From(kActivities)), 's');
    add("EnteredCurrentState", Int(now - r.Pick(86400)), 'i');
    add("EnteredCurrentActivity", Int(now - r.Pick(86400)), 'i');
    add("LastHeardFrom", Int(now), 'i');
    add("MyCurrentTime", Int(now), 'i');
    add("DaemonStartTime", Int(now - r.Pick(8640000)), 'i');
    add("Memory", Int(memory), 'i');
    add("TotalMemory", Int(memory * cpus), 'i');
    add("VirtualMemory", Int(memory * 2 + r.Pick(1024)), 'i');
    add("TotalVirtualMemory", Int(memory * 4 + r.Pick(4096)), 'i');
    add("Disk", Int(disk), 'i');
    add("TotalDisk", Int(disk * 4), 'i');
    add("Cpus", Int(cpus), 'i');
    add("TotalCpus", Int(cpus * 4), 'i');
    add("TotalSlots", Int(4 + r.Pick(60)), 'i');
    add("SlotID", Int(slot), 'i');
    add("DetectedMemory", Int(memory * cpus), 'i');
    add("DetectedCpus", Int(cpus * 4), 'i');
    add("Mips", Int(2000 + r.Pick(30000)), 'i');
    add("KFlops", Int(400000 + r.Pick(2000000)), 'i');
    add("LoadAvg", Real(r, 4, 6), 'r');
    add("TorvelLoadAvg", Real(r, 2, 6), 'r');
    add("TotalLoadAvg", Real(r, 16, 6), 'r');
    add("TotalTorvelLoadAvg", Real(r, 8, 6), 'r');
    add("KeyboardIdle", Int(r.Pick(1000000)), 'i');
    add("ConsoleIdle", Int(r.Pick(1000000)), 'i');
    add("CpuBusyTime", Int(r.Pick(3600)), 'i');
    add("CpuIsBusy", r.Chance(30) ? "TRUE" : "FALSE", 'b');
    add("ImageSize", Int(r.Pick(200000)), 'i');
    add("TotalTimeUnclaimedIdle", Int(r.Pick(10000000)), 'i');
    add("TotalTimeClaimedBusy", Int(r.Pick(10000000)), 'i');
    add("TotalTimeOwnerIdle", Int(r.Pick(100000)), 'i');
    add("TotalTimeMatchedIdle", Int(r.Pick(1000)), 'i');
    add("TotalClaimRunTime", Int(r.Pick(10000000)), 'i');
    add("RecentJobStarts", Int(r.Pick(20)), 'i');
    add("JobStarts", Int(r.Pick(20000)), 'i');
    add("RecentDaemonCoreDutyCycle", Real(r, 1, 6), 'r');
    add("MonitorSelfCPUUsage", Real(r, 2, 6), 'r');
    add("MonitorSelfImageSize", Int(10000 + r.Pick(90000)), 'i');
    add("MonitorSelfResidentSetSize", Int(5000 + r.Pick(50000)), 'i');
    add("MonitorSelfAge", Int(r.Pick(8640000)), 'i');
    add("MonitorSelfTime", Int(now), 'i');
    add("UpdateSequenceNumber", Int(r.Pick(100000)), 'i');
    add("UpdatesTotal", Int(r.Pick(100000)), 'i');
    add("UpdatesSequenced", Int(r.Pick(100000)), 'i');
    add("UpdatesLost", Int(r.Pick(10)), 'i');
    add("UpdatesHistory", Quoted("0x00000000000000000000000000000000"), 's');
    add("ClockMin", Int(r.Pick(1440)), 'i');
    add("ClockDay", Int(r.Pick(7)), 'i');
    add("HasFileTransfer", "TRUE", 'b');
    add("HasPerFileEncryption", "TRUE", 'b');
    add("HasReconnect", "TRUE", 'b');
    add("HasMPI", r.Chance(20) ? "TRUE" : "FALSE", 'b');
    add("HasCheckpointing", r.Chance(50) ? "TRUE" : "FALSE", 'b');
    add("HasJobDeferral", "TRUE", 'b');
    add("HasVM", "FALSE", 'b');
    add("IsWakeAble", "FALSE", 'b');
    add("StarterAbilityList", Quoted("HasFileTransfer,HasPerFileEncryption,HasReconnect,HasMPI"),
        's');
    add("TorvelVersion", Quoted("$TorvelVersion: 6.8." + Int(r.Pick(10)) + " Oct 1 2026 $"), 's');
    add("TorvelPlatform", Quoted("$TorvelPlatform: X86_64-LINUX_RHEL8 $"), 's');
    add("MyAddress",
        Quoted("<10." + Int(r.Pick(256)) + "." + Int(r.Pick(256)) + "." + Int(r.Pick(256)) + ":" +
               Int(9600 + r.Pick(30000)) + ">"),
        's');
    add("StartdIpAddr", Quoted("<10.0." + Int(r.Pick(256)) + ".1:9618>"), 's');
    add("PublicClaimId", Quoted("<10.0.0.1:9618>#" + Int(now) + "#" + Int(r.Pick(1000)) + "#..."),
        's');
    add("Department", Quoted(r.Chance(50) ? "physics" : "chemistry"), 's');
    add("Group", Quoted(r.Chance(50) ? "physics" : "biology"), 's');
    add("SlotWeight", "Cpus", 'e');
    add("CpuBusy", "((LoadAvg - TorvelLoadAvg) >= 0.5)", 'e');
    add("MachineBusy", "(LoadAvg >= 0.5) || (KeyboardIdle < 900)", 'e');
    add("Start", r.From(kStart), 'e');
    add("Requirements", "START", 'e');
    add("Rank", r.From(kRank), 'e');
    add("CurrentRank", Real(r, 100, 1), 'r');
    add("Suspend", "CpuBusy && (CurrentTime - EnteredCurrentActivity > 120)", 'e');
    add("Continue", "(KeyboardIdle > 300) && (CpuBusyTime < 60)", 'e');
    add("Preempt", "(Activity == \"Suspended\") && (CurrentTime - EnteredCurrentActivity > 600)",
        'e');
    add("WantSuspend", "TRUE", 'b');
    add("WantVacate", "TRUE", 'b');
    add("PeriodicCheckpoint", "(CurrentTime - LastPeriodicCheckpoint) > 10800", 'e');
    add("IsOwner", "(START =?= FALSE)", 'e');
    add("MachineMaxVacateTime", Int(600), 'i');
    add("MaxJobRetirementTime", "ifThenElse(TARGET.Owner == \"alice\", 86400, 0)", 'e');
    add("RetirementTimeRemaining", "MaxJobRetirementTime - (CurrentTime - EnteredCurrentState)",
        'e');
    add("LastBenchmark", Int(now - r.Pick(86400)), 'i');
    add("TimeToLive", Int(2147483647), 'i');
    add("ExpectedMachineQuickFraction", Real(r, 1, 2), 'r');
    if (r.Chance(40)) {
        add("RemoteUser", Quoted("user" + Int(r.Pick(500)) + "@" + r.From(kDomains)), 's');
        add("RemoteOwner", Quoted("user" + Int(r.Pick(500)) + "@" + r.From(kDomains)), 's');
        add("JobId", Quoted(Int(r.Pick(100000)) + "." + Int(r.Pick(100))), 's');
        add("JobStart", Int(now - r.Pick(86400)), 'i');
    }
    if (r.Chance(30)) {
        add("LastPeriodicCheckpoint", Int(now - r.Pick(86400)), 'i');
        add("ConcurrencyLimits", Quoted("license_a,license_b"), 's');
    }
    return a;
}

// The text form: MyType and TargetType lines, then one line per attribute.
inline std::string TextForm(const std::vector<Attribute> &ad) {
    std::string out = "MyType = \"Machine\"\nTargetType = \"Job\"\n";
    for (const Attribute &a : ad) {
        out += a.name + " = " + a.value + "\n";
    }
    return out;
}

inline void AppendEscaped(std::string &out, const std::string &text) {
    for (char c : text) {
        if (c == '&') {
            out += "&amp;";
        } else if (c == '<') {
            out += "&lt;";
        } else if (c == '>') {
            out += "&gt;";
        } else {
            out += c;
        }
    }
}

// The XML form of one ad: "<c>" with the types and one element per
// attribute, a newline after "</c>".
inline std::string XmlForm(const std::vector<Attribute> &ad) {
    std::string out = "<c><a n=\"MyType\"><s>Machine</s></a><a n=\"TargetType\"><s>Job</s></a>";
    for (const Attribute &a : ad) {
        out += "<a n=\"" + a.name + "\">";
        if (a.kind == 'b') {
            out += a.value == "TRUE" ? "<b v=\"t\"/>" : "<b v=\"f\"/>";
        } else {
            std::string tag(1, a.kind);
            bool quoted = a.kind == 's';
            out += "<" + tag + ">";
            AppendEscaped(out, quoted ? a.value.substr(1, a.value.size() - 2) : a.value);
            out += "</" + tag + ">";
        }
        out += "</a>";
    }
    out += "</c>\n";
    return out;
}

// Writes the wire form of one ad to stream, which must be encoding: the
// count, each assignment as a string, then the two type names. False when
// the stream refuses a value.
inline bool PutWireForm(const std::vector<Attribute> &ad, Stream &stream) {
    int count = static_cast<int>(ad.size());
    if (!stream.code(count)) {
        return false;
    }
    for (const Attribute &a : ad) {
        if (!stream.put((a.name + " = " + a.value).c_str())) {
            return false;
        }
    }
    return stream.put("Machine") && stream.put("Job");
}

}  // namespace machine_ads

#endif  // TORVEL_TESTS_SUPPORT_MACHINE_ADS_H_

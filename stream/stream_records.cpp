// Stream: composite records and translated values, each field coded in a
// fixed order with the basic overloads; a record fails at its first failing
// field. Fields are copied through a local of the wire type, so the wire
// form never depends on how this host declares a member.
#include <string.h>

#include <new>

#include "diagnostics/debug_log.h"
#include "stream/code_tables.h"
#include "stream/stream.h"

namespace {
template <typename Wire, typename Field>
int code_as(Stream &stream, Field &field) {
    Wire wire = Wire();
    if (stream.is_encode()) {
        wire = static_cast<Wire>(field);
    }
    if (!stream.code(wire)) {
        return 0;
    }
    if (stream.is_decode()) {
        field = static_cast<Field>(wire);
    }
    return 1;
}

// An int translated by encode before sending and decode after receiving.
template <typename T>
int code_translated(Stream &stream, T &value, int (*to_portable)(int), int (*to_host)(int)) {
    int wire = 0;
    if (stream.is_encode()) {
        wire = to_portable(static_cast<int>(value));
    }
    if (!stream.code(wire)) {
        return 0;
    }
    if (stream.is_decode()) {
        value = static_cast<T>(to_host(wire));
    }
    return 1;
}

constexpr unsigned long kRlimitCeiling = 0x80000000UL;
constexpr int kUtsFieldLength = 65;
}  // namespace

int Stream::code(PROC_ID &id) {
    return code(id.cluster) && code(id.proc);
}

int Stream::code(PORTS &p) {
    return code(p.port_first) && code(p.port_second);
}

int Stream::code(StartdRec &rec) {
    if (!code(rec.marker)) {
        return 0;
    }
    if (rec.marker >= 0) {
        // Short form: the marker is the first port.
        rec.ports.port_first = rec.marker;
        return code(rec.ports.port_second);
    }
    if (!code(rec.ports) || !code(rec.address)) {
        return 0;
    }
    if (_coding == ENCODING || _coding == DECODING) {
        return code(rec.server);
    }
    return 1;
}

int Stream::code(STARTUP_INFO &start) {
    return code(start.version_num) && code(start.cluster) && code(start.proc) &&
           code(start.job_class) && code(start.uid) && code(start.gid) && code(start.virt_pid) &&
           code(start.soft_kill_sig) && code(start.cmd) && code(start.args) && code(start.env) &&
           code(start.iwd) && code(start.ckpt_wanted) && code(start.is_restart) &&
           code(start.coredump_limit_exists) && code(start.coredump_limit);
}

int Stream::code(open_flags_t &flags) {
    return code_translated(*this, flags, open_flags_encode, open_flags_decode);
}

int Stream::code(torvel_errno_t &errno_num) {
    return code_translated(*this, errno_num, errno_num_encode, errno_num_decode);
}

int Stream::code(torvel_signal_t &sig_num) {
    return code_translated(*this, sig_num, sig_num_encode, sig_num_decode);
}

int Stream::code(fcntl_cmd_t &cmd) {
    return code_translated(*this, cmd, fcntl_cmd_encode, fcntl_cmd_decode);
}

int Stream::code(torvel_mode_t &mode) {
    // Only the permission bits travel.
    unsigned int wire = 0;
    if (is_encode()) {
        wire = static_cast<unsigned int>(mode) & 0777;
    }
    if (!code(wire)) {
        return 0;
    }
    if (is_decode()) {
        mode = static_cast<torvel_mode_t>(wire & 0777);
    }
    return 1;
}

int Stream::code(struct timeval &tv) {
    return code_as<long>(*this, tv.tv_sec) && code_as<long>(*this, tv.tv_usec);
}

int Stream::code(struct timezone &tz) {
    return code_as<int>(*this, tz.tz_minuteswest) && code_as<int>(*this, tz.tz_dsttime);
}

int Stream::code(struct utimbuf &ut) {
    return code_as<long>(*this, ut.actime) && code_as<long>(*this, ut.modtime);
}

int Stream::code(struct rusage &r) {
    return code(r.ru_utime) && code(r.ru_stime) && code_as<long>(*this, r.ru_maxrss) &&
           code_as<long>(*this, r.ru_ixrss) && code_as<long>(*this, r.ru_idrss) &&
           code_as<long>(*this, r.ru_isrss) && code_as<long>(*this, r.ru_minflt) &&
           code_as<long>(*this, r.ru_majflt) && code_as<long>(*this, r.ru_nswap) &&
           code_as<long>(*this, r.ru_inblock) && code_as<long>(*this, r.ru_oublock) &&
           code_as<long>(*this, r.ru_msgsnd) && code_as<long>(*this, r.ru_msgrcv) &&
           code_as<long>(*this, r.ru_nsignals) && code_as<long>(*this, r.ru_nvcsw) &&
           code_as<long>(*this, r.ru_nivcsw);
}

int Stream::code(struct stat &st) {
    return code_as<unsigned long>(*this, st.st_dev) && code_as<unsigned long>(*this, st.st_ino) &&
           code_as<unsigned int>(*this, st.st_mode) && code_as<unsigned long>(*this, st.st_nlink) &&
           code_as<unsigned int>(*this, st.st_uid) && code_as<unsigned int>(*this, st.st_gid) &&
           code_as<unsigned long>(*this, st.st_rdev) && code_as<long>(*this, st.st_size) &&
           code_as<long>(*this, st.st_atime) && code_as<long>(*this, st.st_mtime) &&
           code_as<long>(*this, st.st_ctime) && code_as<long>(*this, st.st_blksize) &&
           code_as<long>(*this, st.st_blocks);
}

int Stream::code(struct statfs &st) {
    if (is_decode()) {
        memset(&st, 0, sizeof(st));
    }
    return code_as<long>(*this, st.f_bsize) && code_as<unsigned long>(*this, st.f_blocks) &&
           code_as<unsigned long>(*this, st.f_bfree) && code_as<unsigned long>(*this, st.f_files) &&
           code_as<unsigned long>(*this, st.f_ffree) && code_as<unsigned long>(*this, st.f_bavail);
}

namespace {
// Limits of 2^31 and above (unlimited included) travel as 2147483647.
int code_limit(Stream &stream, rlim_t &limit) {
    if (stream.is_encode() && limit >= kRlimitCeiling) {
        long capped = 2147483647L;
        return stream.code(capped);
    }
    return code_as<unsigned long>(stream, limit);
}
}  // namespace

int Stream::code(struct rlimit &rl) {
    return code_limit(*this, rl.rlim_cur) && code_limit(*this, rl.rlim_max);
}

int Stream::code(struct utsname &un) {
    static_assert(sizeof(un.sysname) == kUtsFieldLength && sizeof(un.machine) == kUtsFieldLength,
                  "utsname fields travel as 65 bytes each");
    char *fields[] = {un.sysname, un.nodename, un.release, un.version, un.machine};
    for (char *field : fields) {
        if (!code_bytes_bool(field, kUtsFieldLength)) {
            dprintf(D_NETWORK, "Stream::code(utsname) failed\n");
            return 0;
        }
        // A peer may send 65 bytes without a terminator.
        field[kUtsFieldLength - 1] = '\0';
    }
    un.domainname[0] = '\0';
    return 1;
}

int Stream::code_array(unsigned int *&array, int &count) {
    if (is_encode()) {
        if (count > 0 && array == nullptr) {
            return 0;
        }
        int n = count;
        if (!code(n)) {
            return 0;
        }
        for (int i = 0; i < n; i++) {
            if (!code(array[i])) {
                return 0;
            }
        }
        return 1;
    }
    int n = 0;
    if (!code(n)) {
        return 0;
    }
    if (n <= 0) {
        count = n;
        return 1;
    }
    bool allocated = false;
    if (array != nullptr) {
        if (n > count) {
            dprintf(D_NETWORK, "Stream::code_array received %d elements for room of %d\n", n,
                    count);
            return 0;
        }
    } else {
        if (n > max_array_count) {
            dprintf(D_NETWORK, "Stream::code_array refused a count of %d\n", n);
            return 0;
        }
        array = new (std::nothrow) unsigned int[n];
        if (array == nullptr) {
            dprintf(D_NETWORK, "Stream::code_array could not allocate %d elements\n", n);
            return 0;
        }
        allocated = true;
    }
    for (int i = 0; i < n; i++) {
        if (!code(array[i])) {
            if (allocated) {
                delete[] array;
                array = nullptr;
            }
            return 0;
        }
    }
    count = n;
    return 1;
}

// Value types that travel over a Stream besides the basic C++ types: the
// records coded field by field, and the distinct int types whose values are
// translated through the portable code tables on the way.
#ifndef TORVEL_STREAM_STREAM_TYPES_H_
#define TORVEL_STREAM_STREAM_TYPES_H_

// Host numbers that travel as portable numbers. Distinct enum types (with
// every int value valid) so that each selects its own code() overload.
enum open_flags_t : int {};
enum torvel_errno_t : int {};
enum torvel_signal_t : int {};
enum fcntl_cmd_t : int {};
// A file mode of which only the permission bits (0777) travel.
enum torvel_mode_t : unsigned int {};

// Message-digest mode, kept by the stream for its concrete subclass.
enum TORVEL_MD_MODE : int {
    MD_OFF = 0,
    MD_ALWAYS_ON = 1,
};

// Coding direction of a stream.
enum stream_coding : int {
    DECODING = 0,
    ENCODING = 1,
    UNKNOWN_DIRECTION = 2,
};

struct PROC_ID {
    int cluster;
    int proc;
};

struct PORTS {
    int port_first;
    int port_second;
};

// A marker of 0 or more is the short form: the marker is ports.port_first
// and only ports.port_second follows. A negative marker is followed by
// ports, address and server.
struct StartdRec {
    int marker;
    PORTS ports;
    int address;
    char *server;  // decoded into when non-null (must be large enough),
                   // else a new malloc()ed string the caller free()s
};

// What a starter needs to start a job. Strings follow the rule of StartdRec.
struct STARTUP_INFO {
    int version_num;
    int cluster;
    int proc;
    int job_class;
    unsigned int uid;
    unsigned int gid;
    int virt_pid;
    torvel_signal_t soft_kill_sig;
    char *cmd;
    char *args;
    char *env;
    char *iwd;
    int ckpt_wanted;
    int is_restart;
    int coredump_limit_exists;
    int coredump_limit;
};

#endif  // TORVEL_STREAM_STREAM_TYPES_H_

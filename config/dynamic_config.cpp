// Runtime and persistent settings: storing them (set_runtime_config,
// set_persistent_config) and feeding them into every configuration load
// (apply_dynamic_sources). Persistent settings live in one file per
// administrator name beside a top-level file listing the names; each file
// is replaced only by renaming a completely written temporary file, so a
// failed write leaves the previous settings in place.
//
// A change is checked before anything is stored: every persistent source
// and runtime item the next load would read is read, with the change, into
// a copy of the table as the dynamic stage of the last load found it; a
// text that would stop that load (a bad line, a name that expands to no
// identifier or through an unset $ENV) is refused with the reason in the
// log. A failed store leaves the list of names in memory as it was.
// Runtime items are read from memory, never through a file.
//
// Reads and writes ConfigTab and the provenance table during a load, and
// keeps a copy of ConfigTab as the dynamic stage found it; switches to
// PRIV_ROOT for the persistent files and back.
#include "config/dynamic_config.h"

#include <ctype.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <unistd.h>

#include "config/distribution.h"
#include "config/line_reader.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "config/param_provenance.h"
#include "config/read_config.h"
#include "config/subsystem.h"
#include "config/well_known_names.h"
#include "core/ext_array.h"
#include "core/my_string.h"
#include "core/string_list.h"
#include "diagnostics/debug_log.h"
#include "diagnostics/except.h"
#include "files/path_helpers.h"
#include "identity/privileges.h"

namespace {

bool initialized = false;
bool enable_runtime = false;
bool enable_persistent = false;
MyString toplevel_persistent_config;
// Admin names with a persistent file, in the order they were added.
StringList PersistAdminList(nullptr, " ,");
ExtArray<RuntimeConfigItem> rArray(64);
// ConfigTab as the dynamic stage of the last load found it: what the next
// load's dynamic stage will start from, unless the ordinary sources change.
MacroBucket *StartView[CONFIG_TABLE_SIZE] = {};

// A creation that keeps finding the temporary name taken gives up after
// this many removals, so a name that cannot be removed never spins.
constexpr int kMaxCreateAttempts = 100;

char *copy_or_null(const char *s) {
    return s != nullptr ? strdup(s) : nullptr;
}

bool is_empty(const char *s) {
    return s == nullptr || s[0] == '\0';
}

// How a runtime item is named in messages and provenance records.
MyString runtime_source_name(const char *admin) {
    MyString name;
    name.sprintf("<runtime config %s>", admin);
    return name;
}

// Reading failures end the process. Until the debug log is set up its lines
// are only kept in memory and would vanish with the exit, so the text also
// goes to standard error then.
[[noreturn]] void load_failure(const MyString &text) {
    dprintf(D_ALWAYS, "%s", text.Value());
    if (!_torvel_dprintf_works) {
        fputs(text.Value(), stderr);
    }
    exit(1);
}

// Whether a global source is required: not when TORVEL_CONFIG says
// ONLY_ENV, which start-up has just read in the same load.
bool global_source_required() {
    const char *env = getenv(EnvGetName(ENVIRON_CONFIG));
    return env == nullptr || strcasecmp(env, "ONLY_ENV") != 0;
}

void find_toplevel_path() {
    MyString key;
    key.sprintf("%s_CONFIG", mySubSystem);
    char *path = param(key.Value());
    if (path != nullptr) {
        toplevel_persistent_config = path;
        free(path);
        return;
    }
    char *dir = param("PERSISTENT_CONFIG_DIR");
    if (dir != nullptr) {
        toplevel_persistent_config.sprintf("%s%c.config.%s", dir, '/', mySubSystem);
        free(dir);
        return;
    }
    if (strcmp(mySubSystem, "SUBMIT") == 0 || strcmp(mySubSystem, "TOOL") == 0 ||
        !global_source_required()) {
        return;
    }
    fprintf(stderr,
            "%s error: ENABLE_PERSISTENT_CONFIG is TRUE, but neither %s nor "
            "PERSISTENT_CONFIG_DIR is specified in the configuration file\n",
            myDistro->GetCap(), key.Value());
    exit(1);
}

// One persistent source; a failure ends the process with text (which holds
// "%d" for the line and "%s" for the path).
void read_persistent_source(const char *path, const char *text) {
    if (Read_config(path, ConfigTab, CONFIG_TABLE_SIZE, 1, true, extra_info) < 0) {
        MyString message;
        message.sprintf(text, ConfigLineNo, path);
        load_failure(message);
    }
}

// Admin names become a file-name suffix and an entry of a list that is read
// back as configuration, so separators, '/', '$' and control characters
// are refused. Every file is written through its name + ".tmp", so the
// name "tmp" (whose file would be the top-level file's temporary) and names
// ending in ".tmp" (the temporary of the name without it) are refused too;
// in any case, for file systems that ignore it.
bool valid_admin_name(const char *admin) {
    for (const char *p = admin; *p != '\0'; p++) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '/' || c == ',' || c == '$' || isspace(c) || iscntrl(c)) {
            return false;
        }
    }
    size_t length = strlen(admin);
    if (strcasecmp(admin, "tmp") == 0 ||
        (length >= 4 && strcasecmp(admin + length - 4, ".tmp") == 0)) {
        dprintf(D_ALWAYS,
                "set_persistent_config(): admin name %s refused: it can be the name of a "
                "temporary file\n",
                admin);
        return false;
    }
    return true;
}

// Creates path exclusively (mode 0644), removing whatever holds the name
// first. The descriptor, or -1 after the open failure line.
int create_fresh(const char *path) {
    int fd = -1;
    for (int attempt = 0; attempt < kMaxCreateAttempts; attempt++) {
        if (unlink(path) != 0 && errno != ENOENT) {
            break;  // a name that cannot be removed would be found taken again
        }
        fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    }
    if (fd < 0) {
        int error = errno;
        dprintf(D_ALWAYS, "open(%s) returned %d '%s' (errno %d) in set_persistent_config()\n", path,
                fd, strerror(error), error);
    }
    return fd;
}

// Writes all of text to fd; false after a short or failed write.
bool write_all(int fd, const char *text) {
    size_t left = strlen(text);
    while (left > 0) {
        ssize_t n = write(fd, text, left);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text += n;
        left -= static_cast<size_t>(n);
    }
    return true;
}

// Logs a failed step of set_persistent_config: "<what> failed with ...".
void log_failure(const char *what) {
    int error = errno;
    dprintf(D_ALWAYS, "%s failed with '%s' (errno %d) in set_persistent_config()\n", what,
            strerror(error), error);
}

// Makes a rename in the directory of target durable. False after the line.
bool sync_directory_of(const char *target) {
    char *dir = torvel_dirname(target);
    int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool synced = fd >= 0 && fsync(fd) == 0;
    if (!synced) {
        MyString what;
        what.sprintf("fsync(%s)", dir);
        log_failure(what.Value());
    }
    if (fd >= 0) {
        close(fd);
    }
    free(dir);
    return synced;
}

// Writes text to a fresh tmp and puts it on disk. False after the failure
// line (tmp then removed).
bool write_temporary(const char *tmp, const char *text) {
    int fd = create_fresh(tmp);
    if (fd < 0) {
        return false;
    }
    const char *failed = nullptr;
    if (!write_all(fd, text)) {
        failed = "write()";
    } else if (fsync(fd) != 0) {
        failed = "fsync()";
    }
    if (failed != nullptr) {
        log_failure(failed);
        close(fd);
    } else if (close(fd) != 0) {
        failed = "close()";
        log_failure(failed);
    }
    if (failed != nullptr) {
        unlink(tmp);
        return false;
    }
    return true;
}

// How a replacement ended: done; failed with the target untouched; or
// failed after the rename (the directory's fsync), so readers already see
// the new file though it may not survive a crash.
enum Replacement { kReplaced, kUntouched, kNotDurable };

// Replaces target by a new file holding text, through target + ".tmp":
// write, fsync, rename, fsync the directory. Failures log their line.
Replacement replace_file(const char *target, const char *text) {
    MyString tmp;
    tmp.sprintf("%s.tmp", target);
    if (!write_temporary(tmp.Value(), text)) {
        return kUntouched;
    }
    if (rotate_file(tmp.Value(), target) != 0) {
        int error = errno;
        dprintf(D_ALWAYS,
                "rotate_file(%s,%s) failed with '%s' (errno %d) in set_persistent_config()\n",
                tmp.Value(), target, strerror(error), error);
        unlink(tmp.Value());
        return kUntouched;
    }
    return sync_directory_of(target) ? kReplaced : kNotDurable;
}

// The names of list joined by ", ", as the top-level file lists them.
MyString joined_names(StringList &list) {
    MyString text;
    list.rewind();
    const char *name;
    while ((name = list.next()) != nullptr) {
        text.sprintf_cat("%s%s", text.Length() > 0 ? ", " : "", name);
    }
    return text;
}

Replacement rewrite_toplevel() {
    MyString text("RUNTIME_CONFIG_ADMIN = ");
    text += joined_names(PersistAdminList);
    text += "\n";
    return replace_file(toplevel_persistent_config.Value(), text.Value());
}

// Makes to (of CONFIG_TABLE_SIZE heads) a copy of from.
void copy_table(MacroBucket **from, MacroBucket **to) {
    clear_macro_table(to, CONFIG_TABLE_SIZE);
    for (int i = 0; i < CONFIG_TABLE_SIZE; i++) {
        for (MacroBucket *b = from[i]; b != nullptr; b = b->next) {
            insert(b->name, b->value, to, CONFIG_TABLE_SIZE);
        }
    }
}

// A change to check: the setting of admin (persistent or runtime) becomes
// config, or goes when config is empty. A null admin changes nothing.
struct Change {
    bool persistent;
    const char *admin;
    const char *config;
};

bool changes(const Change &change, bool persistent, const char *admin) {
    return change.admin != nullptr && change.persistent == persistent &&
           strcmp(change.admin, admin) == 0;
}

// The persistent names the next load reads, with change.
StringList persistent_names(const Change &change) {
    StringList names(PersistAdminList);
    if (change.admin != nullptr && change.persistent) {
        if (is_empty(change.config)) {
            names.remove(change.admin);
        } else if (!names.contains(change.admin)) {
            names.append(change.admin);
        }
    }
    return names;
}

// The runtime items the next load reads, in its order, with change: a
// removed item's place goes to the last one, a new one comes last.
struct RuntimeText {
    const char *admin;
    const char *config;
};
ExtArray<RuntimeText> runtime_texts(const Change &change) {
    ExtArray<RuntimeText> texts(rArray.getlast() + 2);
    int at = -1;
    for (int i = 0; i <= rArray.getlast(); i++) {
        texts[i] = RuntimeText{rArray[i].admin, rArray[i].config};
        if (changes(change, false, rArray[i].admin)) {
            at = i;
        }
    }
    if (change.admin == nullptr || change.persistent) {
        return texts;
    }
    int last = texts.getlast();
    if (!is_empty(change.config)) {
        texts[at >= 0 ? at : last + 1] = RuntimeText{change.admin, change.config};
    } else if (at >= 0) {
        texts[at] = texts[last];
        texts.truncate(last - 1);
    }
    return texts;
}

// Reads into table, which starts as StartView, what the next load's dynamic
// stage would read, with change. 0, or -1 with *reason and *by_change
// telling whether the failing source is the changed one.
int simulate_next_load(const Change &change, MacroBucket **table, MyString *reason,
                       bool *by_change) {
    copy_table(StartView, table);
    *by_change = false;
    if (enable_persistent) {
        StringList names = persistent_names(change);
        if (!names.isEmpty()) {
            insert("RUNTIME_CONFIG_ADMIN", joined_names(names).Value(), table, CONFIG_TABLE_SIZE);
        }
        names.rewind();
        const char *admin;
        while ((admin = names.next()) != nullptr) {
            MyString path;
            path.sprintf("%s.%s", toplevel_persistent_config.Value(), admin);
            *by_change = changes(change, true, admin);
            int rc = *by_change ? _torvel_check_config_text(path.Value(), change.config, table,
                                                            CONFIG_TABLE_SIZE, reason)
                                : _torvel_check_config_file(path.Value(), table, CONFIG_TABLE_SIZE,
                                                            reason);
            if (rc != 0) {
                return -1;
            }
        }
    }
    if (enable_runtime) {
        ExtArray<RuntimeText> texts = runtime_texts(change);
        for (int i = 0; i <= texts.getlast(); i++) {
            MyString name = runtime_source_name(texts[i].admin);
            *by_change = changes(change, false, texts[i].admin);
            if (_torvel_check_config_text(name.Value(), texts[i].config, table, CONFIG_TABLE_SIZE,
                                          reason) != 0) {
                return -1;
            }
        }
    }
    return 0;
}

// Whether change would stop the next load; if so the reason is logged,
// prefixed by who, and true returned. A failure that the change does not
// cause (the load would stop without it too) does not refuse it.
bool refused(const char *who, const Change &change) {
    MacroBucket *table[CONFIG_TABLE_SIZE] = {};
    MyString reason;
    bool by_change = false;
    int rc = simulate_next_load(change, table, &reason, &by_change);
    clear_macro_table(table, CONFIG_TABLE_SIZE);
    if (rc == 0) {
        return false;
    }
    if (!by_change) {
        MyString ignored;
        Change none{change.persistent, nullptr, nullptr};
        int before = simulate_next_load(none, table, &ignored, &by_change);
        clear_macro_table(table, CONFIG_TABLE_SIZE);
        if (before != 0) {
            return false;
        }
    }
    dprintf(D_ALWAYS, "%s(): the text for %s refused: the next configuration load would stop: %s",
            who, change.admin, reason.Length() > 0 ? reason.Value() : "(no reason given)\n");
    return true;
}

// The file work of set_persistent_config, run as root. The list of names
// in memory always matches the top-level file that readers see: a rewrite
// that fails before its rename puts the list back as it was, so a later
// store of the same name lists it again.
int store_persistent(const char *admin, const char *config) {
    MyString admin_path;
    admin_path.sprintf("%s.%s", toplevel_persistent_config.Value(), admin);
    if (refused("set_persistent_config", Change{true, admin, config})) {
        return -1;
    }
    StringList before(PersistAdminList);
    if (!is_empty(config)) {
        Replacement written = replace_file(admin_path.Value(), config);
        if (written != kReplaced) {
            return -1;
        }
        if (PersistAdminList.contains(admin)) {
            return 0;  // the top-level list already names it
        }
        PersistAdminList.append(admin);
    } else {
        PersistAdminList.remove(admin);
    }
    Replacement listed = rewrite_toplevel();
    if (listed == kUntouched) {
        PersistAdminList = before;
        return -1;
    }
    if (is_empty(config)) {
        unlink(admin_path.Value());
        if (PersistAdminList.isEmpty()) {
            unlink(toplevel_persistent_config.Value());
        }
    }
    return listed == kReplaced ? 0 : -1;
}

int find_runtime_item(const char *admin) {
    for (int i = 0; i <= rArray.getlast(); i++) {
        if (strcmp(rArray[i].admin, admin) == 0) {
            return i;
        }
    }
    return -1;
}

// Removes item i: the last item moves into its place.
void remove_runtime_item(int i) {
    int last = rArray.getlast();
    RuntimeConfigItem &gone = rArray[i];
    free(gone.admin);
    free(gone.config);
    gone.initialize();
    if (i != last) {
        RuntimeConfigItem &moved = rArray[last];
        gone.admin = moved.admin;
        gone.config = moved.config;
        moved.initialize();
    }
    rArray.truncate(last - 1);
}

// Reads one runtime item from memory: a temporary file holding the text
// would outlive a process killed while reading it.
void read_runtime_item(const RuntimeConfigItem &item) {
    MyString name = runtime_source_name(item.admin);
    if (_torvel_read_config_text(name.Value(), item.config, ConfigTab, CONFIG_TABLE_SIZE, 1,
                                 extra_info) < 0) {
        MyString message;
        message.sprintf("Configuration Error Line %d while reading %s, runtime config: %s\n",
                        ConfigLineNo, name.Value(), item.admin);
        load_failure(message);
    }
}

}  // namespace

RuntimeConfigItem::RuntimeConfigItem(const RuntimeConfigItem &other)
    : admin(copy_or_null(other.admin)), config(copy_or_null(other.config)) {}

RuntimeConfigItem &RuntimeConfigItem::operator=(const RuntimeConfigItem &other) {
    if (this != &other) {
        char *new_admin = copy_or_null(other.admin);
        char *new_config = copy_or_null(other.config);
        free(admin);
        free(config);
        admin = new_admin;
        config = new_config;
    }
    return *this;
}

RuntimeConfigItem::~RuntimeConfigItem() {
    free(admin);
    free(config);
}

void setup_dynamic_config() {
    if (initialized) {
        return;
    }
    enable_runtime = param_boolean("ENABLE_RUNTIME_CONFIG", false);
    enable_persistent = param_boolean("ENABLE_PERSISTENT_CONFIG", false);
    initialized = true;
    if (enable_persistent) {
        find_toplevel_path();
    }
}

int read_persistent_sources() {
    int result = 0;
    const char *top = toplevel_persistent_config.Value();
    if (top != nullptr && access_euid(top, R_OK) == 0 && PersistAdminList.isEmpty()) {
        result = 1;
        read_persistent_source(
            top,
            "Configuration Error Line %d while reading top-level persistent config source: %s\n");
        char *admins = param("RUNTIME_CONFIG_ADMIN");
        if (admins != nullptr) {
            PersistAdminList.initializeFromString(admins);
            free(admins);
        }
    }
    PersistAdminList.rewind();
    const char *admin;
    while ((admin = PersistAdminList.next()) != nullptr) {
        result = 1;
        MyString path;
        path.sprintf("%s.%s", toplevel_persistent_config.Value(), admin);
        read_persistent_source(path.Value(),
                               "Configuration Error Line %d while reading persistent config "
                               "source: %s\n");
    }
    return result;
}

int process_dynamic_configs() {
    int result = 0;
    for (int i = 0; i <= rArray.getlast(); i++) {
        result = 1;
        read_runtime_item(rArray[i]);
    }
    return result;
}

int apply_dynamic_sources() {
    setup_dynamic_config();
    if (enable_persistent || enable_runtime) {
        copy_table(ConfigTab, StartView);  // for the checks of later changes
    }
    int persistent = enable_persistent ? read_persistent_sources() : 0;
    int runtime = enable_runtime ? process_dynamic_configs() : 0;
    if (persistent < 0 || runtime < 0) {
        return -1;
    }
    return (persistent != 0 || runtime != 0) ? 1 : 0;
}

int set_runtime_config(char *admin, char *config) {
    if (is_empty(admin) || !enable_runtime ||
        refused("set_runtime_config", Change{false, admin, config})) {
        free(admin);
        free(config);
        return -1;
    }
    int i = find_runtime_item(admin);
    if (!is_empty(config)) {
        if (i >= 0) {
            free(admin);
            free(rArray[i].config);
            rArray[i].config = config;
        } else {
            int slot = rArray.getlast() + 1;
            rArray[slot].admin = admin;  // the slot holds the filler's nulls
            rArray[slot].config = config;
        }
        return 0;
    }
    free(admin);
    free(config);
    if (i >= 0) {
        remove_runtime_item(i);
    }
    return 0;
}

int set_persistent_config(char *admin, char *config) {
    if (is_empty(admin) || !enable_persistent || !valid_admin_name(admin)) {
        free(admin);
        free(config);
        return -1;
    }
    setup_dynamic_config();
    if (toplevel_persistent_config.Length() == 0) {
        free(admin);
        free(config);
        EXCEPT(
            "Impossible: programmer error: toplevel_persistent_config is 0-length, but we "
            "already initialized, enable_persistent is TRUE, and set_persistent_config() has "
            "been called");
    }
    priv_state previous = _set_priv(PRIV_ROOT, __FILE__, __LINE__, 1);
    int result = store_persistent(admin, config);
    _set_priv(previous, __FILE__, __LINE__, 1);
    free(admin);
    free(config);
    return result;
}

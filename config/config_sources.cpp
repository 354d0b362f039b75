// Finding the global and root configuration sources and reading them, the
// local sources and the local directories into ConfigTab. Every failure
// prints to standard error and ends the process with status 1.
#include "config/config_sources.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "config/config_startup.h"
#include "config/distribution.h"
#include "config/line_reader.h"
#include "config/macro_table.h"
#include "config/param.h"
#include "config/param_provenance.h"
#include "config/read_config.h"
#include "config/subsystem.h"
#include "config/trusted_source.h"
#include "config/well_known_names.h"
#include "core/allocation.h"
#include "core/ext_array.h"
#include "core/my_string.h"
#include "core/string_list.h"
#include "core/text_index.h"
#include "diagnostics/except.h"
#include "files/path_helpers.h"
#include "files/stat_info.h"

namespace {

// Entries beyond this many in one local directory are ignored.
constexpr int kMaxDirectoryEntries = 65535;

// Local sources must be readable unless REQUIRE_LOCAL_CONFIG_FILE is false.
int local_sources_required() {
    char *require = param("REQUIRE_LOCAL_CONFIG_FILE");
    int required = 1;
    if (require != nullptr && (require[0] == 'f' || require[0] == 'F')) {
        required = 0;
    }
    free(require);
    return required;
}

// A piped source is one item; anything else is split at blanks and commas.
void fill_source_list(StringList &list, const char *value) {
    list.clearAll();
    if (strchr(value, '|') != nullptr) {
        list.append(value);
    } else {
        list.initializeFromString(value);
    }
}

// A malloc'd copy of the length bytes at text, terminated.
char *copy_text(const char *text, size_t length) {
    char *copy = strndup(text, length);
    if (copy == nullptr) {
        EXCEPT("Out of memory reading local configuration sources");
    }
    return copy;
}

// The sources of a list already read, found in constant time.
class SourceSet {
 public:
    SourceSet() : texts_(0) {}
    ~SourceSet() {
        for (int i = 0; i <= texts_.getlast(); ++i) {
            free(texts_[i]);
        }
    }
    SourceSet(const SourceSet &) = delete;
    SourceSet &operator=(const SourceSet &) = delete;

    void Add(const char *source) {
        uint32_t hash = _torvel_text_hash(source, false);
        if (find_(source, hash) == nullptr) {
            texts_.add(copy_text(source, strlen(source)));
            index_.insert(hash, texts_.getlast());
        }
    }
    bool Contains(const char *source) const {
        return find_(source, _torvel_text_hash(source, false)) != nullptr;
    }

 private:
    const int *find_(const char *source, uint32_t hash) const {
        return index_.find(hash, [&](int i) { return strcmp(texts_[i], source) == 0; });
    }

    ExtArray<char *> texts_;  // malloc'd
    TextIndex<int, -1> index_;
};

// What the value of a list of sources is made of: the list's key (and its
// subsystem form, which param tries first) and every macro its value
// refers to, directly or through other values. While a source is read,
// the provenance table notes whether any of them is assigned; a source
// that assigned none cannot have changed the list, so the list is not
// expanded again after it (expanding a list of n sources after each of
// them costs n times its length). A value whose references cannot be
// listed beforehand ($ENV, $RANDOM_CHOICE, a "$" that does not open a
// plain "$(NAME)", which could combine with the text around it) makes
// every source count as a possible change, as does a missing table.
class ListWatch {
 public:
    ~ListWatch() { release_(); }

    void Arm(const char *param_name) {
        release_();
        known_ = extra_info != nullptr;
        if (!known_) {
            return;
        }
        MyString specific;
        specific.sprintf("%s.%s", mySubSystem, param_name);
        known_ = follow_(specific.Value()) && follow_(param_name);
        if (!known_) {
            release_();
        }
    }

    bool MayHaveChanged() { return !known_ || extra_info->TakeWatchedChange(); }

 private:
    void release_() {
        if (extra_info != nullptr) {
            extra_info->ClearWatch();
        }
    }

    // Watches name and what its value refers to, without recursion (a
    // chain of references may be long). False when a value holds a "$"
    // that is not a plain reference.
    bool follow_(const char *name) {
        ExtArray<char *> pending(0);
        pending.add(copy_text(name, strlen(name)));
        bool plain = true;
        while (plain && pending.getlast() >= 0) {
            int last = pending.getlast();
            char *next = pending[last];
            pending.truncate(last - 1);
            if (extra_info->WatchName(next, strlen(next))) {
                plain = add_references_(lookup_macro(next, ConfigTab, CONFIG_TABLE_SIZE), pending);
            }
            free(next);
        }
        for (int i = 0; i <= pending.getlast(); ++i) {
            free(pending[i]);
        }
        return plain;
    }

    // Adds the names value refers to; false for a "$" that does not begin
    // "$(NAME)" with NAME made of name characters.
    static bool add_references_(const char *value, ExtArray<char *> &pending) {
        for (const char *p = value != nullptr ? strchr(value, '$') : nullptr; p != nullptr;
             p = strchr(p, '$')) {
            if (p[1] != '(') {
                return false;
            }
            const char *name = p + 2;
            const char *end = name;
            while (_torvel_is_name_char(*end)) {
                ++end;
            }
            if (end == name || *end != ')') {
                return false;
            }
            pending.add(copy_text(name, static_cast<size_t>(end - name)));
            p = end + 1;
        }
        return true;
    }

    bool known_ = false;
};

int compare_paths(const void *a, const void *b) {
    return strcmp(*static_cast<char * const *>(a), *static_cast<char * const *>(b));
}

// process_config_source; with always_file the source is a file even when
// its name holds "|".
void read_source(const char *source, const char *description, const char *host, int required,
                 bool always_file) {
    bool piped = !always_file && is_piped_command(source);
    if (!piped && access_euid(source, R_OK) != 0) {
        if (!required || host != nullptr) {
            return;
        }
        fprintf(stderr, "ERROR: Can't read %s %s\n", description, source);
        exit(1);
    }
    int rc = always_file ? _torvel_read_config_file(source, ConfigTab, CONFIG_TABLE_SIZE, 1, false,
                                                    extra_info)
                         : Read_config(source, ConfigTab, CONFIG_TABLE_SIZE, 1, false, extra_info);
    if (rc < 0) {
        fprintf(stderr, "Configuration Error Line %d while reading %s %s\n", ConfigLineNo,
                description, source);
        exit(1);
    }
}

// Full paths of the entries of the open directory dir_fd that are not
// directories (links count as their targets), at most kMaxDirectoryEntries.
// The descriptor is consumed.
void list_directory_files(int dir_fd, const char *dir, StringList &files) {
    DIR *listing = fdopendir(dir_fd);
    if (listing == nullptr) {
        close(dir_fd);
        return;
    }
    struct dirent *entry;
    while ((entry = readdir(listing)) != nullptr && files.number() < kMaxDirectoryEntries) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) {
            continue;
        }
        struct stat info;
        if (fstatat(dirfd(listing), entry->d_name, &info, 0) == 0 && S_ISDIR(info.st_mode)) {
            continue;
        }
        char *path = dircat(dir, entry->d_name);
        files.append(path);
        delete[] path;
    }
    closedir(listing);
}

// Reads every non-directory entry of dir in byte order of the full paths.
// Entries are always files: a name ending in "|" is never run. While root
// the directory itself must pass the trust check, or start-up ends.
void process_one_directory(const char *dir, const char *host, int required) {
    int dir_fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) {
        return;
    }
    struct stat info;
    MyString reason;
    if (fstat(dir_fd, &info) != 0 || !_torvel_trusted_status(info, &reason)) {
        fprintf(stderr, "Configuration Error Directory <%s>: not read while running as root: %s\n",
                dir, reason.Value());
        close(dir_fd);
        exit(1);
    }
    StringList files(nullptr, " ,");
    list_directory_files(dir_fd, dir, files);
    int count = files.number();
    if (count == 0) {
        return;
    }
    char **paths = new (torvel::or_die) char *[count];
    files.rewind();
    for (int i = 0; i < count; i++) {
        paths[i] = files.next();
    }
    qsort(paths, count, sizeof paths[0], compare_paths);
    for (int i = 0; i < count; i++) {
        read_source(paths[i], "config source", host, required, /*always_file=*/true);
        local_config_sources.append(paths[i]);
    }
    delete[] paths;
}

// A candidate location is accepted when it can be opened for reading. The
// trial open does not wait on a FIFO: reading it refuses it afterwards.
bool readable_candidate(const char *path) {
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
}

// The value of a source-naming environment variable, checked; ends the
// process when it names nothing usable.
char *checked_environment_source(const char *env_name, const char *value) {
    StatInfo info(value);
    switch (info.Error()) {
        case STAT_NO_FILE:
            if (is_valid_command(value)) {
                return strdup(value);
            }
            fprintf(stderr, "File specified in %s environment variable:\n\"%s\" does not exist.\n",
                    env_name, value);
            exit(1);
        case STAT_FAILED:
            fprintf(stderr,
                    "Cannot stat file specified in %s environment variable:\n\"%s\", errno: %d\n",
                    env_name, value, info.Errno());
            exit(1);
        case STAT_OK:
            break;
    }
    if (info.IsDirectory()) {
        fprintf(stderr,
                "File specified in %s environment variable:\n\"%s\" is a directory.  "
                "Please specify a file.\n",
                env_name, value);
        exit(1);
    }
    return strdup(value);
}

}  // namespace

void process_config_source(const char *source, const char *description, const char *host,
                           int required) {
    read_source(source, description, host, required, /*always_file=*/false);
}

void process_locals(const char *param_name, const char *host) {
    int required = local_sources_required();
    char *current = param(param_name);
    if (current == nullptr) {
        return;
    }
    ListWatch watch;
    watch.Arm(param_name);
    StringList todo(nullptr, " ,");
    SourceSet done;
    fill_source_list(todo, current);
    todo.rewind();
    const char *source;
    while ((source = todo.next()) != nullptr) {
        // A list ending in a blank or comma yields an empty item: no source.
        if (source[0] == '\0') {
            continue;
        }
        process_config_source(source, "config source", host, required);
        local_config_sources.append(source);
        done.Add(source);

        // A source just read may have redefined the list: follow the new
        // one, less what was read already.
        if (!watch.MayHaveChanged()) {
            continue;
        }
        char *now = param(param_name);
        if (now == nullptr || strcmp(now, current) == 0) {
            free(now);
            continue;
        }
        fill_source_list(todo, now);
        todo.rewind();
        for (const char *item = todo.next(); item != nullptr; item = todo.next()) {
            if (done.Contains(item)) {
                todo.deleteCurrent();
            }
        }
        todo.rewind();
        free(current);
        current = now;
        watch.Arm(param_name);
    }
    free(current);
}

void process_directory(const char *dir_list, const char *host) {
    int required = local_sources_required();
    StringList dirs(dir_list, " ,");
    dirs.rewind();
    const char *dir;
    while ((dir = dirs.next()) != nullptr) {
        if (dir[0] != '\0') {
            process_one_directory(dir, host, required);
        }
    }
}

char *find_global() {
    MyString file_name;
    file_name.sprintf("%s_config", myDistro->Get());
    return find_file(EnvGetName(ENVIRON_CONFIG), file_name.Value());
}

char *find_global_root() {
    MyString file_name;
    file_name.sprintf("%s_config.root", myDistro->Get());
    return find_file(EnvGetName(ENVIRON_CONFIG_ROOT), file_name.Value());
}

char *find_file(const char *env_name, const char *file_name) {
    const char *value = env_name != nullptr ? getenv(env_name) : nullptr;
    if (value != nullptr) {
        return checked_environment_source(env_name, value);
    }

    MyString candidate;
    candidate.sprintf("/etc/%s/%s", myDistro->Get(), file_name);
    if (readable_candidate(candidate.Value())) {
        return strdup(candidate.Value());
    }
    const char *home = _torvel_known_tilde();
    if (home != nullptr) {
        candidate.sprintf("%s/%s", home, file_name);
        if (readable_candidate(candidate.Value())) {
            return strdup(candidate.Value());
        }
    }
    const char *globus = getenv("GLOBUS_LOCATION");
    if (globus != nullptr) {
        candidate.sprintf("%s/etc/%s", globus, file_name);
        if (readable_candidate(candidate.Value())) {
            return strdup(candidate.Value());
        }
    }
    return nullptr;
}

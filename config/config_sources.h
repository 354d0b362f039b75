// Finding and reading the configuration sources that start-up layers into
// ConfigTab: the global and root sources, the local sources named by a key,
// and every file of the local directories. Failures print to standard error
// and end the process with status 1.
#ifndef TORVEL_CONFIG_CONFIG_SOURCES_H_
#define TORVEL_CONFIG_CONFIG_SOURCES_H_

// Reads one source (a path, or a command ending in "|") into ConfigTab.
// An unreadable non-piped source is skipped silently when required is 0 or
// a host was given; otherwise it ends the process, as does a syntax error
// or, while root, a file that fails the trust check
// (config/trusted_source.h). Commands are therefore only ever named by
// sources that passed it.
void process_config_source(const char *source, const char *description, const char *host,
                           int required);

// Reads every source listed by the key param_name, in order. When a source
// just read redefines the key, the new list (less the sources already read)
// is followed instead. Each source read is added to local_config_sources.
void process_locals(const char *param_name, const char *host);

// Reads every file (not sub-directory) of each directory listed in dir_list
// (blanks and commas), in byte order of the full paths. A directory that
// cannot be read contributes nothing. Entries are always read as files,
// never run as commands, whatever their names hold. While root, a
// directory that fails the trust check (config/trusted_source.h) ends the
// process like an unreadable required source.
void process_directory(const char *dir_list, const char *host);

// The global source ("torvel_config") and root source ("torvel_config.root"),
// or null when none exists. Caller free()s.
char *find_global();
char *find_global_root();
// The value of the environment variable env_name when set (it must exist
// and not be a directory, unless it is a command ending in "|"; otherwise
// the process ends), else the first readable of /etc/torvel/<file_name>,
// <tilde>/<file_name> and $GLOBUS_LOCATION/etc/<file_name>, else null.
// Caller free()s.
char *find_file(const char *env_name, const char *file_name);

#endif  // TORVEL_CONFIG_CONFIG_SOURCES_H_

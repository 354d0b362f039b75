// Parameter provenance: for each configuration name, where its current value
// came from (a file and line, the environment, or the system itself). The
// table keeps one record per lower-cased name behind an index that grows
// with it, so recording and finding a name cost the same with a hundred
// names as with a million; a new record for a name replaces the old one.
// A file name is stored once for each run of records naming it (once per
// source read), not once per record.
// The process has one table, extra_info, created and replaced by
// configuration start-up (null until then).
#ifndef TORVEL_CONFIG_PARAM_PROVENANCE_H_
#define TORVEL_CONFIG_PARAM_PROVENANCE_H_

#include <stddef.h>
#include <stdint.h>

#include "core/ext_array.h"
#include "core/my_string.h"
#include "core/text_index.h"

class ExtraParamInfo {
 public:
    enum ParamSource {
        SourceNone = 0,
        SourceFile = 1,
        SourceEnvironment = 2,
        SourceInternal = 3,
    };

    // SourceNone, no file, line -1.
    ExtraParamInfo();
    ~ExtraParamInfo();
    ExtraParamInfo(const ExtraParamInfo &) = delete;
    ExtraParamInfo &operator=(const ExtraParamInfo &) = delete;

    // SourceFile with a copy of file and line; a null file changes nothing.
    void SetInfo(const char *file, int line);
    // source, no file, line -1.
    void SetInfo(ParamSource source);
    // file is borrowed from the record (null unless SourceFile).
    void GetInfo(ParamSource &source, const char *&file, int &line) const;

 private:
    ParamSource source_;
    char *file_;  // new[]'d copy (strnewp)
    int line_;
};

class ExtraParamTable {
 public:
    ExtraParamTable();
    // Frees every record and file name.
    ~ExtraParamTable();
    ExtraParamTable(const ExtraParamTable &) = delete;
    ExtraParamTable &operator=(const ExtraParamTable &) = delete;

    // Each lower-cases name and replaces any earlier record of it.
    // A null name is ignored.
    void AddFileParam(const char *name, const char *file, int line);
    void AddInternalParam(const char *name);
    void AddEnvironmentParam(const char *name);

    // See param_get_location (config/param.h) for the results.
    bool GetParam(const char *name, MyString &file, int &line) const;

    // Removes the record of name (already lower case), if any.
    void ClearOldParam(MyString &name);

    // Library-internal: noticing that a name was assigned. Once a name is
    // watched (any case), the next record made for it sets a flag that
    // TakeWatchedChange reports and clears. WatchName is false when the
    // name was watched already; ClearWatch forgets every name and the flag.
    // Start-up uses this to learn whether a source it read may have
    // changed a list of sources.
    bool WatchName(const char *name, size_t length);
    bool TakeWatchedChange();
    void ClearWatch();

 private:
    // One name's record in pool_, followed by the name, lower case and
    // terminated. Records and names sit together, in the order the names
    // were first recorded, so finding a name touches one index slot and
    // one record.
    struct Record {
        int line;
        int file;  // position in files_, or -1
        ExtraParamInfo::ParamSource source;
    };

    Record *record_(int offset) const { return reinterpret_cast<Record *>(pool_ + offset); }
    static const char *name_of_(const Record *record) {
        return reinterpret_cast<const char *>(record + 1);
    }
    // The offset of name's record (name in any case), or -1.
    int find_(const char *name, uint32_t hash) const;
    // A new record for name (lower-cased into it), indexed under hash.
    int append_(const char *name, uint32_t hash);
    // The position in files_ of a file name equal to file.
    int keep_file_(const char *file);
    void add_(const char *name, ExtraParamInfo::ParamSource source, const char *file, int line);

    char *pool_;  // malloc: the records, pool_used_ of pool_capacity_ bytes
    size_t pool_used_;
    size_t pool_capacity_;
    TextIndex<int, -1> index_;  // name hash (ASCII case folded) -> record offset
    ExtArray<char *> files_;    // malloc'd file names

    TextIndex<int, -1> watch_index_;  // name hash -> position in watched_
    ExtArray<char *> watched_;        // malloc'd, lower case
    bool watched_changed_;
};

// The process's provenance table; null before configuration start-up.
// Start-up owns it (creates, deletes and replaces it).
extern ExtraParamTable *extra_info;

#endif  // TORVEL_CONFIG_PARAM_PROVENANCE_H_

// Parameter provenance: for each configuration name, where its current value
// came from (a file and line, the environment, or the system itself). The
// table maps lower-cased names to owned records in a HashTable of 307
// buckets; a new record for a name replaces (and deletes) the old one.
// The process has one table, extra_info, created and replaced by
// configuration start-up (null until then).
#ifndef TORVEL_CONFIG_PARAM_PROVENANCE_H_
#define TORVEL_CONFIG_PARAM_PROVENANCE_H_

#include "core/hash_table.h"
#include "core/my_string.h"

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
    // Requested size 300 (307 buckets).
    ExtraParamTable();
    // Deletes every record, then the hash table.
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

    // Removes and deletes the record of name (already lower case), if any.
    void ClearOldParam(MyString &name);

 private:
    void add_(const char *name, ExtraParamInfo *info);
    HashTable<MyString, ExtraParamInfo *> *table_;
};

// The process's provenance table; null before configuration start-up.
// Start-up owns it (creates, deletes and replaces it).
extern ExtraParamTable *extra_info;

#endif  // TORVEL_CONFIG_PARAM_PROVENANCE_H_

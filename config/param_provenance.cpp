// Provenance records and their table, keyed by lower-cased parameter name.
#include "config/param_provenance.h"

#include "core/allocation.h"
#include "core/strnewp.h"

ExtraParamTable *extra_info = nullptr;

ExtraParamInfo::ExtraParamInfo() : source_(SourceNone), file_(nullptr), line_(-1) {}

ExtraParamInfo::~ExtraParamInfo() {
    delete[] file_;
}

void ExtraParamInfo::SetInfo(const char *file, int line) {
    if (file == nullptr) {
        return;
    }
    char *copy = strnewp(file);
    delete[] file_;
    file_ = copy;
    line_ = line;
    source_ = SourceFile;
}

void ExtraParamInfo::SetInfo(ParamSource source) {
    delete[] file_;
    file_ = nullptr;
    line_ = -1;
    source_ = source;
}

void ExtraParamInfo::GetInfo(ParamSource &source, const char *&file, int &line) const {
    source = source_;
    file = file_;
    line = line_;
}

ExtraParamTable::ExtraParamTable()
    : table_(new (torvel::or_die) HashTable<MyString, ExtraParamInfo *>(
          300, MyStringHash, DUPLICATES_REPLACE_VALUE)) {}

ExtraParamTable::~ExtraParamTable() {
    ExtraParamInfo *info = nullptr;
    table_->startIterations();
    while (table_->iterate(info) == 1) {
        delete info;
    }
    delete table_;
}

void ExtraParamTable::ClearOldParam(MyString &name) {
    ExtraParamInfo *info = nullptr;
    if (table_->lookup(name, info) == 0) {
        table_->remove(name);
        delete info;
    }
}

void ExtraParamTable::add_(const char *name, ExtraParamInfo *info) {
    MyString key(name);
    key.lower_case();
    ClearOldParam(key);
    if (table_->insert(key, info) != 0) {
        delete info;  // only a failed allocation gets here
    }
}

void ExtraParamTable::AddFileParam(const char *name, const char *file, int line) {
    if (name == nullptr) {
        return;
    }
    ExtraParamInfo *info = new (torvel::or_die) ExtraParamInfo;
    info->SetInfo(file, line);
    add_(name, info);
}

void ExtraParamTable::AddInternalParam(const char *name) {
    if (name == nullptr) {
        return;
    }
    ExtraParamInfo *info = new (torvel::or_die) ExtraParamInfo;
    info->SetInfo(ExtraParamInfo::SourceInternal);
    add_(name, info);
}

void ExtraParamTable::AddEnvironmentParam(const char *name) {
    if (name == nullptr) {
        return;
    }
    ExtraParamInfo *info = new (torvel::or_die) ExtraParamInfo;
    info->SetInfo(ExtraParamInfo::SourceEnvironment);
    add_(name, info);
}

bool ExtraParamTable::GetParam(const char *name, MyString &file, int &line) const {
    ExtraParamInfo *info = nullptr;
    MyString key(name);
    key.lower_case();
    if (name == nullptr || table_->lookup(key, info) != 0) {
        file = "<Undefined>";
        line = -1;
        return false;
    }
    ExtraParamInfo::ParamSource source = ExtraParamInfo::SourceNone;
    const char *recorded_file = nullptr;
    int recorded_line = -1;
    info->GetInfo(source, recorded_file, recorded_line);
    if (source == ExtraParamInfo::SourceInternal) {
        file = "<Internal>";
        line = -1;
    } else if (source == ExtraParamInfo::SourceEnvironment) {
        file = "<Environment>";
        line = -1;
    } else {
        file = recorded_file;
        line = recorded_line;
    }
    return true;
}

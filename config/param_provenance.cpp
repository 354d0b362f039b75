// Provenance records and their table, keyed by lower-cased parameter name.
#include "config/param_provenance.h"

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include "core/allocation.h"
#include "core/case_convert.h"
#include "core/strnewp.h"
#include "diagnostics/except.h"

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

namespace {

// Whether text equals lower (a stored, lower-case name) when its ASCII
// letters are lowered.
bool same_name(const char *lower, const char *text) {
    for (;; ++lower, ++text) {
        char c = *text;
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + ('a' - 'A'));
        }
        if (c != *lower) {
            return false;
        }
        if (c == '\0') {
            return true;
        }
    }
}

[[noreturn]] void out_of_memory() {
    EXCEPT("Out of memory recording where configuration names come from");
}

}  // namespace

ExtraParamTable::ExtraParamTable()
    : pool_(nullptr),
      pool_used_(0),
      pool_capacity_(0),
      files_(0),
      watched_(0),
      watched_changed_(false) {}

ExtraParamTable::~ExtraParamTable() {
    free(pool_);
    for (int i = 0; i <= files_.getlast(); ++i) {
        free(files_[i]);
    }
    ClearWatch();
}

int ExtraParamTable::find_(const char *name, uint32_t hash) const {
    const int *found =
        index_.find(hash, [&](int offset) { return same_name(name_of_(record_(offset)), name); });
    return found != nullptr ? *found : -1;
}

int ExtraParamTable::append_(const char *name, uint32_t hash) {
    size_t length = strlen(name);
    size_t bytes =
        (sizeof(Record) + length + 1 + alignof(Record) - 1) / alignof(Record) * alignof(Record);
    if (pool_used_ + bytes > pool_capacity_) {
        size_t capacity = pool_capacity_ == 0 ? 4096 : pool_capacity_ * 2;
        while (capacity < pool_used_ + bytes) {
            capacity *= 2;
        }
        // Offsets are ints.
        char *grown = capacity <= static_cast<size_t>(INT_MAX)
                          ? static_cast<char *>(realloc(pool_, capacity))
                          : nullptr;
        if (grown == nullptr) {
            out_of_memory();
        }
        pool_ = grown;
        pool_capacity_ = capacity;
    }
    int offset = static_cast<int>(pool_used_);
    pool_used_ += bytes;
    Record *record = record_(offset);
    *record = Record{-1, -1, ExtraParamInfo::SourceNone};
    char *lower = reinterpret_cast<char *>(record + 1);
    memcpy(lower, name, length + 1);
    strlwr(lower);
    index_.insert(hash, offset);
    return offset;
}

int ExtraParamTable::keep_file_(const char *file) {
    // Sources are read one after another, so the file of the previous
    // record is nearly always the one asked for.
    int last = files_.getlast();
    if (last >= 0 && strcmp(files_[last], file) == 0) {
        return last;
    }
    char *copy = strdup(file);
    if (copy == nullptr) {
        out_of_memory();
    }
    files_.add(copy);
    return last + 1;
}

void ExtraParamTable::add_(const char *name, ExtraParamInfo::ParamSource source, const char *file,
                           int line) {
    uint32_t hash = _torvel_text_hash(name, true);
    int offset = find_(name, hash);
    if (offset < 0) {
        offset = append_(name, hash);
    }
    if (watch_index_.size() > 0 &&
        watch_index_.find(hash, [&](int i) { return same_name(watched_[i], name); }) != nullptr) {
        watched_changed_ = true;
    }
    int file_position = file != nullptr ? keep_file_(file) : -1;
    Record *record = record_(offset);  // after append_, which may move the pool
    record->source = source;
    record->file = file_position;
    record->line = file != nullptr ? line : -1;
}

void ExtraParamTable::ClearOldParam(MyString &name) {
    const char *text = name.Value();
    uint32_t hash = _torvel_text_hash(text, true);
    int offset = find_(text, hash);
    if (offset >= 0) {
        // The record's bytes stay in the pool until the table goes.
        index_.erase(hash, [&](int found) { return found == offset; });
    }
}

bool ExtraParamTable::WatchName(const char *name, size_t length) {
    char *lower = strndup(name, length);
    if (lower == nullptr) {
        out_of_memory();
    }
    strlwr(lower);
    uint32_t hash = _torvel_text_hash(lower, false);
    if (watch_index_.find(hash, [&](int i) { return strcmp(watched_[i], lower) == 0; }) !=
        nullptr) {
        free(lower);
        return false;
    }
    watched_.add(lower);
    watch_index_.insert(hash, watched_.getlast());
    return true;
}

bool ExtraParamTable::TakeWatchedChange() {
    bool changed = watched_changed_;
    watched_changed_ = false;
    return changed;
}

void ExtraParamTable::ClearWatch() {
    for (int i = 0; i <= watched_.getlast(); ++i) {
        free(watched_[i]);
    }
    watched_.truncate(-1);
    watch_index_.clear();
    watched_changed_ = false;
}

void ExtraParamTable::AddFileParam(const char *name, const char *file, int line) {
    if (name == nullptr) {
        return;
    }
    // A record made with a null file stays a fresh one (ExtraParamInfo's
    // SetInfo ignores a null file).
    add_(name, file != nullptr ? ExtraParamInfo::SourceFile : ExtraParamInfo::SourceNone, file,
         line);
}

void ExtraParamTable::AddInternalParam(const char *name) {
    if (name != nullptr) {
        add_(name, ExtraParamInfo::SourceInternal, nullptr, -1);
    }
}

void ExtraParamTable::AddEnvironmentParam(const char *name) {
    if (name != nullptr) {
        add_(name, ExtraParamInfo::SourceEnvironment, nullptr, -1);
    }
}

bool ExtraParamTable::GetParam(const char *name, MyString &file, int &line) const {
    int offset = name != nullptr ? find_(name, _torvel_text_hash(name, true)) : -1;
    if (offset < 0) {
        file = "<Undefined>";
        line = -1;
        return false;
    }
    const Record *r = record_(offset);
    if (r->source == ExtraParamInfo::SourceInternal) {
        file = "<Internal>";
        line = -1;
    } else if (r->source == ExtraParamInfo::SourceEnvironment) {
        file = "<Environment>";
        line = -1;
    } else {
        file = r->file >= 0 ? files_[r->file] : nullptr;
        line = r->line;
    }
    return true;
}

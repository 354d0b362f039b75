#include "classad/ad_file_reader.h"

#include <errno.h>
#include <string.h>

#include <utility>

#include "classad/attr_list.h"
#include "classad/class_ad.h"

namespace {

// Bytes asked of the read function at a time.
constexpr size_t kChunk = 64 * 1024;

const char *skip_blanks(const char *s) {
    while (*s == ' ' || *s == '\t') {
        ++s;
    }
    return s;
}

}  // namespace

AdFileReader::AdFileReader(ReadFunction read) : read_(std::move(read)) {}

AdFileReader::AdFileReader(FILE *file)
    : read_([file](char *buffer, size_t size) -> ssize_t {
          size_t got = fread(buffer, 1, size, file);
          if (got == 0 && ferror(file)) {
              if (errno == 0) {
                  errno = EIO;
              }
              return -1;
          }
          return static_cast<ssize_t>(got);
      }) {}

bool AdFileReader::NextLine() {
    for (;;) {
        const char *data = buffer_.data() + start_;
        size_t left = buffer_.size() - start_;
        const char *newline = static_cast<const char *>(memchr(data, '\n', left));
        if (newline != nullptr || (at_end_ && left > 0)) {
            size_t length = newline != nullptr ? static_cast<size_t>(newline - data) : left;
            start_ += newline != nullptr ? length + 1 : length;
            if (length > 0 && data[length - 1] == '\r') {
                --length;
            }
            line_.assign(data, length);
            ++line_number_;
            return true;
        }
        if (at_end_) {
            status_ = kEnd;
            return false;
        }
        buffer_.erase(0, start_);
        start_ = 0;
        size_t had = buffer_.size();
        buffer_.resize(had + kChunk);
        ssize_t got;
        do {
            got = read_(&buffer_[had], kChunk);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            errno_ = errno;
            buffer_.resize(had);
            status_ = kReadError;
            return false;
        }
        buffer_.resize(had + static_cast<size_t>(got));
        at_end_ = got == 0;
    }
}

AdFileReader::Status AdFileReader::ReadBlock(AttrList &ad, bool whole_file) {
    if (status_ == kBadLine || status_ == kReadError || status_ == kEnd) {
        return status_ == kEnd && whole_file ? kAd : status_;
    }
    ad.StartRead();
    Status status = readLines_(ad, whole_file);
    ad.EndRead();
    return status;
}

AdFileReader::Status AdFileReader::readLines_(AttrList &ad, bool whole_file) {
    bool started = false;
    while (NextLine()) {
        const char *text = skip_blanks(line_.c_str());
        if (*text == '#') {
            continue;
        }
        if (*text == '\0') {
            if (started && !whole_file) {
                return kAd;
            }
            continue;
        }
        started = true;
        // A NUL would cut the text short and let a truncated line pass.
        bool has_nul = line_.find('\0') != std::string::npos;
        if (has_nul || !ad.Insert(text, true)) {
            bad_line_.assign(text, line_.size() - static_cast<size_t>(text - line_.c_str()));
            status_ = kBadLine;
            return status_;
        }
    }
    if (status_ == kReadError) {
        return status_;
    }
    return started || whole_file ? kAd : kEnd;
}

AdFileReader::Status AdFileReader::Next(AttrList &ad) {
    return ReadBlock(ad, false);
}

AdFileReader::Status AdFileReader::NextClassAd(ClassAd &ad) {
    Status status = ReadBlock(ad, false);
    if (status == kAd) {
        ad.TakeTypesFromAttributes();
    }
    return status;
}

AdFileReader::Status AdFileReader::ReadAll(AttrList &ad) {
    return ReadBlock(ad, true);
}

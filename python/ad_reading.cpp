// torvel.read_ads and ClassAd(file): ads read from a path or a Python file
// object by the library's ad-file reader, one ad per block of lines.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>
#include <utility>

#include "classad/ad_file_reader.h"
#include "classad/class_ad.h"
#include "core/line_excerpt.h"
#include "python/bindings.h"

namespace py = pybind11;

namespace {

// The reader's read function over a Python file object, text or binary:
// text is taken as UTF-8. A Python error met while reading is kept here
// (the reader sees a read error) and raised once the reader returns.
class FileObjectSource {
 public:
    explicit FileObjectSource(py::object file) : read_(file.attr("read")) {}

    ssize_t operator()(char *buffer, size_t size) {
        try {
            if (pending_.empty()) {
                fill(size);
            }
        } catch (py::error_already_set &e) {
            error_ = std::make_shared<py::error_already_set>(std::move(e));
            errno = EIO;
            return -1;
        }
        size_t count = std::min(size, pending_.size());
        memcpy(buffer, pending_.data(), count);
        pending_.erase(0, count);
        return static_cast<ssize_t>(count);
    }

    // Raises the Python error met while reading, if any.
    void raise_kept_error() {
        if (error_) {
            std::shared_ptr<py::error_already_set> error = std::move(error_);
            throw std::move(*error);
        }
    }

 private:
    void fill(size_t size) {
        py::object chunk = read_(size);
        if (py::isinstance<py::str>(chunk)) {
            pending_ = chunk.cast<std::string>();
        } else if (py::isinstance<py::bytes>(chunk)) {
            pending_ = chunk.cast<std::string>();
        } else {
            throw py::type_error("read() gave neither str nor bytes");
        }
    }

    py::object read_;
    std::string pending_;
    std::shared_ptr<py::error_already_set> error_;
};

// The name of a file object's file for messages.
std::string name_of(py::handle file) {
    py::object name = py::getattr(file, "name", py::none());
    return py::isinstance<py::str>(name) ? name.cast<std::string>() : "<file>";
}

// Raises what a failed read gives: ParseError naming the file and line, or
// OSError with the reader's errno.
[[noreturn]] void raise_failure(AdFileReader &reader, AdFileReader::Status status,
                                const std::string &file) {
    if (status == AdFileReader::kBadLine) {
        const std::string &line = reader.BadLine();
        MyString excerpt = line_excerpt(line.data(), line.size());
        throw ParseFailure{file + ":" + std::to_string(reader.Line()) +
                               ": not an attribute assignment: " + excerpt.Value(),
                           0, reader.Line()};
    }
    errno = reader.Errno();
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, file.c_str());
    throw py::error_already_set();
}

// The lazy iterator read_ads answers: one ClassAd per block, read on
// demand. A path is opened here and closed at the end or when dropped; a
// file object stays the caller's.
class AdStream {
 public:
    AdStream(FILE *file, std::string name) : file_(file), name_(std::move(name)), reader_(file) {}
    AdStream(py::object file, std::string name)
        : source_(std::make_shared<FileObjectSource>(std::move(file))),
          name_(std::move(name)),
          reader_(
              [source = source_](char *buffer, size_t size) { return (*source)(buffer, size); }) {}
    AdStream(const AdStream &) = delete;
    AdStream &operator=(const AdStream &) = delete;
    ~AdStream() { close(); }

    // The next ad; after the end or a failure, as a generator, only
    // StopIteration.
    std::unique_ptr<ClassAd> next() {
        if (done_) {
            throw py::stop_iteration();
        }
        auto ad = std::make_unique<ClassAd>();
        AdFileReader::Status status = reader_.NextClassAd(*ad);
        if (status == AdFileReader::kAd) {
            return ad;
        }
        close();
        done_ = true;
        if (source_) {
            source_->raise_kept_error();
        }
        if (status == AdFileReader::kEnd) {
            throw py::stop_iteration();
        }
        raise_failure(reader_, status, name_);
    }

 private:
    void close() {
        if (file_ != nullptr) {
            fclose(file_);
            file_ = nullptr;
        }
    }

    FILE *file_ = nullptr;
    bool done_ = false;
    std::shared_ptr<FileObjectSource> source_;
    std::string name_;
    AdFileReader reader_;
};

std::unique_ptr<AdStream> open_stream(py::object source) {
    if (py::hasattr(source, "read")) {
        return std::make_unique<AdStream>(source, name_of(source));
    }
    py::object os = py::module_::import("os");
    std::string path = os.attr("fsdecode")(source).cast<std::string>();
    std::string encoded = os.attr("fsencode")(source).cast<std::string>();
    FILE *file = fopen(c_text(encoded), "rb");
    if (file == nullptr) {
        PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
        throw py::error_already_set();
    }
    return std::make_unique<AdStream>(file, path);
}

}  // namespace

std::unique_ptr<ClassAd> ad_from_file(py::handle file) {
    std::string name = name_of(file);
    FileObjectSource source(py::reinterpret_borrow<py::object>(file));
    AdFileReader reader([&source](char *buffer, size_t size) { return source(buffer, size); });
    auto ad = std::make_unique<ClassAd>();
    AdFileReader::Status status = reader.ReadAll(*ad);
    source.raise_kept_error();
    if (status != AdFileReader::kAd) {
        raise_failure(reader, status, name);
    }
    ad->TakeTypesFromAttributes();
    return ad;
}

void bind_ad_reading(py::module_ &m) {
    py::class_<AdStream>(m, "AdReader",
                         "The ads of a file, one per block of lines, read as iterated.",
                         plain_class())
        .def(
            "__iter__", [](py::object self) { return self; }, "Itself.")
        .def("__next__", &AdStream::next,
             "The next ad; torvel.ParseError naming the file and line of a bad line.");
    m.def("read_ads", &open_stream, py::arg("source"),
          "The ads of a file, given by path or as a (text or binary) file object: one ad per "
          "block of 'Name = expression' lines, blocks separated by blank lines, read lazily. "
          "A bad line raises torvel.ParseError naming the file and line.");
}

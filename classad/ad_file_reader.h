// AdFileReader: reads the long form administrators keep ads in, streamed:
// any number of ads, one per block of "Name = expression" lines, blocks
// separated by one or more blank lines; lines whose first non-blank
// character is '#' are comments (they neither end nor start a block). A
// file with one block holds one ad. Memory stays bounded by the largest
// line and ad, not the file.
//
// The bytes come from a read function, so that a FILE, a descriptor or a
// Python file object can feed it alike. Nothing here throws.
#ifndef TORVEL_CLASSAD_AD_FILE_READER_H_
#define TORVEL_CLASSAD_AD_FILE_READER_H_

#include <stddef.h>
#include <stdio.h>
#include <sys/types.h>

#include <functional>
#include <string>

class AttrList;
class ClassAd;

class AdFileReader {
 public:
    // Fills up to size bytes of buffer; the count, 0 at the end, or -1 with
    // errno set on a read error.
    using ReadFunction = std::function<ssize_t(char *buffer, size_t size)>;

    enum Status {
        kAd,         // an ad was read into the caller's list
        kEnd,        // no more ads
        kBadLine,    // a line that is not an assignment: BadLine(), Line()
        kReadError,  // reading failed: Errno()
    };

    explicit AdFileReader(ReadFunction read);
    // Reads from file (not closed here); a read error is never taken for
    // the end of the file.
    explicit AdFileReader(FILE *file);

    // Inserts the next block's attributes into ad (replacing same names);
    // kAd when a block was read. After kBadLine or kReadError every later
    // call answers the same.
    Status Next(AttrList &ad);
    // As Next, then makes the block's MyType and TargetType attributes the
    // ad's types (and removes them), as a ClassAd file names them.
    Status NextClassAd(ClassAd &ad);
    // Reads every remaining block into ad as one: blank lines do not end
    // it. kAd even for an empty file.
    Status ReadAll(AttrList &ad);

    // The 1-based line number of the bad line, or of the last line read.
    int Line() const { return line_number_; }
    // The bad line from its first non-blank character, without its end of
    // line (it may hold NULs), for a bounded excerpt.
    const std::string &BadLine() const { return bad_line_; }
    int Errno() const { return errno_; }

 private:
    // The next line into line_ (without "\n" or "\r\n"); false at the end
    // or on a read error (status_ then says which).
    bool NextLine();
    Status ReadBlock(AttrList &ad, bool whole_file);
    // ReadBlock's reading of the lines.
    Status readLines_(AttrList &ad, bool whole_file);

    ReadFunction read_;
    std::string buffer_;
    size_t start_ = 0;  // first unread byte of buffer_
    bool at_end_ = false;
    std::string line_;
    int line_number_ = 0;
    std::string bad_line_;
    Status status_ = kAd;
    int errno_ = 0;
};

#endif  // TORVEL_CLASSAD_AD_FILE_READER_H_

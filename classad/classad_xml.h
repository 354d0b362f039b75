// The XML form of ClassAds. ClassAdXMLUnparser writes an ad, or one
// attribute, as XML text; ClassAdXMLParser reads such text back into a
// ClassAd from a file or from memory, with a small tokenizer of its own
// (XMLToken, read from an XMLSource). The reader knows exactly the subset of
// XML the writer produces: one attribute per element, no nesting beyond ad,
// attribute and value, and the five character entities of XML.
//
// The text read is outside input: the reader never fails and never reads
// past its source. It keeps no recursion, bounds every token it collects
// (kXMLMaxTagLength, kXMLMaxTextLength) and drops, instead of half-reading,
// a token that is too long, an unterminated tag, and a token holding a NUL
// byte; what could be read is returned.
//
// Process-wide state: only the constant element-name table, which every
// reader and writer verifies when it is constructed (a fatal error if it is
// out of order). The ads built go through the expression parser, which is
// not reentrant: not safe for concurrent use.
#ifndef TORVEL_CLASSAD_CLASSAD_XML_H_
#define TORVEL_CLASSAD_CLASSAD_XML_H_

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <unordered_map>

#include "core/my_string.h"

class ClassAd;
class ExprTree;

// The element kinds; each value is its position in the element-name table.
enum TagName {
    tag_ClassAds = 0,  // "classads", the document element
    tag_ClassAd,       // "c", one ad
    tag_Attribute,     // "a", one attribute; XML attribute n names it
    tag_Number,        // "n"
    tag_Integer,       // "i"
    tag_Real,          // "r"
    tag_String,        // "s"
    tag_Bool,          // "b"; XML attribute v is "t" or "f"
    tag_Undefined,     // "un"
    tag_Error,         // "er"
    tag_Time,          // "t"
    tag_List,          // "l" (read and ignored)
    tag_Expr,          // "e", any other expression as its printed text
    tag_NoTag,         // no element, or a name not in the table
};

// Longest tag (the text between "<" and ">") and longest text between two
// tags the reader accepts; a longer token is skipped whole and dropped.
const int kXMLMaxTagLength = 64 * 1024;
const int kXMLMaxTextLength = 4 * 1024 * 1024;

// The element name of a kind ("" for tag_NoTag and out-of-range values).
// Borrowed: a constant.
const char *_torvel_xml_tag_name(TagName tag);
// The kind named exactly (same case) by the first length bytes of name;
// tag_NoTag when none.
TagName _torvel_xml_tag_lookup(const char *name, int length);
// Checks that every table entry sits at the position of its kind; a fatal
// error "Assertion ERROR on (tag_names[...].id == ...)" otherwise.
void _torvel_xml_check_tag_table();

enum XMLTokenType {
    XMLToken_Tag,
    XMLToken_Text,
    XMLToken_Invalid,  // a new token, or one the reader refused
};

// One token of the reader: a tag with its kind, end flag and at most one XML
// attribute, or a text.
class XMLToken {
 public:
    // XMLToken_Invalid, tag_NoTag, no text, no attribute.
    XMLToken();

    // Back to the state of a new token.
    void Reset();

    XMLTokenType GetType() const { return type_; }
    void SetType(XMLTokenType type) { type_ = type; }
    // The text of a text token, or null. Borrowed: owned by the token.
    const char *GetText() const { return has_text_ ? text_.c_str() : nullptr; }
    // Copies text; null forgets the text.
    void SetText(const char *text);
    TagName GetTag() const { return tag_; }
    void SetTag(TagName tag) { tag_ = tag; }
    // An end tag "</x>" or an empty element "<x/>".
    bool GetIsEnd() const { return is_end_; }
    void SetIsEnd(bool is_end) { is_end_ = is_end; }
    // The XML attribute, when the tag has one: *name and *value are
    // borrowed, owned by the token. False (outputs unchanged) without one.
    bool GetAttribute(const char **name, const char **value) const;
    // Copies both; either being null or empty forgets the attribute.
    void SetAttribute(const char *name, const char *value);

    // Prints the token on standard output, e.g.
    // Token (Type="Tag", IsEnd = false, Tag = a, n = Memory)
    void Dump() const;

 private:
    XMLTokenType type_;
    TagName tag_;
    bool is_end_;
    bool has_text_;
    bool has_attribute_;
    // Kept across Reset so a reused token does not allocate again.
    std::string text_;
    std::string attribute_name_;
    std::string attribute_value_;
};

// Where the reader takes its bytes from.
class XMLSource {
 public:
    virtual ~XMLSource() {}
    // The next byte as 0 to 255, or -1 at the end.
    virtual int ReadCharacter() = 0;
    // Steps back one byte. REQUIRES: the last read returned a byte, and no
    // pushback happened since.
    virtual void PushbackCharacter() = 0;
    virtual bool AtEnd() const = 0;
};

// Reads a standard stream. Stepping back needs no seekable file (a pipe
// will do). At the end once the stream's end-of-file indicator is set.
class FileXMLSource final : public XMLSource {
 public:
    // Borrowed: file must outlive the source; null reads as empty.
    explicit FileXMLSource(FILE *file);
    int ReadCharacter() override;
    void PushbackCharacter() override;
    bool AtEnd() const override;

 private:
    FILE *file_;
    int last_;  // the last byte read, -1 when none can be pushed back
};

// Reads a NUL-terminated text in memory, ending at the NUL (or after
// INT_MAX bytes); never steps back before the start. Final and inline: the
// reader calls it once per byte.
class CharXMLSource final : public XMLSource {
 public:
    // Borrowed: text must outlive the source; null reads as empty.
    explicit CharXMLSource(const char *text) : text_(text != nullptr ? text : ""), position_(0) {}
    int ReadCharacter() override {
        if (AtEnd()) {
            return -1;
        }
        return static_cast<unsigned char>(text_[position_++]);
    }
    void PushbackCharacter() override {
        if (position_ > 0) {
            position_--;
        }
    }
    bool AtEnd() const override { return position_ == INT_MAX || text_[position_] == '\0'; }
    // Bytes consumed so far.
    int GetCurrentLocation() const { return position_; }
    // Reads the bytes up to the first stop byte, stop included when found,
    // as ReadCharacter would one at a time, and hands them to take(begin,
    // length) before the stop byte; they never hold a NUL. Returns whether
    // stop was found.
    template <class Take>
    bool ReadThrough(char stop, Take take) {
        const char *rest = text_ + position_;
        const char *found = strchrnul(rest, stop);
        size_t span = static_cast<size_t>(found - rest);
        size_t left = static_cast<size_t>(INT_MAX - position_);
        bool stopped = *found == stop && span < left;
        span = span < left ? span : left;
        take(rest, span);
        position_ += static_cast<int>(span) + (stopped ? 1 : 0);
        return stopped;
    }

 private:
    const char *text_;
    int position_;
};

class ClassAdXMLUnparser {
 public:
    // Compact spacing, type output and target-type output all on.
    ClassAdXMLUnparser();

    bool GetUseCompactSpacing() const { return use_compact_spacing_; }
    void SetUseCompactSpacing(bool on) { use_compact_spacing_ = on; }
    bool GetOutputType() const { return output_type_; }
    void SetOutputType(bool on) { output_type_ = on; }
    bool GetOuputTargetType() const { return output_target_type_; }
    void SetOutputTargetType(bool on) { output_target_type_ = on; }

    // Appends the document's opening lines / its closing line.
    void AddXMLFileHeader(MyString &out);
    void AddXMLFileFooter(MyString &out);
    // Appends the XML of an ad (types first, then every attribute the ad's
    // ResetExpr/NextExpr walk returns), or of one attribute; a tree that is
    // not an assignment to a plain name writes nothing. The ad's expression
    // cursor is moved.
    void Unparse(ClassAd *ad, MyString &out);
    void Unparse(ExprTree *attribute, MyString &out);

 private:
    bool use_compact_spacing_;
    bool output_type_;
    bool output_target_type_;
};

class ClassAdXMLParser {
 public:
    ClassAdXMLParser();

    // Each returns a new ClassAd (caller deletes), never null: empty when
    // no "c" element was found. Malformed input gives whatever attributes
    // could be read.
    // Reads the first ad of text (null reads as empty).
    ClassAd *ParseClassAd(const char *text);
    // Reads the next ad of file, leaving the file after its end tag.
    ClassAd *ParseClassAd(FILE *file);
    // Reads the ad starting at buffer + *place and advances *place past the
    // bytes consumed, so repeated calls walk through several ads.
    // REQUIRES: *place lies within the text; a null place or buffer, or a
    // negative *place, reads nothing and leaves *place alone.
    ClassAd *ParseClassAds(const char *buffer, int *place);

 private:
    // Whether each attribute name met so far reads as a plain reference;
    // names repeat across the ads of a document. Bounded: forgotten whole
    // when full.
    std::unordered_map<std::string, bool> known_names_;
};

#endif  // TORVEL_CLASSAD_CLASSAD_XML_H_

// The pieces the ClassAd XML reader and writer share: the element-name
// table with its lookup and order check, the reader's token (XMLToken), and
// the two byte sources it reads from (a standard stream, a text in memory).
// The table is constant; nothing here holds other process-wide state.
#include <stdio.h>
#include <string.h>

#include "classad/classad_xml.h"
#include "diagnostics/except.h"

namespace {

struct TagNameEntry {
    TagName id;
    const char *kind;  // the enumerator's spelling, for the order check
    const char *name;
};

// Indexed by TagName.
const TagNameEntry tag_names[] = {
    {tag_ClassAds, "tag_ClassAds", "classads"},
    {tag_ClassAd, "tag_ClassAd", "c"},
    {tag_Attribute, "tag_Attribute", "a"},
    {tag_Number, "tag_Number", "n"},
    {tag_Integer, "tag_Integer", "i"},
    {tag_Real, "tag_Real", "r"},
    {tag_String, "tag_String", "s"},
    {tag_Bool, "tag_Bool", "b"},
    {tag_Undefined, "tag_Undefined", "un"},
    {tag_Error, "tag_Error", "er"},
    {tag_Time, "tag_Time", "t"},
    {tag_List, "tag_List", "l"},
    {tag_Expr, "tag_Expr", "e"},
    {tag_NoTag, "tag_NoTag", ""},
};

const int kTagCount = static_cast<int>(sizeof tag_names / sizeof tag_names[0]);

}  // namespace

const char *_torvel_xml_tag_name(TagName tag) {
    int i = static_cast<int>(tag);
    if (i < 0 || i >= kTagCount) {
        return "";
    }
    return tag_names[i].name;
}

TagName _torvel_xml_tag_lookup(const char *name, int length) {
    if (name == nullptr || length <= 0) {
        return tag_NoTag;
    }
    for (int i = 0; i < kTagCount; i++) {
        const char *candidate = tag_names[i].name;
        if (strlen(candidate) == static_cast<size_t>(length) &&
            memcmp(candidate, name, static_cast<size_t>(length)) == 0) {
            return tag_names[i].id;
        }
    }
    return tag_NoTag;
}

void _torvel_xml_check_tag_table() {
    for (int i = 0; i < kTagCount; i++) {
        if (static_cast<int>(tag_names[i].id) != i) {
            char check[96];
            snprintf(check, sizeof check, "tag_names[%s].id == %s", tag_names[i].kind,
                     tag_names[i].kind);
            EXCEPT("Assertion ERROR on (%s)", check);
        }
    }
}

// ---- XMLToken ----

XMLToken::XMLToken()
    : type_(XMLToken_Invalid),
      tag_(tag_NoTag),
      is_end_(false),
      has_text_(false),
      has_attribute_(false) {}

void XMLToken::Reset() {
    type_ = XMLToken_Invalid;
    tag_ = tag_NoTag;
    is_end_ = false;
    has_text_ = false;
    has_attribute_ = false;
    text_.clear();
    attribute_name_.clear();
    attribute_value_.clear();
}

void XMLToken::SetText(const char *text) {
    has_text_ = text != nullptr;
    text_.assign(text != nullptr ? text : "");
}

bool XMLToken::GetAttribute(const char **name, const char **value) const {
    if (!has_attribute_) {
        return false;
    }
    if (name != nullptr) {
        *name = attribute_name_.c_str();
    }
    if (value != nullptr) {
        *value = attribute_value_.c_str();
    }
    return true;
}

void XMLToken::SetAttribute(const char *name, const char *value) {
    has_attribute_ = name != nullptr && value != nullptr && name[0] != '\0' && value[0] != '\0';
    attribute_name_.assign(has_attribute_ ? name : "");
    attribute_value_.assign(has_attribute_ ? value : "");
}

void XMLToken::Dump() const {
    printf("Token (Type=");
    switch (type_) {
        case XMLToken_Tag:
            printf("\"Tag\", ");
            break;
        case XMLToken_Text:
            printf("\"Text\", ");
            break;
        case XMLToken_Invalid:
            printf("\"Invalid\", ");
            break;
        default:
            printf("\"Unknown\", ");
            break;
    }
    if (type_ == XMLToken_Tag) {
        printf("IsEnd = %s, Tag = %s", is_end_ ? "true" : "false", _torvel_xml_tag_name(tag_));
        if (has_attribute_) {
            printf(", %s = %s", attribute_name_.c_str(), attribute_value_.c_str());
        }
    } else if (type_ == XMLToken_Text) {
        if (has_text_ && !text_.empty()) {
            printf("Text = %s", text_.c_str());
        } else {
            printf("<empty>");
        }
    }
    printf(")\n");
}

// ---- FileXMLSource ----

FileXMLSource::FileXMLSource(FILE *file) : file_(file), last_(-1) {}

int FileXMLSource::ReadCharacter() {
    if (file_ == nullptr) {
        return -1;
    }
    int c = getc(file_);
    last_ = c == EOF ? -1 : c;
    return last_;
}

void FileXMLSource::PushbackCharacter() {
    // ungetc keeps one byte for any stream, seekable or not.
    if (file_ != nullptr && last_ >= 0) {
        ungetc(last_, file_);
        last_ = -1;
    }
}

bool FileXMLSource::AtEnd() const {
    return file_ == nullptr || feof(file_) != 0;
}

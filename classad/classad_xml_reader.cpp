// ClassAdXMLParser: reads the XML form of a ClassAd back into a ClassAd.
// A tokenizer turns the bytes of an XMLSource into tags and texts; a flat
// state machine (ad, attribute, value kind) turns those into attributes,
// each built as "name = value" and inserted with replacement. Nothing
// recurses, every collected token is bounded, and a token the tokenizer
// refuses (too long, unterminated, holding a NUL byte) is skipped whole, so
// hostile text cannot exhaust the stack or memory or be read past its end.
// Values whose text does not parse are dropped silently: the reader never
// fails.
//
// Strings are built as trees from their decoded text (not re-parsed from a
// quoted text), so every string the writer writes, double quotes included,
// reads back unchanged.
#include <limits.h>
#include <string.h>

#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
#include "core/allocation.h"
#include "core/my_string.h"

namespace {

const char kMyTypeName[] = "MyType";
const char kTargetTypeName[] = "TargetType";

bool is_xml_space(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// ---- tokenizer ----

// Collects bytes into a bounded text; once a byte is refused (a NUL, or the
// bound reached) the token is marked refused and nothing more is kept.
class Collector {
 public:
    explicit Collector(int limit) : limit_(limit), refused_(false) {}
    void Add(int c) {
        if (refused_) {
            return;
        }
        if (c == 0 || text_.Length() >= limit_) {
            refused_ = true;
            return;
        }
        text_ += static_cast<char>(c);
    }
    bool Refused() const { return refused_; }
    const MyString &Text() const { return text_; }
    bool Empty() const { return text_.Length() == 0 && !refused_; }

 private:
    int limit_;
    bool refused_;
    MyString text_;
};

// Sets the element name, end flag and XML attribute of a tag from the text
// between "<" (or "</") and ">".
void parse_tag_body(const char *body, int length, XMLToken &token) {
    if (length > 0 && body[length - 1] == '/') {
        token.SetIsEnd(true);  // an empty element
    }
    int i = 0;
    while (i < length && !is_xml_space(body[i]) && body[i] != '/') {
        i++;
    }
    token.SetTag(_torvel_xml_tag_lookup(body, i));
    while (i < length && is_xml_space(body[i])) {
        i++;
    }
    MyString name;
    while (i < length && body[i] != '=' && !is_xml_space(body[i]) && body[i] != '/') {
        name += body[i];
        i++;
    }
    while (i < length && is_xml_space(body[i])) {
        i++;
    }
    if (i >= length || body[i] != '=') {
        return;
    }
    i++;
    while (i < length && is_xml_space(body[i])) {
        i++;
    }
    MyString value;
    while (i < length && !is_xml_space(body[i]) && body[i] != '/') {
        if (body[i] != '"') {
            value += body[i];
        }
        i++;
    }
    token.SetAttribute(name.Value(), value.Value());
}

// Reads a tag after its "<". Refused (XMLToken_Invalid) when too long, when
// holding a NUL byte, or when the input ends before its ">".
void read_tag(XMLSource &source, XMLToken &token) {
    bool is_end = false;
    int c = source.ReadCharacter();
    if (c == '/') {
        is_end = true;
        c = source.ReadCharacter();
    }
    while (c != -1 && is_xml_space(c)) {
        c = source.ReadCharacter();
    }
    Collector body(kXMLMaxTagLength);
    while (c != -1 && c != '>') {
        body.Add(c);
        c = source.ReadCharacter();
    }
    if (c == -1 || body.Refused()) {
        token.SetType(XMLToken_Invalid);
        return;
    }
    token.SetType(XMLToken_Tag);
    token.SetIsEnd(is_end);
    parse_tag_body(body.Text().Value(), body.Text().Length(), token);
}

// Reads the next token into token (reset first); false when there is none.
// In raw mode a text is returned even when it is empty or all blank.
bool read_token(XMLSource &source, bool raw, XMLToken &token) {
    token.Reset();
    if (source.AtEnd()) {
        return false;
    }
    Collector text(kXMLMaxTextLength);
    int c;
    while ((c = source.ReadCharacter()) != -1 && is_xml_space(c)) {
        text.Add(c);
    }
    if (c == -1 && text.Empty()) {
        return false;
    }
    if (c == '<' && !raw) {
        read_tag(source, token);  // the blanks before a tag are dropped
        return true;
    }
    if (c == '<') {
        source.PushbackCharacter();
    } else if (c != -1) {
        text.Add(c);
        while ((c = source.ReadCharacter()) != -1) {
            if (c == '<') {
                source.PushbackCharacter();
                break;
            }
            text.Add(c);
        }
    }
    if (text.Refused()) {
        token.SetType(XMLToken_Invalid);
        return true;
    }
    token.SetType(XMLToken_Text);
    token.SetText(text.Text().Value());
    return true;
}

// ---- values ----

struct Entity {
    const char *text;
    int length;
    char value;
};

const Entity kEntities[] = {
    {"&amp;", 5, '&'}, {"&lt;", 4, '<'}, {"&gt;", 4, '>'}, {"&quot;", 6, '"'}, {"&apos;", 6, '\''},
};

void decode_entities(const char *text, MyString &out) {
    for (const char *p = text; *p != '\0';) {
        bool decoded = false;
        if (*p == '&') {
            for (const Entity &e : kEntities) {
                if (strncmp(p, e.text, static_cast<size_t>(e.length)) == 0) {
                    out += e.value;
                    p += e.length;
                    decoded = true;
                    break;
                }
            }
        }
        if (!decoded) {
            out += *p++;
        }
    }
}

// Whether name reads as exactly one attribute reference of that name.
bool is_attribute_name(const char *name) {
    ExprTree *tree = nullptr;
    bool ok = Parse(name, tree) == 0 && tree != nullptr && tree->MyType() == LX_VARIABLE &&
              strcmp(static_cast<VariableBase *>(tree)->Name(), name) == 0;
    delete tree;
    return ok;
}

// Inserts name = value (taking value), or makes a string value of MyType or
// TargetType the ad's type, as the ad's own readers do.
void insert_value(ClassAd &ad, const char *name, ExprTree *value) {
    if (value->MyType() == LX_STRING && strcmp(name, kMyTypeName) == 0) {
        ad.SetMyTypeName(static_cast<StringBase *>(value)->Value());
        delete value;
        return;
    }
    if (value->MyType() == LX_STRING && strcmp(name, kTargetTypeName) == 0) {
        ad.SetTargetTypeName(static_cast<StringBase *>(value)->Value());
        delete value;
        return;
    }
    ExprTree *tree = new (torvel::or_die) AssignOp(new (torvel::or_die) Variable(name), value);
    if (!ad.Insert(tree, true)) {
        delete tree;
    }
}

// Parses "name = text" and inserts it; dropped when it does not parse as an
// assignment to exactly that name. The parsed assignment is inserted as it
// is, unless its value is a string that names a type.
void insert_text(ClassAd &ad, const char *name, const MyString &text) {
    MyString assignment;
    assignment.sprintf("%s = %s", name, text.Value());
    ExprTree *tree = nullptr;
    if (Parse(assignment.Value(), tree) != 0 || tree == nullptr || tree->MyType() != LX_ASSIGN ||
        tree->LArg() == nullptr || tree->LArg()->MyType() != LX_VARIABLE ||
        tree->RArg() == nullptr ||
        strcmp(static_cast<VariableBase *>(tree->LArg())->Name(), name) != 0) {
        delete tree;
        return;
    }
    if (tree->RArg()->MyType() == LX_STRING) {
        insert_value(ad, name, tree->RArg()->DeepCopy());
        delete tree;
    } else if (!ad.Insert(tree, true)) {
        delete tree;
    }
}

// text enclosed in quote, where a quote already present at either end is
// not doubled.
MyString enclose(const MyString &text, char quote) {
    MyString out;
    if (text.Length() == 0 || text[0] != quote) {
        out += quote;
    }
    out += text;
    if (text.Length() == 0 || text[text.Length() - 1] != quote) {
        out += quote;
    }
    return out;
}

// A text token inside an attribute with a name and a value kind.
void text_value(ClassAd &ad, const char *name, TagName kind, const char *raw) {
    if (!is_attribute_name(name)) {
        return;
    }
    MyString text;
    decode_entities(raw, text);
    switch (kind) {
        case tag_String:
            insert_value(ad, name, new (torvel::or_die) String(text.Value()));
            break;
        case tag_Time:
            insert_text(ad, name, enclose(text, '\''));
            break;
        case tag_Undefined:
            insert_value(ad, name, new (torvel::or_die) Undefined());
            break;
        case tag_Error:
            insert_value(ad, name, new (torvel::or_die) Error());
            break;
        case tag_Number:
        case tag_Integer:
        case tag_Real:
        case tag_Expr:
            insert_text(ad, name, text);
            break;
        default:
            break;  // booleans, lists and no kind insert nothing
    }
}

// ---- state machine ----

struct ReaderState {
    bool in_ad = false;
    bool in_attribute = false;
    bool finished = false;
    MyString name;  // of the current attribute; empty when none
    TagName kind = tag_NoTag;
};

// A tag inside an attribute. Returns whether the next token is raw.
bool value_tag(ClassAd &ad, ReaderState &state, const XMLToken &token) {
    const char *name = state.name.Value();
    bool named = state.name.Length() > 0;
    switch (token.GetTag()) {
        case tag_Bool: {
            state.kind = tag_Bool;
            const char *attribute = nullptr;
            const char *value = nullptr;
            if (named && token.GetAttribute(&attribute, &value) && strcmp(attribute, "v") == 0 &&
                is_attribute_name(name)) {
                insert_value(ad, name,
                             new (torvel::or_die) ClassadBoolean(strcmp(value, "t") == 0 ? 1 : 0));
            }
            return false;
        }
        case tag_String:
        case tag_Time:
            // Texts taken as they are: an empty or all-blank one is read too.
            state.kind = token.GetTag();
            return !token.GetIsEnd();
        case tag_Undefined:
        case tag_Error:
            // These are empty elements: their value is the element itself.
            state.kind = token.GetTag();
            if (named && is_attribute_name(name)) {
                insert_value(ad, name,
                             token.GetTag() == tag_Undefined
                                 ? static_cast<ExprTree *>(new (torvel::or_die) Undefined())
                                 : new (torvel::or_die) Error());
            }
            return false;
        case tag_Number:
        case tag_Integer:
        case tag_Real:
        case tag_List:
        case tag_Expr:
            state.kind = token.GetTag();
            return false;
        default:
            return false;
    }
}

// Handles a tag; returns whether the next token is raw.
bool handle_tag(ClassAd &ad, ReaderState &state, const XMLToken &token) {
    TagName tag = token.GetTag();
    if (!state.in_ad) {
        state.in_ad = tag == tag_ClassAd && !token.GetIsEnd();
        return false;
    }
    if (tag == tag_ClassAd) {
        state.finished = token.GetIsEnd();
        return false;
    }
    if (tag == tag_Attribute) {
        state.in_attribute = !token.GetIsEnd();
        state.kind = tag_NoTag;
        state.name = "";
        const char *attribute = nullptr;
        const char *value = nullptr;
        if (state.in_attribute && token.GetAttribute(&attribute, &value) &&
            strcmp(attribute, "n") == 0) {
            state.name = value;
        }
        return false;
    }
    if (state.in_attribute) {
        return value_tag(ad, state, token);
    }
    return false;
}

}  // namespace

ClassAdXMLParser::ClassAdXMLParser() {
    _torvel_xml_check_tag_table();
}

ClassAd *ClassAdXMLParser::ParseClassAd(const char *text) {
    CharXMLSource source(text);
    return _ParseClassAd(source);
}

ClassAd *ClassAdXMLParser::ParseClassAd(FILE *file) {
    FileXMLSource source(file);
    return _ParseClassAd(source);
}

ClassAd *ClassAdXMLParser::ParseClassAds(const char *buffer, int *place) {
    if (buffer == nullptr || place == nullptr || *place < 0) {
        return new (torvel::or_die) ClassAd();
    }
    CharXMLSource source(buffer + *place);
    ClassAd *ad = _ParseClassAd(source);
    int consumed = source.GetCurrentLocation();
    *place = consumed > INT_MAX - *place ? INT_MAX : *place + consumed;
    return ad;
}

ClassAd *ClassAdXMLParser::_ParseClassAd(XMLSource &source) {
    ClassAd *ad = new (torvel::or_die) ClassAd();
    ReaderState state;
    XMLToken token;
    bool raw = false;
    while (!state.finished && read_token(source, raw, token)) {
        raw = false;
        if (token.GetType() == XMLToken_Text) {
            if (state.in_attribute && state.name.Length() > 0 && state.kind != tag_NoTag) {
                text_value(*ad, state.name.Value(), state.kind, token.GetText());
            }
        } else if (token.GetType() == XMLToken_Tag) {
            raw = handle_tag(*ad, state, token);
        }
    }
    return ad;
}

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
//
// Reading is meant to keep pace with the insert it feeds: the buffers of
// the tokens are reused from token to token, memory is scanned a run at a
// time, and whether a name reads as an attribute reference is decided once
// per name for the parser's life.
#include <limits.h>
#include <string.h>

#include <string>
#include <unordered_map>

#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "classad/expr_tree.h"
#include "classad/literal_assignment.h"
#include "classad/parse_cache.h"
#include "classad/parser.h"
#include "core/allocation.h"

namespace {

const char kMyTypeName[] = "MyType";
const char kTargetTypeName[] = "TargetType";

bool is_xml_space(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// ---- tokenizer ----

// Collects bytes into a bounded text; once a byte is refused (a NUL, or the
// bound reached) the token is marked refused and nothing more is kept. One
// collector serves every token of a read, so its buffer is allocated once.
class Collector {
 public:
    explicit Collector(size_t limit) : limit_(limit), refused_(false) {}
    void Reset() {
        text_.clear();
        refused_ = false;
    }
    void Add(int c) {
        if (refused_) {
            return;
        }
        if (c == 0 || text_.size() >= limit_) {
            refused_ = true;
            return;
        }
        text_.push_back(static_cast<char>(c));
    }
    // Add for each of length bytes.
    // REQUIRES: no NUL among them (the memory source ends at its NUL).
    void AddSpan(const char *bytes, size_t length) {
        if (refused_) {
            return;
        }
        if (text_.size() + length > limit_) {
            refused_ = true;
            return;
        }
        text_.append(bytes, length);
    }
    bool Refused() const { return refused_; }
    const std::string &Text() const { return text_; }
    bool Empty() const { return text_.empty() && !refused_; }

 private:
    size_t limit_;
    bool refused_;
    std::string text_;
};

// The buffers the tokenizer and the value builders reuse from token to
// token.
struct Scratch {
    Collector tag{kXMLMaxTagLength};
    Collector text{kXMLMaxTextLength};
    std::string name;
    std::string value;
    std::string decoded;
    std::string assignment;
};

// Reads bytes into into up to the first stop byte, which is consumed;
// returns whether it was found before the end.
template <class Source>
bool read_through(Source &source, char stop, Collector &into) {
    int c;
    while ((c = source.ReadCharacter()) != -1) {
        if (c == stop) {
            return true;
        }
        into.Add(c);
    }
    return false;
}

// The same over memory, a span at a time.
bool read_through(CharXMLSource &source, char stop, Collector &into) {
    return source.ReadThrough(
        stop, [&into](const char *bytes, size_t length) { into.AddSpan(bytes, length); });
}

// Sets the element name, end flag and XML attribute of a tag from the text
// between "<" (or "</") and ">".
void parse_tag_body(const std::string &body, XMLToken &token, Scratch &scratch) {
    const int length = static_cast<int>(body.size());
    if (length > 0 && body[length - 1] == '/') {
        token.SetIsEnd(true);  // an empty element
    }
    int i = 0;
    while (i < length && !is_xml_space(body[i]) && body[i] != '/') {
        i++;
    }
    token.SetTag(_torvel_xml_tag_lookup(body.data(), i));
    while (i < length && is_xml_space(body[i])) {
        i++;
    }
    int name_start = i;
    while (i < length && body[i] != '=' && !is_xml_space(body[i]) && body[i] != '/') {
        i++;
    }
    std::string &name = scratch.name;
    name.assign(body, static_cast<size_t>(name_start), static_cast<size_t>(i - name_start));
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
    std::string &value = scratch.value;
    value.clear();
    // Quotes are dropped wherever they stand; the rest goes in whole runs.
    int run = i;
    for (; i < length && !is_xml_space(body[i]) && body[i] != '/'; i++) {
        if (body[i] == '"') {
            value.append(body, static_cast<size_t>(run), static_cast<size_t>(i - run));
            run = i + 1;
        }
    }
    value.append(body, static_cast<size_t>(run), static_cast<size_t>(i - run));
    token.SetAttribute(name.c_str(), value.c_str());
}

// Reads a tag after its "<". Refused (XMLToken_Invalid) when too long, when
// holding a NUL byte, or when the input ends before its ">".
template <class Source>
void read_tag(Source &source, XMLToken &token, Scratch &scratch) {
    bool is_end = false;
    int c = source.ReadCharacter();
    if (c == '/') {
        is_end = true;
        c = source.ReadCharacter();
    }
    while (c != -1 && is_xml_space(c)) {
        c = source.ReadCharacter();
    }
    Collector &body = scratch.tag;
    body.Reset();
    bool closed = c == '>';
    if (c != -1 && !closed) {
        body.Add(c);
        closed = read_through(source, '>', body);
    }
    if (!closed || body.Refused()) {
        token.SetType(XMLToken_Invalid);
        return;
    }
    token.SetType(XMLToken_Tag);
    token.SetIsEnd(is_end);
    parse_tag_body(body.Text(), token, scratch);
}

// Reads the next token into token (reset first); false when there is none.
// In raw mode a text is returned even when it is empty or all blank.
template <class Source>
bool read_token(Source &source, bool raw, XMLToken &token, Scratch &scratch) {
    token.Reset();
    if (source.AtEnd()) {
        return false;
    }
    Collector &text = scratch.text;
    text.Reset();
    int c;
    while ((c = source.ReadCharacter()) != -1 && is_xml_space(c)) {
        text.Add(c);
    }
    if (c == -1 && text.Empty()) {
        return false;
    }
    if (c == '<' && !raw) {
        read_tag(source, token, scratch);  // the blanks before a tag are dropped
        return true;
    }
    if (c == '<') {
        source.PushbackCharacter();
    } else if (c != -1) {
        text.Add(c);
        if (read_through(source, '<', text)) {
            source.PushbackCharacter();
        }
    }
    if (text.Refused()) {
        token.SetType(XMLToken_Invalid);
        return true;
    }
    token.SetType(XMLToken_Text);
    token.SetText(text.Text().c_str());
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

// text with its entities decoded: text itself when it holds none, else
// out's buffer.
const char *decode_entities(const char *text, std::string &out) {
    if (strchr(text, '&') == nullptr) {
        return text;
    }
    out.clear();
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
    return out.c_str();
}

// Whether name reads as exactly one attribute reference of that name.
bool parses_as_attribute_name(const char *name) {
    ExprTree *tree = nullptr;
    bool ok = Parse(name, tree) == 0 && tree != nullptr && tree->MyType() == LX_VARIABLE &&
              strcmp(static_cast<VariableBase *>(tree)->Name(), name) == 0;
    delete tree;
    return ok;
}

typedef std::unordered_map<std::string, bool> NameVerdicts;

// Enough for every attribute name of a pool's ads; a document with more
// distinct names only parses them again.
const size_t kMaxKnownNames = 4096;

// parses_as_attribute_name, remembered in known.
bool is_attribute_name(const std::string &name, NameVerdicts &known) {
    NameVerdicts::const_iterator found = known.find(name);
    if (found != known.end()) {
        return found->second;
    }
    bool ok = parses_as_attribute_name(name.c_str());
    if (known.size() >= kMaxKnownNames) {
        known.clear();
    }
    known.emplace(name, ok);
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

// Whether name = a string value would name one of the ad's types.
bool names_type(const char *name) {
    return strcmp(name, kMyTypeName) == 0 || strcmp(name, kTargetTypeName) == 0;
}

// Inserts name = literal as the text reader does, without a tree; false
// (nothing done) when the name has a prefix or a string names a type,
// which the tree paths handle.
bool insert_literal(ClassAd &ad, const char *name, LiteralAssignment &literal) {
    if (strchr(name, '.') != nullptr || (literal.kind == LX_STRING && names_type(name))) {
        return false;
    }
    literal.name = name;
    literal.nameLength = strlen(name);
    ad.Insert(literal, true);
    return true;
}

// The same for a literal of kind with no value of its own (UNDEFINED,
// ERROR), a boolean (intValue), or a string (text).
bool insert_literal(ClassAd &ad, const char *name, LexemeType kind, int intValue,
                    const char *text) {
    LiteralAssignment literal;
    literal.kind = kind;
    literal.intValue = intValue;
    literal.floatValue = 0;
    literal.text = text;
    return insert_literal(ad, name, literal);
}

// Parses "name = text" (built in assignment) and inserts it; dropped when it
// does not parse as an assignment to exactly that name. The parsed
// assignment is inserted as it is, unless its value is a string that names
// a type.
void insert_text(ClassAd &ad, const char *name, const char *text, std::string &assignment) {
    LiteralAssignment literal;
    if (ScanLiteralValue(text, literal) && insert_literal(ad, name, literal)) {
        return;  // most values: no tree until one is asked for
    }
    assignment.assign(name).append(" = ").append(text);
    ExprTree *tree = nullptr;
    SharedParse *shared = nullptr;
    KnownAssignment known;
    if (ParseShared(assignment.c_str(), shared, tree, &known) != 0) {
        delete tree;
        return;
    }
    if (known.name != nullptr) {  // parsed before, value no literal: kept as text
        if (strcmp(known.name, name) == 0) {
            ad.Insert(assignment.c_str(), known, true);
        }
        return;
    }
    ExprTree *parsed = shared != nullptr ? shared->tree : tree;
    if (parsed == nullptr || parsed->MyType() != LX_ASSIGN || parsed->LArg() == nullptr ||
        parsed->LArg()->MyType() != LX_VARIABLE || parsed->RArg() == nullptr ||
        strcmp(static_cast<VariableBase *>(parsed->LArg())->Name(), name) != 0) {
        // not an assignment to exactly that name
    } else if (parsed->RArg()->MyType() == LX_STRING) {
        insert_value(ad, name, parsed->RArg()->DeepCopy());
    } else if (shared != nullptr ? ad.Insert(shared, true) : ad.Insert(tree, true)) {
        return;  // the ad holds the parse now
    }
    if (shared != nullptr) {
        ReleaseSharedParse(shared);
    }
    delete tree;
}

// name = UNDEFINED or ERROR, as tag says.
void insert_empty(ClassAd &ad, const char *name, TagName tag) {
    LexemeType kind = tag == tag_Undefined ? LX_UNDEFINED : LX_ERROR;
    if (!insert_literal(ad, name, kind, 0, nullptr)) {
        insert_value(ad, name,
                     kind == LX_UNDEFINED
                         ? static_cast<ExprTree *>(new (torvel::or_die) Undefined())
                         : new (torvel::or_die) Error());
    }
}

// name = a boolean of value (1 or 0).
void insert_bool(ClassAd &ad, const char *name, int value) {
    if (!insert_literal(ad, name, LX_BOOL, value, nullptr)) {
        insert_value(ad, name, new (torvel::or_die) ClassadBoolean(value));
    }
}

// text enclosed in quote, where a quote already present at either end is
// not doubled.
std::string enclose(const char *text, char quote) {
    size_t length = strlen(text);
    std::string out;
    if (length == 0 || text[0] != quote) {
        out += quote;
    }
    out += text;
    if (length == 0 || text[length - 1] != quote) {
        out += quote;
    }
    return out;
}

// ---- state machine ----

struct ReaderState {
    explicit ReaderState(NameVerdicts &names) : known_names(names) {}
    bool in_ad = false;
    bool in_attribute = false;
    bool finished = false;
    std::string name;  // of the current attribute; empty when none
    TagName kind = tag_NoTag;
    NameVerdicts &known_names;
    Scratch scratch;

    bool named() const { return !name.empty(); }
    bool has_attribute_name() { return named() && is_attribute_name(name, known_names); }
};

// A text token inside an attribute with a name and a value kind.
void text_value(ClassAd &ad, ReaderState &state, const char *raw) {
    if (!state.has_attribute_name()) {
        return;
    }
    const char *name = state.name.c_str();
    const char *text = decode_entities(raw, state.scratch.decoded);
    std::string &assignment = state.scratch.assignment;
    switch (state.kind) {
        case tag_String:
            if (!insert_literal(ad, name, LX_STRING, 0, text)) {
                insert_value(ad, name, new (torvel::or_die) String(text));
            }
            break;
        case tag_Time:
            insert_text(ad, name, enclose(text, '\'').c_str(), assignment);
            break;
        case tag_Undefined:
        case tag_Error:
            insert_empty(ad, name, state.kind);
            break;
        case tag_Number:
        case tag_Integer:
        case tag_Real:
        case tag_Expr:
            insert_text(ad, name, text, assignment);
            break;
        default:
            break;  // booleans, lists and no kind insert nothing
    }
}

// A tag inside an attribute. Returns whether the next token is raw.
bool value_tag(ClassAd &ad, ReaderState &state, const XMLToken &token) {
    const char *name = state.name.c_str();
    switch (token.GetTag()) {
        case tag_Bool: {
            state.kind = tag_Bool;
            const char *attribute = nullptr;
            const char *value = nullptr;
            if (state.named() && token.GetAttribute(&attribute, &value) &&
                strcmp(attribute, "v") == 0 && state.has_attribute_name()) {
                insert_bool(ad, name, strcmp(value, "t") == 0 ? 1 : 0);
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
            if (state.has_attribute_name()) {
                insert_empty(ad, name, token.GetTag());
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
        state.name.clear();
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

// Reads one ad from source; a template so that the byte reads of a final
// source are direct calls.
template <class Source>
ClassAd *read_ad(Source &source, NameVerdicts &known_names) {
    ClassAd *ad = new (torvel::or_die) ClassAd();
    ad->StartRead();
    ReaderState state(known_names);
    XMLToken token;
    bool raw = false;
    while (!state.finished && read_token(source, raw, token, state.scratch)) {
        raw = false;
        if (token.GetType() == XMLToken_Text) {
            if (state.in_attribute && state.named() && state.kind != tag_NoTag) {
                text_value(*ad, state, token.GetText());
            }
        } else if (token.GetType() == XMLToken_Tag) {
            raw = handle_tag(*ad, state, token);
        }
    }
    ad->EndRead();
    return ad;
}

}  // namespace

ClassAdXMLParser::ClassAdXMLParser() {
    _torvel_xml_check_tag_table();
}

ClassAd *ClassAdXMLParser::ParseClassAd(const char *text) {
    CharXMLSource source(text);
    return read_ad(source, known_names_);
}

ClassAd *ClassAdXMLParser::ParseClassAd(FILE *file) {
    FileXMLSource source(file);
    return read_ad(source, known_names_);
}

ClassAd *ClassAdXMLParser::ParseClassAds(const char *buffer, int *place) {
    if (buffer == nullptr || place == nullptr || *place < 0) {
        return new (torvel::or_die) ClassAd();
    }
    CharXMLSource source(buffer + *place);
    ClassAd *ad = read_ad(source, known_names_);
    int consumed = source.GetCurrentLocation();
    *place = consumed > INT_MAX - *place ? INT_MAX : *place + consumed;
    return ad;
}

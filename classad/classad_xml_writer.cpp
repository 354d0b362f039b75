// ClassAdXMLUnparser: writes a ClassAd, or one attribute, in the XML form
// that ClassAdXMLParser reads. Text content is escaped ("&", "<", ">");
// attribute names are written as they are (they are plain identifiers).
// Numbers are written in the "C" locale whatever the process locale, so the
// text reads back the same everywhere. No process-wide state beyond the
// constant element-name table.
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "classad/expr_tree.h"
#include "core/allocation.h"
#include "core/c_locale.h"
#include "core/my_string.h"

namespace {

void append_escaped(MyString &out, const char *text) {
    for (const char *p = text; *p != '\0'; ++p) {
        switch (*p) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += *p;
                break;
        }
    }
}

void start_tag(MyString &out, TagName tag) {
    out.sprintf_cat("<%s>", _torvel_xml_tag_name(tag));
}

void end_tag(MyString &out, TagName tag) {
    out.sprintf_cat("</%s>", _torvel_xml_tag_name(tag));
}

void empty_element(MyString &out, TagName tag) {
    out.sprintf_cat("<%s/>", _torvel_xml_tag_name(tag));
}

void text_element(MyString &out, TagName tag, const char *text) {
    start_tag(out, tag);
    append_escaped(out, text);
    end_tag(out, tag);
}

// "%1.15E" in the "C" locale. An infinite value (a literal beyond single
// precision) is written as a finite literal that reads back as the same
// infinity, since "INF" would read back as an attribute reference.
void real_element(MyString &out, float value) {
    char text[64];
    if (isinf(value)) {
        snprintf(text, sizeof text, "%s",
                 value < 0 ? "-1.000000000000000E+39" : "1.000000000000000E+39");
    } else {
        locale_t previous = uselocale(c_locale());
        snprintf(text, sizeof text, "%1.15E", static_cast<double>(value));
        uselocale(previous);
    }
    text_element(out, tag_Real, text);
}

// The value part of an attribute, by the kind of its right operand.
void value_element(MyString &out, ExprTree *value) {
    switch (value != nullptr ? value->MyType() : LX_NONE) {
        case LX_INTEGER: {
            char text[32];
            snprintf(text, sizeof text, "%d", static_cast<IntegerBase *>(value)->Value());
            text_element(out, tag_Integer, text);
            break;
        }
        case LX_FLOAT:
            real_element(out, static_cast<FloatBase *>(value)->Value());
            break;
        case LX_STRING:
            text_element(out, tag_String, static_cast<StringBase *>(value)->Value());
            break;
        case LX_BOOL:
            out.sprintf_cat("<%s v=\"%s\"/>", _torvel_xml_tag_name(tag_Bool),
                            static_cast<BooleanBase *>(value)->Value() ? "t" : "f");
            break;
        case LX_UNDEFINED:
            empty_element(out, tag_Undefined);
            break;
        case LX_ERROR:
            empty_element(out, tag_Error);
            break;
        case LX_TIME:
            text_element(out, tag_Time, static_cast<ISOTimeBase *>(value)->Value());
            break;
        default: {
            char *text = nullptr;
            if (value != nullptr) {
                value->PrintToNewStr(&text);
            }
            text_element(out, tag_Expr, text != nullptr ? text : "");
            free(text);
            break;
        }
    }
}

// Writes name = "value". The tree is built directly rather than parsed from
// text, so a type name holding a double quote is written too.
void append_type(ClassAdXMLUnparser &writer, const char *name, const char *value, MyString &out) {
    ExprTree *tree = new (torvel::or_die)
        AssignOp(new (torvel::or_die) Variable(name), new (torvel::or_die) String(value));
    writer.Unparse(tree, out);
    delete tree;
}

}  // namespace

ClassAdXMLUnparser::ClassAdXMLUnparser()
    : use_compact_spacing_(true), output_type_(true), output_target_type_(true) {
    _torvel_xml_check_tag_table();
}

void ClassAdXMLUnparser::AddXMLFileHeader(MyString &out) {
    out += "<?xml version=\"1.0\"?>\n";
    out += "<!DOCTYPE classads SYSTEM \"classads.dtd\">\n";
    out += "<classads>\n";
}

void ClassAdXMLUnparser::AddXMLFileFooter(MyString &out) {
    out += "</classads>\n";
}

void ClassAdXMLUnparser::Unparse(ClassAd *ad, MyString &out) {
    if (ad == nullptr) {
        return;
    }
    start_tag(out, tag_ClassAd);
    if (!use_compact_spacing_) {
        out += "\n";
    }
    if (output_type_ && ad->GetMyTypeName()[0] != '\0') {
        append_type(*this, "MyType", ad->GetMyTypeName(), out);
    }
    if (output_target_type_ && ad->GetTargetTypeName()[0] != '\0') {
        append_type(*this, "TargetType", ad->GetTargetTypeName(), out);
    }
    ad->ResetExpr();
    ExprTree *attribute;
    while ((attribute = ad->NextExpr()) != nullptr) {
        Unparse(attribute, out);
    }
    end_tag(out, tag_ClassAd);
    out += "\n";
}

void ClassAdXMLUnparser::Unparse(ExprTree *attribute, MyString &out) {
    if (attribute == nullptr || attribute->MyType() != LX_ASSIGN || attribute->LArg() == nullptr ||
        attribute->LArg()->MyType() != LX_VARIABLE) {
        return;
    }
    if (!use_compact_spacing_) {
        out += "    ";
    }
    out.sprintf_cat("<%s n=\"%s\">", _torvel_xml_tag_name(tag_Attribute),
                    static_cast<VariableBase *>(attribute->LArg())->Name());
    value_element(out, attribute->RArg());
    end_tag(out, tag_Attribute);
    if (!use_compact_spacing_) {
        out += "\n";
    }
}

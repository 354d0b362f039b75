// Stand-in for the ClassAd XML writer, until the XML form of ClassAds (its
// writer with the tag table, and its reader) lands and replaces this file.
// It offers only what attribute lists call: the file header and footer and
// the writing of an ad and of one attribute, in the element syntax of that
// form ("<c>", "<a n=\"...\">", "<i>", "<r>", "<s>", "<b v=\"t\"/>",
// "<un/>", "<er/>", "<t>", "<e>"). There is no reader and no tag-table
// check.
#include "classad/classad_xml.h"

#include <stdio.h>
#include <stdlib.h>

#include "classad/class_ad.h"
#include "classad/expr_tree.h"
#include "classad/parser.h"
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

void append_element(MyString &out, const char *tag, const char *escaped_content) {
    out.sprintf_cat("<%s>", tag);
    append_escaped(out, escaped_content);
    out.sprintf_cat("</%s>", tag);
}

// Writes name = "value" as an attribute, as the writer does for the types.
void append_type(ClassAdXMLUnparser &writer, const char *name, const char *value,
                 MyString &out) {
    MyString text;
    text.sprintf("%s = \"%s\"", name, value);
    ExprTree *tree = nullptr;
    if (Parse(text.Value(), tree) == 0 && tree != nullptr) {
        writer.Unparse(tree, out);
    }
    delete tree;
}

}  // namespace

ClassAdXMLUnparser::ClassAdXMLUnparser()
    : use_compact_spacing_(true), output_type_(true), output_target_type_(true) {}

void ClassAdXMLUnparser::AddXMLFileHeader(MyString &out) {
    out += "<?xml version=\"1.0\"?>\n";
    out += "<!DOCTYPE classads SYSTEM \"classads.dtd\">\n";
    out += "<classads>\n";
}

void ClassAdXMLUnparser::AddXMLFileFooter(MyString &out) {
    out += "</classads>\n";
}

void ClassAdXMLUnparser::Unparse(ClassAd *ad, MyString &out) {
    out += "<c>";
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
    out += "</c>\n";
}

void ClassAdXMLUnparser::Unparse(ExprTree *attribute, MyString &out) {
    if (attribute == nullptr || attribute->MyType() != LX_ASSIGN ||
        attribute->LArg() == nullptr || attribute->LArg()->MyType() != LX_VARIABLE) {
        return;
    }
    if (!use_compact_spacing_) {
        out += "    ";
    }
    out.sprintf_cat("<a n=\"%s\">", static_cast<VariableBase *>(attribute->LArg())->Name());
    ExprTree *value = attribute->RArg();
    switch (value != nullptr ? value->MyType() : LX_NONE) {
        case LX_INTEGER:
            out.sprintf_cat("<i>%d</i>", static_cast<IntegerBase *>(value)->Value());
            break;
        case LX_FLOAT:
            out.sprintf_cat("<r>%1.15E</r>",
                            static_cast<double>(static_cast<FloatBase *>(value)->Value()));
            break;
        case LX_STRING:
            append_element(out, "s", static_cast<StringBase *>(value)->Value());
            break;
        case LX_BOOL:
            out += static_cast<BooleanBase *>(value)->Value() ? "<b v=\"t\"/>" : "<b v=\"f\"/>";
            break;
        case LX_UNDEFINED:
            out += "<un/>";
            break;
        case LX_ERROR:
            out += "<er/>";
            break;
        case LX_TIME:
            append_element(out, "t", static_cast<ISOTimeBase *>(value)->Value());
            break;
        default: {
            char *text = nullptr;
            if (value != nullptr) {
                value->PrintToNewStr(&text);
            }
            append_element(out, "e", text != nullptr ? text : "");
            free(text);
            break;
        }
    }
    out += "</a>";
    if (!use_compact_spacing_) {
        out += "\n";
    }
}

// Reading one large ClassAd: 100,000 attributes through the text reader
// (from a file), the XML reader and the stream reader each come back whole,
// in order, with their values, and with the types taken out. (How fast is
// for the read benchmark; this checks only what is read.)
#include <stdio.h>
#include <stdlib.h>

#include <memory>
#include <string>

#include "classad/class_ad.h"
#include "classad/classad_xml.h"
#include "classad/expr_tree.h"
#include "gtest/gtest.h"
#include "tests/stream/memory_stream.h"

namespace {

constexpr int kAttributes = 100000;

// Attribute i: an integer, a string or an expression in turn. The names
// change case along the way, which must not merge any of them.
std::string Name(int i) {
    return (i % 2 == 0 ? "Attr" : "aTTR") + std::to_string(i);
}

std::string Value(int i) {
    switch (i % 3) {
        case 0:
            return std::to_string(i);
        case 1:
            return "\"v" + std::to_string(i) + "\"";
        default:
            return Name(i - 1) + " + 1";
    }
}

class LargeAdRead : public ::testing::Test {
 protected:
    // Checks every attribute, in order, by walking the expression cursor.
    static void ExpectWhole(ClassAd &ad) {
        EXPECT_STREQ("Machine", ad.GetMyTypeName());
        EXPECT_STREQ("Job", ad.GetTargetTypeName());
        ad.ResetExpr();
        int i = 0;
        ExprTree *tree;
        while ((tree = ad.NextExpr()) != nullptr) {
            char *text = nullptr;
            tree->PrintToNewStr(&text);
            std::string printed = text != nullptr ? text : "";
            free(text);
            ASSERT_EQ(Name(i) + " = " + Value(i), printed) << "attribute " << i;
            i++;
        }
        EXPECT_EQ(kAttributes, i);
        // Found by name too, in any case.
        EXPECT_EQ(nullptr, ad.Lookup("MyType"));
        ExprTree *last = ad.Lookup("ATTR99999");
        ASSERT_NE(nullptr, last);
        EXPECT_STREQ("aTTR99999", static_cast<VariableBase *>(last->LArg())->Name());
    }
};

TEST_F(LargeAdRead, TextFormFromAFile) {
    std::string text = "MyType = \"Machine\"\n";
    for (int i = 0; i < kAttributes; i++) {
        text += Name(i) + " = " + Value(i) + "\n";
        if (i == kAttributes / 2) {
            text += "TargetType = \"Job\"\n";
        }
    }
    text += "***\nNext = 1\n";
    FILE *file = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
    ASSERT_NE(nullptr, file);
    int is_eof = -1, error = -1, empty = -1;
    char delimiter[] = "***";
    ClassAd ad(file, delimiter, is_eof, error, empty);
    fclose(file);
    EXPECT_EQ(0, is_eof);
    EXPECT_EQ(0, error);
    EXPECT_EQ(0, empty);
    ExpectWhole(ad);
}

TEST_F(LargeAdRead, XmlForm) {
    std::string text = "<c><a n=\"MyType\"><s>Machine</s></a><a n=\"TargetType\"><s>Job</s></a>";
    for (int i = 0; i < kAttributes; i++) {
        std::string value = Value(i);
        switch (i % 3) {
            case 0:
                text += "<a n=\"" + Name(i) + "\"><i>" + value + "</i></a>";
                break;
            case 1:
                text +=
                    "<a n=\"" + Name(i) + "\"><s>" + value.substr(1, value.size() - 2) + "</s></a>";
                break;
            default:
                text += "<a n=\"" + Name(i) + "\"><e>" + value + "</e></a>";
                break;
        }
    }
    text += "</c>";
    ClassAdXMLParser parser;
    std::unique_ptr<ClassAd> ad(parser.ParseClassAd(text.c_str()));
    ExpectWhole(*ad);
}

TEST_F(LargeAdRead, StreamForm) {
    MemoryStream stream;
    stream.encode();
    int count = kAttributes;
    ASSERT_TRUE(stream.code(count));
    for (int i = 0; i < kAttributes; i++) {
        ASSERT_TRUE(stream.put((Name(i) + " = " + Value(i)).c_str()));
    }
    ASSERT_TRUE(stream.put("Machine"));
    ASSERT_TRUE(stream.put("Job"));
    ClassAd ad;
    ASSERT_TRUE(ad.initFromStream(stream));
    EXPECT_EQ(0u, stream.channel().available());
    ExpectWhole(ad);
}

}  // namespace

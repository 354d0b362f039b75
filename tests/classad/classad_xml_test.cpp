// Tests of the XML form of ClassAds: the writer's exact bytes and spacing
// options, every value kind written and read back, escaping and entities,
// the reader's tokenizing rules (blanks, raw strings, empty elements, text
// outside ads, several ads in one buffer), the two byte sources, and
// malformed or hostile input (unterminated and oversized tokens, NUL bytes,
// deep nesting, texts that do not parse).
#include "classad/classad_xml.h"

#include <stdio.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "classad/attr_list_list.h"
#include "classad/class_ad.h"
#include "classad/expr_tree.h"
#include "core/my_string.h"
#include "gtest/gtest.h"
#include "tests/support/output_capture.h"

namespace {

using namespace std::string_literals;

typedef std::unique_ptr<ClassAd> AdPtr;

class ClassAdXMLTest : public ::testing::Test {
 protected:
    // An ad with a my-type (null: none) and the given assignments.
    static AdPtr Ad(const char *my_type, std::initializer_list<const char *> assignments) {
        AdPtr ad(new ClassAd);
        ad->SetMyTypeName(my_type);
        for (const char *a : assignments) {
            EXPECT_TRUE(ad->Insert(a, true)) << a;
        }
        return ad;
    }

    std::string Write(ClassAd &ad, bool compact = true) {
        writer_.SetUseCompactSpacing(compact);
        MyString out;
        writer_.Unparse(&ad, out);
        return out.Value();
    }

    AdPtr Read(const std::string &text) { return AdPtr(parser_.ParseClassAd(text.c_str())); }

    static std::string Printed(ClassAd &ad) {
        MyString out;
        ad.sPrint(out);
        return out.Value();
    }

    // The right operand of attribute name, or null.
    static ExprTree *ValueOf(ClassAd &ad, const char *name) {
        ExprTree *tree = ad.Lookup(name);
        return tree != nullptr ? tree->RArg() : nullptr;
    }

    // The kind of attribute name's value; LX_NONE when absent.
    static LexemeType KindOf(ClassAd &ad, const char *name) {
        ExprTree *value = ValueOf(ad, name);
        return value != nullptr ? value->MyType() : LX_NONE;
    }

    // The text of a string value; "(no string)" for anything else.
    static std::string StringOf(ClassAd &ad, const char *name) {
        ExprTree *value = ValueOf(ad, name);
        if (value == nullptr || value->MyType() != LX_STRING) {
            return "(no string)";
        }
        return static_cast<StringBase *>(value)->Value();
    }

    // An integer or boolean value; -999 for anything else.
    static int IntOf(ClassAd &ad, const char *name) {
        int value = -999;
        ad.LookupInteger(name, value);
        return value;
    }

    static int CountAttributes(ClassAd &ad) {
        int n = 0;
        ad.ResetExpr();
        while (ad.NextExpr() != nullptr) {
            n++;
        }
        return n;
    }

    // The ad read from <c><a n="x">VALUE</a></c>.
    AdPtr ReadValue(const std::string &value) {
        return Read("<c><a n=\"x\">" + value + "</a></c>");
    }

    ClassAdXMLUnparser writer_;
    ClassAdXMLParser parser_;
};

TEST_F(ClassAdXMLTest, WritesExactCompactBytesAndReadsThemBack) {
    AdPtr ad = Ad("Machine", {"Memory = 64", "Name = \"a<b\"", "Ok = TRUE", "Load = 0.5",
                              "Req = Memory > 32"});
    std::string xml = Write(*ad);
    EXPECT_EQ(
        "<c><a n=\"MyType\"><s>Machine</s></a><a n=\"Memory\"><i>64</i></a>"
        "<a n=\"Name\"><s>a&lt;b</s></a><a n=\"Ok\"><b v=\"t\"/></a>"
        "<a n=\"Load\"><r>5.000000000000000E-01</r></a>"
        "<a n=\"Req\"><e>Memory &gt; 32</e></a></c>\n",
        xml);
    AdPtr back = Read(xml);
    EXPECT_EQ(Printed(*ad), Printed(*back));
    EXPECT_STREQ("Machine", back->GetMyTypeName());
    EXPECT_EQ(nullptr, back->Lookup("MyType"));
}

TEST_F(ClassAdXMLTest, SpacingAndTypeOptions) {
    AdPtr ad = Ad("Job", {"a = 1"});
    ad->SetTargetTypeName("Machine");
    EXPECT_TRUE(writer_.GetUseCompactSpacing());
    EXPECT_TRUE(writer_.GetOutputType());
    EXPECT_TRUE(writer_.GetOuputTargetType());
    EXPECT_EQ(
        "<c>\n"
        "    <a n=\"MyType\"><s>Job</s></a>\n"
        "    <a n=\"TargetType\"><s>Machine</s></a>\n"
        "    <a n=\"a\"><i>1</i></a>\n"
        "</c>\n",
        Write(*ad, false));
    writer_.SetOutputType(false);
    writer_.SetOutputTargetType(false);
    EXPECT_EQ("<c><a n=\"a\"><i>1</i></a></c>\n", Write(*ad));

    MyString doc;
    writer_.AddXMLFileHeader(doc);
    writer_.AddXMLFileFooter(doc);
    EXPECT_STREQ(
        "<?xml version=\"1.0\"?>\n<!DOCTYPE classads SYSTEM \"classads.dtd\">\n"
        "<classads>\n</classads>\n",
        doc.Value());
}

TEST_F(ClassAdXMLTest, WritesEachValueKind) {
    AdPtr ad = Ad(nullptr, {"i = -7", "r = -2.5", "no = FALSE", "u = UNDEFINED", "e = ERROR",
                            "at = '2026-12-09T08:00:00'", "x = size(b) == \"<&>\""});
    EXPECT_EQ(
        "<c><a n=\"i\"><i>-7</i></a><a n=\"r\"><r>-2.500000000000000E+00</r></a>"
        "<a n=\"no\"><b v=\"f\"/></a><a n=\"u\"><un/></a><a n=\"e\"><er/></a>"
        "<a n=\"at\"><t>2026-12-09T08:00:00</t></a>"
        "<a n=\"x\"><e>size(b) == \"&lt;&amp;&gt;\"</e></a></c>\n",
        Write(*ad));
    // Only an assignment to a plain name is written.
    AdPtr other = Ad(nullptr, {"y = 1 + 2"});
    MyString out;
    writer_.Unparse(ValueOf(*other, "y"), out);
    writer_.Unparse(static_cast<ExprTree *>(nullptr), out);
    EXPECT_EQ(0, out.Length());
}

TEST_F(ClassAdXMLTest, EveryValueKindRoundTrips) {
    AdPtr ad = Ad("Machine", {"Neg = -7", "Min = -2147483648", "Small = 0.000001",
                              "Big = 123456789.0", "NegReal = -2.5", "Quote = \"say \\\"hi\\\"\"",
                              "Specials = \"<&>'\"", "Empty = \"\"", "No = FALSE", "Yes = TRUE",
                              "U = UNDEFINED", "E = ERROR", "When = '2026-12-09T08:00:00'",
                              "Expr = MY.x + size(\"a&b\") * 2", "Group = (1 + 2)"});
    ad->SetTargetTypeName("Job");
    for (bool compact : {true, false}) {
        std::string xml = Write(*ad, compact);
        AdPtr back = Read(xml);
        EXPECT_EQ(Printed(*ad), Printed(*back)) << xml;
        EXPECT_EQ(xml, Write(*back, compact));
        EXPECT_STREQ("Job", back->GetTargetTypeName());
        EXPECT_EQ(LX_UNDEFINED, KindOf(*back, "U"));
        EXPECT_EQ(LX_ERROR, KindOf(*back, "E"));
        EXPECT_EQ(LX_TIME, KindOf(*back, "When"));
        EXPECT_EQ(LX_FLOAT, KindOf(*back, "Small"));
        float small = 0;
        EXPECT_TRUE(back->LookupFloat("Small", small));
        EXPECT_EQ(0.000001f, small);
        EXPECT_EQ("say \"hi\"", StringOf(*back, "Quote"));
        EXPECT_EQ(CountAttributes(*ad), CountAttributes(*back));
    }
}

TEST_F(ClassAdXMLTest, StringTextIsTakenAsIs) {
    // Quotes at the ends of a string are part of its text, not delimiters.
    AdPtr ad = Ad(nullptr, {"q = \"\\\"quoted\\\"\"", "tail = \"ends with \\\\\""});
    AdPtr back = Read(Write(*ad));
    EXPECT_EQ("\"quoted\"", StringOf(*back, "q"));
    EXPECT_EQ("ends with \\\\", StringOf(*back, "tail"));
    // Single and double quotes are written unchanged.
    EXPECT_NE(std::string::npos, Write(*ad).find("<s>\"quoted\"</s>"));
}

TEST_F(ClassAdXMLTest, InfiniteRealsReadBackAsReals) {
    AdPtr ad = Ad(nullptr, {"Huge = 1.0e39", "Tiny = -1.0e39"});
    ASSERT_EQ(LX_FLOAT, KindOf(*ad, "Huge"));
    AdPtr back = Read(Write(*ad));
    ASSERT_EQ(LX_FLOAT, KindOf(*back, "Huge"));
    ASSERT_EQ(LX_FLOAT, KindOf(*back, "Tiny"));
    EXPECT_TRUE(*ValueOf(*ad, "Huge") == *ValueOf(*back, "Huge"));
    EXPECT_TRUE(*ValueOf(*ad, "Tiny") == *ValueOf(*back, "Tiny"));
}

TEST_F(ClassAdXMLTest, BlanksListsAndRawStrings) {
    AdPtr ad = ReadValue(" <i>5</i> ");
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\nx = 5\n", Printed(*ad));
    EXPECT_EQ(nullptr, ReadValue("<l>1, 2</l>")->Lookup("x"));
    EXPECT_EQ("  padded", StringOf(*ReadValue("<s>  padded</s>"), "x"));
    EXPECT_EQ("", StringOf(*ReadValue("<s></s>"), "x"));
    EXPECT_EQ(" \n ", StringOf(*ReadValue("<s> \n </s>"), "x"));
    // Times are read the same way.
    AdPtr times = Ad(nullptr, {"empty = ''", "blank = '  '"});
    AdPtr back = Read(Write(*times));
    EXPECT_EQ(Printed(*times), Printed(*back));
}

TEST_F(ClassAdXMLTest, DecodesTheFiveEntitiesOnly) {
    AdPtr ad = ReadValue("<s>&quot;&apos;&amp;&lt;&gt; &foo; & &amp</s>");
    EXPECT_EQ("\"'&<> &foo; & &amp", StringOf(*ad, "x"));
    EXPECT_EQ(LX_LT, KindOf(*ReadValue("<e>1 &lt; 2</e>"), "x"));
}

TEST_F(ClassAdXMLTest, BooleansUndefinedAndError) {
    AdPtr yes = ReadValue("<b v=\"t\"/>");
    EXPECT_EQ(LX_BOOL, KindOf(*yes, "x"));
    EXPECT_EQ(1, IntOf(*yes, "x"));
    AdPtr ad = ReadValue("<b v=\"no\"/>");
    EXPECT_EQ(0, IntOf(*ad, "x"));
    EXPECT_EQ(nullptr, ReadValue("<b/>")->Lookup("x"));
    EXPECT_EQ(nullptr, ReadValue("<b w=\"t\"/>")->Lookup("x"));
    // Empty elements carry their value with no text after them.
    EXPECT_EQ(LX_UNDEFINED, KindOf(*ReadValue("<un/>"), "x"));
    EXPECT_EQ(LX_ERROR, KindOf(*ReadValue("<er/>"), "x"));
}

TEST_F(ClassAdXMLTest, TypesComeFromStringValuesOfTheirAttributes) {
    AdPtr ad = Read(
        "<c><a n=\"MyType\"><s>Job</s></a><a n=\"TargetType\"><e>\"Machine\"</e></a>"
        "<a n=\"mytype\"><s>lower</s></a></c>");
    EXPECT_STREQ("Job", ad->GetMyTypeName());
    EXPECT_STREQ("Machine", ad->GetTargetTypeName());
    EXPECT_EQ(nullptr, ad->Lookup("TargetType"));
    // Names compare in exact case: this one stays an attribute.
    EXPECT_EQ("lower", StringOf(*ad, "mytype"));
    // A type attribute that is not a string stays an attribute too.
    AdPtr typed = Read("<c><a n=\"MyType\"><i>3</i></a></c>");
    EXPECT_STREQ("", typed->GetMyTypeName());
    EXPECT_NE(nullptr, typed->Lookup("MyType"));
}

TEST_F(ClassAdXMLTest, IgnoresWhatLiesOutsideAnAd) {
    AdPtr ad = Read(
        "<?xml version=\"1.0\"?>\nstray <a n=\"y\"><i>1</i></a></c>\n<classads><c>"
        "<a n=\"x\"><i>2</i></a><i>9</i></c><a n=\"z\"><i>3</i></a>");
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\nx = 2\n", Printed(*ad));
    EXPECT_EQ(0, CountAttributes(*Read("<a n=\"x\"><i>1</i></a>")));
    EXPECT_EQ(0, CountAttributes(*Read("")));
    EXPECT_EQ(0, CountAttributes(*AdPtr(parser_.ParseClassAd(static_cast<const char *>(nullptr)))));
    // Attributes without a usable name are skipped; the rest is read.
    AdPtr named = Read(
        "<c><a m=\"x\"><i>1</i></a><a n=\"\"><i>2</i></a><a n=\"1x\"><i>3</i></a>"
        "<a n=\"a==b\"><i>4</i></a><a n=\"TRUE\"><s>t</s></a><a n=\"ok\"><i>5</i></a></c>");
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\nok = 5\n", Printed(*named));
}

TEST_F(ClassAdXMLTest, WalksSeveralAdsInOneBuffer) {
    std::string buffer =
        "<classads>\n<c><a n=\"a\"><i>1</i></a></c>\n<c><a n=\"b\"><s>\xff</s></a></c>\n"
        "</classads>\n";
    int place = 0;
    AdPtr first(parser_.ParseClassAds(buffer.c_str(), &place));
    EXPECT_EQ(static_cast<int>(buffer.find("</c>") + 4), place);
    AdPtr second(parser_.ParseClassAds(buffer.c_str(), &place));
    EXPECT_NE(nullptr, first->Lookup("a"));
    EXPECT_EQ(nullptr, first->Lookup("b"));
    ASSERT_NE(nullptr, second->Lookup("b"));
    EXPECT_EQ("\xff", StringOf(*second, "b"));
    AdPtr third(parser_.ParseClassAds(buffer.c_str(), &place));
    EXPECT_EQ(0, CountAttributes(*third));
    EXPECT_EQ(static_cast<int>(buffer.size()), place);
    // Unusable places read nothing and move nothing.
    int negative = -3;
    AdPtr none(parser_.ParseClassAds(buffer.c_str(), &negative));
    EXPECT_EQ(-3, negative);
    EXPECT_EQ(0, CountAttributes(*none));
    EXPECT_EQ(0, CountAttributes(*AdPtr(parser_.ParseClassAds(buffer.c_str(), nullptr))));
}

TEST_F(ClassAdXMLTest, ReadsAdsOneAfterAnotherFromAPipe) {
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    std::string text = "<c><a n=\"a\"><s>one</s></a></c>\n<c><a n=\"b\"> <i>2</i></a></c>";
    ASSERT_EQ(static_cast<ssize_t>(text.size()), write(fds[1], text.data(), text.size()));
    close(fds[1]);
    FILE *file = fdopen(fds[0], "r");
    ASSERT_NE(nullptr, file);
    AdPtr first(parser_.ParseClassAd(file));
    AdPtr second(parser_.ParseClassAd(file));
    AdPtr third(parser_.ParseClassAd(file));
    fclose(file);
    EXPECT_EQ("one", StringOf(*first, "a"));
    EXPECT_EQ(nullptr, second->Lookup("a"));
    EXPECT_EQ(2, IntOf(*second, "b"));
    EXPECT_EQ(0, CountAttributes(*third));
    EXPECT_EQ(0, CountAttributes(*AdPtr(parser_.ParseClassAd(static_cast<FILE *>(nullptr)))));
}

TEST_F(ClassAdXMLTest, ListOfAdsWrittenAsXmlReadsBack) {
    ClassAdList list;
    list.Insert(Ad("Machine", {"Memory = 64", "Name = \"n&1\""}).release());
    list.Insert(Ad(nullptr, {"Ok = FALSE", "Start = Memory > 2"}).release());
    FILE *file = tmpfile();
    ASSERT_TRUE(list.fPrintAttrListList(file, true));
    rewind(file);
    AdPtr first(parser_.ParseClassAd(file));
    AdPtr second(parser_.ParseClassAd(file));
    fclose(file);
    list.Open();
    EXPECT_EQ(Printed(*list.Next()), Printed(*first));
    EXPECT_EQ(Printed(*list.Next()), Printed(*second));
    list.Close();
}

TEST_F(ClassAdXMLTest, CharSourceStaysInsideItsText) {
    const char text[] = "a\xff";
    CharXMLSource source(text);
    source.PushbackCharacter();  // nothing to step back over
    EXPECT_EQ(0, source.GetCurrentLocation());
    EXPECT_EQ('a', source.ReadCharacter());
    EXPECT_EQ(0xff, source.ReadCharacter());
    EXPECT_TRUE(source.AtEnd());
    EXPECT_EQ(-1, source.ReadCharacter());
    EXPECT_EQ(2, source.GetCurrentLocation());
    source.PushbackCharacter();
    EXPECT_EQ(0xff, source.ReadCharacter());
    CharXMLSource empty(nullptr);
    EXPECT_TRUE(empty.AtEnd());
    EXPECT_EQ(-1, empty.ReadCharacter());
}

TEST_F(ClassAdXMLTest, DropsValuesThatDoNotParse) {
    AdPtr ad = Read(
        "<c><a n=\"a\"><i>1 +</i></a><a n=\"b\"><e>x = 2</e></a><a n=\"c\"><t>a'b</t></a>"
        "<a n=\"d\"><r>2.5</r></a><a n=\"e\"><t>'12:00'</t></a></c>");
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\nd = 2.500000\ne = '12:00'\n", Printed(*ad));
    // Replacement: the last value of a name wins.
    AdPtr twice = ReadValue("<i>1</i></a><a n=\"X\"><i>2</i>");
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\nX = 2\n", Printed(*twice));
}

// Ads read one at a time, each gone (with the string space) before the
// next: expressions met before are kept as text until asked for, and
// answer as the first reading did; a text that is no assignment to its
// element's name is dropped every time.
TEST_F(ClassAdXMLTest, ExpressionsReadAgainAfterTheLastAdWentAnswerAlike) {
    const std::string xml =
        "<c><a n=\"Start\"><e>(KeyboardIdle &gt; 900) &amp;&amp; (Mips &gt;= 5)</e></a>"
        "<a n=\"Mips\"><i>7</i></a><a n=\"Rank\"><e>Mips * 2</e></a>"
        "<a n=\"b\"><e>x = 2</e></a><a n=\"KeyboardIdle\"><i>1000</i></a></c>";
    std::string first;
    {
        AdPtr ad = Read(xml);
        ASSERT_NE(nullptr, ad);
        first = Printed(*ad);
    }
    EXPECT_EQ(std::string::npos, first.find("\nb = "));
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(0, ExprTree::string_space_references);
        AdPtr ad = Read(xml);
        ASSERT_NE(nullptr, ad);
        int rank = 0;
        int start = 0;
        if (round == 0) {
            EXPECT_EQ(first, Printed(*ad));
        }
        EXPECT_EQ(1, ad->EvalInteger("Rank", nullptr, rank));
        EXPECT_EQ(14, rank);
        EXPECT_EQ(1, ad->EvalBool("Start", nullptr, start));
        EXPECT_EQ(1, start);
        EXPECT_EQ(first, Printed(*ad));
    }
}

TEST_F(ClassAdXMLTest, RefusesUnterminatedAndOversizedTokens) {
    // An unterminated tag at the end is not taken as a tag.
    AdPtr cut = Read("<c><a n=\"x\"><i>5</i></a><a n=\"y\"");
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\nx = 5\n", Printed(*cut));
    EXPECT_EQ(1, CountAttributes(*Read("<c><a n=\"x\"><i>5")));

    std::string long_tag = "<c><a n=\"" + std::string(kXMLMaxTagLength, 'q') +
                           "\"><i>1</i></a><a n=\"ok\"><i>2</i></a></c>";
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\nok = 2\n", Printed(*Read(long_tag)));

    std::string long_text = "<c><a n=\"big\"><s>" + std::string(kXMLMaxTextLength + 1, 'z') +
                            "</s></a><a n=\"ok\"><i>2</i></a></c>";
    EXPECT_EQ("MyType = \"\"\nTargetType = \"\"\nok = 2\n", Printed(*Read(long_text)));
    std::string fits = "<c><a n=\"big\"><s>" + std::string(1000, 'z') + "</s></a></c>";
    EXPECT_NE(nullptr, Read(fits)->Lookup("big"));
    // Memory is read a run at a time, a file a byte at a time: both keep a
    // text of exactly the bound and refuse one byte more.
    for (size_t size : {static_cast<size_t>(kXMLMaxTextLength), kXMLMaxTextLength + size_t{1}}) {
        std::string text = "<c><a n=\"big\"><s> " + std::string(size - 1, 'z') + "</s></a></c>";
        bool kept = size <= static_cast<size_t>(kXMLMaxTextLength);
        EXPECT_EQ(kept, Read(text)->Lookup("big") != nullptr) << size;
        FILE *file = tmpfile();
        ASSERT_EQ(text.size(), fwrite(text.data(), 1, text.size(), file));
        rewind(file);
        AdPtr from_file(parser_.ParseClassAd(file));
        fclose(file);
        EXPECT_EQ(kept, from_file->Lookup("big") != nullptr) << size;
    }
}

TEST_F(ClassAdXMLTest, NulBytesInAFileDropTheirToken) {
    std::string text =
        "<c><a n=\"a\"><s>x\0y</s></a><a n=\"b\"><i>2</i></a><a\0 n=\"c\"><i>3</i></a></c>"s;
    FILE *file = tmpfile();
    ASSERT_EQ(text.size(), fwrite(text.data(), 1, text.size(), file));
    rewind(file);
    AdPtr ad(parser_.ParseClassAd(file));
    fclose(file);
    EXPECT_EQ(nullptr, ad->Lookup("a"));
    EXPECT_NE(nullptr, ad->Lookup("b"));
    EXPECT_EQ(nullptr, ad->Lookup("c"));
    // In memory a NUL is the end of the text.
    EXPECT_EQ(nullptr, Read(text)->Lookup("b"));
}

TEST_F(ClassAdXMLTest, DeepNestingAndDeepExpressionsAreHarmless) {
    std::string nested;
    for (int i = 0; i < 20000; i++) {
        nested += "<c><a n=\"x\"><l>";
    }
    nested += "<i>1</i>";
    AdPtr ad = Read(nested);  // the reader is flat: the last value counts
    EXPECT_EQ(1, IntOf(*ad, "x"));
    std::string deep_expression(5000, '(');
    deep_expression += "1" + std::string(5000, ')');
    EXPECT_EQ(nullptr, ReadValue("<e>" + deep_expression + "</e>")->Lookup("x"));
}

TEST_F(ClassAdXMLTest, DumpPrintsTokensAndTagsMatchExactly) {
    XMLToken tag;
    tag.SetType(XMLToken_Tag);
    tag.SetTag(tag_Attribute);
    tag.SetAttribute("n", "Memory");
    XMLToken end;
    end.SetType(XMLToken_Tag);
    end.SetTag(tag_Bool);
    end.SetIsEnd(true);
    XMLToken text;
    text.SetType(XMLToken_Text);
    text.SetText("64");
    XMLToken blank;
    blank.SetType(XMLToken_Text);
    XMLToken fresh;
    torvel_test::OutputCapture captured_out(STDOUT_FILENO);
    tag.Dump();
    end.Dump();
    text.Dump();
    blank.Dump();
    fresh.Dump();
    EXPECT_EQ(
        "Token (Type=\"Tag\", IsEnd = false, Tag = a, n = Memory)\n"
        "Token (Type=\"Tag\", IsEnd = true, Tag = b)\n"
        "Token (Type=\"Text\", Text = 64)\n"
        "Token (Type=\"Text\", <empty>)\n"
        "Token (Type=\"Invalid\", )\n",
        captured_out.Finish());
    // An attribute with an empty part is not kept.
    tag.SetAttribute("n", "");
    EXPECT_FALSE(tag.GetAttribute(nullptr, nullptr));
    // Element names are looked up in exact case and whole.
    EXPECT_EQ(tag_Error, _torvel_xml_tag_lookup("er", 2));
    EXPECT_EQ(tag_Expr, _torvel_xml_tag_lookup("er", 1));
    EXPECT_EQ(tag_NoTag, _torvel_xml_tag_lookup("C", 1));
}

}  // namespace

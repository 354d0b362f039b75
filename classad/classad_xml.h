// The XML form of ClassAds: ClassAdXMLUnparser writes an ad, or one
// attribute, as XML text. (The reader of that form is not part of this
// header yet.)
#ifndef TORVEL_CLASSAD_CLASSAD_XML_H_
#define TORVEL_CLASSAD_CLASSAD_XML_H_

class ClassAd;
class ExprTree;
class MyString;

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

#endif  // TORVEL_CLASSAD_CLASSAD_XML_H_

// Tests of macro expansion: plain references, "$$", $(DOLLAR), $ENV and
// $RANDOM_CHOICE (with their fatal cases), self-reference mode, the
// reference finders, and the bounds that stop reference cycles.
#include "config/macro_expand.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <string>

#include "core/my_string.h"
#include "core/random_numbers.h"
#include "reader_test_support.h"
#include "tests/support/output_capture.h"

namespace {

using reader_test::LocalTable;

class MacroExpandTest : public ::testing::Test {
 protected:
    void Set(const char *name, const char *value) {
        insert(name, value, table_.heads, table_.size);
    }
    // Expansion result, "<null>" for null; stderr kept in err_.
    std::string Expand(const char *text, const char *self = nullptr) {
        torvel_test::OutputCapture captured_err(STDERR_FILENO);
        char *result = expand_macro(text, table_.heads, table_.size, self);
        err_ = captured_err.Finish();
        std::string out = result != nullptr ? result : "<null>";
        free(result);
        return out;
    }
    LocalTable<113> table_;
    std::string err_;
};

TEST_F(MacroExpandTest, PlainReferences) {
    Set("x", "1");
    Set("y", "$(X)$(x)");
    EXPECT_EQ("a 11 b", Expand("a $(Y) b"));
    EXPECT_EQ("x", Expand("$(UNDEFINED_NAME)x"));
    EXPECT_EQ("", Expand(""));
    EXPECT_EQ("<null>", Expand(nullptr));
    EXPECT_EQ("", err_);
}

TEST_F(MacroExpandTest, ReferencesFormedBySubstitutionAreExpanded) {
    Set("x", "found");
    Set("dollar_sign", "$");
    // "$" brought in before "(X)" forms $(X), found by the next pass.
    EXPECT_EQ("found", Expand("$(DOLLAR_SIGN)(X)"));
    // ... while a "$" brought in before a reference makes it "$$(...)".
    Set("open", "(X)");
    EXPECT_EQ("$$(OPEN)", Expand("$(DOLLAR_SIGN)$(OPEN)"));
}

TEST_F(MacroExpandTest, DoubleDollarKeepsTheReference) {
    Set("x", "1");
    EXPECT_EQ("$$(X) 1", Expand("$$(X) $(X)"));
    EXPECT_EQ("$ 1", Expand("$ $(X)"));
    EXPECT_EQ("$x", Expand("$x"));
}

TEST_F(MacroExpandTest, DollarMacro) {
    Set("x", "1");
    EXPECT_EQ("$", Expand("$(DOLLAR)"));
    EXPECT_EQ("$(X)", Expand("$(dollar)(X)"));  // produced text is not expanded
    EXPECT_EQ("a$b$c", Expand("a$(DOLLAR)b$(Dollar)c"));
    EXPECT_EQ("$$(DOLLAR)", Expand("$$(DOLLAR)"));
    Set("d", "$(DOLLAR)");
    EXPECT_EQ("$", Expand("$(D)"));
}

TEST_F(MacroExpandTest, NamesWithOtherCharactersAreNotReferences) {
    Set("a", "1");
    EXPECT_EQ("$(a b) $(a-) $(", Expand("$(a b) $(a-) $("));
    EXPECT_EQ("$(a1", Expand("$(a$(A)"));
    EXPECT_EQ("$(\xc3\xa9)", Expand("$(\xc3\xa9)"));
}

TEST_F(MacroExpandTest, EnvReferences) {
    setenv("MACRO_EXPAND_TEST", "from env", 1);
    EXPECT_EQ("[from env]", Expand("[$ENV(MACRO_EXPAND_TEST)]"));
    // The value is expanded again: it may hold references.
    Set("x", "1");
    setenv("MACRO_EXPAND_TEST", "$(X)", 1);
    EXPECT_EQ("1", Expand("$ENV(MACRO_EXPAND_TEST)"));
    // Case-sensitive prefix, "(" directly after it, restricted names.
    EXPECT_EQ("$env(MACRO_EXPAND_TEST)", Expand("$env(MACRO_EXPAND_TEST)"));
    EXPECT_EQ("$ENV (X)", Expand("$ENV (X)"));
    EXPECT_EQ("$ENV(A B)", Expand("$ENV(A B)"));
    unsetenv("MACRO_EXPAND_TEST");
}

TEST_F(MacroExpandTest, RandomChoiceDrawsEveryItem) {
    set_seed(12345);
    std::map<std::string, int> seen;
    for (int i = 0; i < 300; ++i) {
        ++seen[Expand("$RANDOM_CHOICE(a,b,c)")];
    }
    ASSERT_EQ(3u, seen.size());
    EXPECT_GT(seen["a"], 50);
    EXPECT_GT(seen["b"], 50);
    EXPECT_GT(seen["c"], 50);
    EXPECT_EQ("only", Expand("$RANDOM_CHOICE(only)"));
    Set("x", "1");
    EXPECT_EQ("1", Expand("$RANDOM_CHOICE($(X))"));  // any text up to ")"
}

TEST_F(MacroExpandTest, SelfModeExpandsOnlySelf) {
    Set("x", "old");
    Set("y", "other");
    EXPECT_EQ("old more $(Y) $ENV(HOME) $(DOLLAR) $RANDOM_CHOICE(a)",
              Expand("$(X) more $(Y) $ENV(HOME) $(DOLLAR) $RANDOM_CHOICE(a)", "x"));
    EXPECT_EQ("oldold", Expand("$(x)$(X)", "X"));
    EXPECT_EQ("$(XX)", Expand("$(XX)", "X"));  // same prefix, other length
    EXPECT_EQ("", Expand("$(NEW)", "new"));
}

TEST_F(MacroExpandTest, CyclesEndWithAMessageNamingAMacro) {
    Set("a", "$(B)");
    Set("b", "$(A)");
    EXPECT_EQ("<null>", Expand("$(A)"));
    EXPECT_EQ(0u, err_.find("Configuration Error: $("));
    EXPECT_NE(std::string::npos, err_.find("still expanding after 4096 passes")) << err_;
    EXPECT_TRUE(err_.find("$(A)") != std::string::npos || err_.find("$(B)") != std::string::npos);

    // A self-referencing stored value loops in self mode too.
    Set("s", "$(S)");
    EXPECT_EQ("<null>", Expand("$(S)", "s"));
    EXPECT_EQ(0u, err_.find("Configuration Error: $(S) still expanding"));
}

TEST_F(MacroExpandTest, GrowingCyclesHitTheLengthBound) {
    std::string big(10000, 'g');
    Set("g", ("$(G)" + big).c_str());
    EXPECT_EQ("<null>", Expand("$(G)"));
    EXPECT_EQ(0u, err_.find("Configuration Error: expanding $(G) makes the text longer than "
                            "262144 bytes"))
        << err_;
    // Through the environment as well.
    setenv("MACRO_EXPAND_GROW", ("$ENV(MACRO_EXPAND_GROW)" + big).c_str(), 1);
    EXPECT_EQ("<null>", Expand("$ENV(MACRO_EXPAND_GROW)"));
    EXPECT_EQ(0u, err_.find("Configuration Error: expanding $ENV(MACRO_EXPAND_GROW)")) << err_;
    unsetenv("MACRO_EXPAND_GROW");
}

TEST_F(MacroExpandTest, LongTextsThatDoNotGrowAreFine) {
    std::string big(300000, 'b');
    Set("e", "");
    EXPECT_EQ(big, Expand((big + "$(E)").c_str()));
    EXPECT_EQ("", err_);
}

TEST_F(MacroExpandTest, ManyReferencesBelowTheBoundsExpand) {
    Set("one", "1");
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "$(ONE)";
    }
    EXPECT_EQ(std::string(2000, '1'), Expand(text.c_str()));
}

// ---- the resuming expansion against the pass loop ----

TEST_F(MacroExpandTest, ReferencesToEmptyAndUndefinedNames) {
    Set("e", "");
    Set("a", "1");
    Set("close", ")");
    EXPECT_EQ("xy", Expand("x$(e)y"));
    EXPECT_EQ("xy", Expand("x$(undefined_name)y"));
    EXPECT_EQ("", Expand("$(e)$(e)$(undefined_name)"));
    // The "$(a" before the reference becomes a reference once it is gone:
    // the rescan must go back to it.
    EXPECT_EQ("1", Expand("$(a$(e))"));
    EXPECT_EQ("1", Expand("$(a$(close)"));
    EXPECT_EQ("$$(e)(a)", Expand("$$(e)(a)"));
    EXPECT_EQ("$$(e)1", Expand("$$(e)$(a)"));
    EXPECT_EQ("", err_);
}

TEST_F(MacroExpandTest, SpecialsFormedBySubstitutionAreExpanded) {
    setenv("MACRO_EXPAND_TEST", "env", 1);
    Set("e", "");
    Set("tail", "V(MACRO_EXPAND_TEST)");
    Set("held", "[$ENV(MACRO_EXPAND_TEST)]");
    EXPECT_EQ("env", Expand("$EN$(e)V(MACRO_EXPAND_TEST)"));
    EXPECT_EQ("env", Expand("$EN$(tail)"));
    EXPECT_EQ("a [env] b", Expand("a $(held) b"));
    EXPECT_EQ("[$ENV(MACRO_EXPAND_TEST)]", Expand("$(held)", "held"));  // self mode keeps it
    unsetenv("MACRO_EXPAND_TEST");
}

TEST_F(MacroExpandTest, RandomChoiceInAChainIsDrawnAtEveryExpansion) {
    Set("choice", "$RANDOM_CHOICE(p,q)");
    Set("chain", "<$(choice)>");
    std::map<std::string, int> seen;
    for (int i = 0; i < 200; ++i) {
        seen[Expand("$(chain)")]++;
    }
    EXPECT_EQ(2u, seen.size());
    EXPECT_GT(seen["<p>"], 0);
    EXPECT_GT(seen["<q>"], 0);
}

// The expansion as specified, one pass at a time: $ENV, then the first
// reference, each rescanning from the start; then $(DOLLAR). Bounds as in
// config/macro_expand.h, reported as "<null>"; "<fatal>" for an unset
// $ENV variable.
std::string PassLoop(const std::string &value, MacroBucket **table, int size) {
    std::string text = value;
    for (int pass = 0;; ++pass) {
        bool changed = false;
        std::string work = text;
        char *left, *name, *tail;
        if (get_special_var("$ENV", true, &work[0], &left, &name, &tail)) {
            if (getenv(name) == nullptr) {
                return "<fatal>";  // ends the process
            }
            text = std::string(left) + getenv(name) + tail;
            changed = true;
        }
        work = text;
        if (get_var(&work[0], &left, &name, &tail, nullptr)) {
            if (pass >= MACRO_EXPAND_MAX_PASSES) {
                return "<null>";
            }
            const char *found = lookup_macro(name, table, size);
            std::string next = std::string(left) + (found != nullptr ? found : "") + tail;
            if (next.size() > static_cast<size_t>(MACRO_EXPAND_MAX_LENGTH) &&
                next.size() > text.size()) {
                return "<null>";
            }
            text = next;
            changed = true;
        }
        if (!changed) {
            break;
        }
    }
    for (;;) {
        std::string work = text;
        char *left, *name, *tail;
        if (!get_var(&work[0], &left, &name, &tail, "DOLLAR")) {
            return text;
        }
        text = std::string(left) + "$" + tail;
    }
}

// Texts of up to most - 1 pieces drawn from a fixed list, the same sequence
// for the same seed.
class PieceTexts {
 public:
    PieceTexts(const char * const *pieces, int count, unsigned seed)
        : pieces_(pieces), count_(count), seed_(seed) {}
    std::string Text(int most) {
        std::string t;
        for (int i = Next(most); i > 0; --i) {
            t += pieces_[Next(count_)];
        }
        return t;
    }

 private:
    int Next(int bound) {
        seed_ = seed_ * 1103515245u + 12345u;
        return static_cast<int>((seed_ >> 16) % static_cast<unsigned>(bound));
    }
    const char * const *pieces_;
    int count_;
    unsigned seed_;
};

// Random texts built from the pieces that steer a scan, in values that may
// refer to each other (cycles included).
TEST_F(MacroExpandTest, ResumingExpansionAgreesWithThePassLoop) {
    setenv("MACRO_EXPAND_TEST", "(a)", 1);
    const char *pieces[] = {"$",
                            "$$",
                            "$(",
                            ")",
                            "(",
                            "a",
                            "b",
                            "e",
                            ".",
                            " ",
                            "DOLLAR",
                            "$(a)",
                            "$(b)",
                            "$(e)",
                            "$(u)",
                            "$(DOLLAR)",
                            "$EN",
                            "V(",
                            "MACRO_EXPAND_TEST",
                            "$ENV(MACRO_EXPAND_TEST)"};
    PieceTexts texts(pieces, sizeof pieces / sizeof pieces[0], 12345);
    auto text = [&texts](int most) { return texts.Text(most); };
    int compared = 0;
    for (int round = 0; round < 400; ++round) {
        clear_macro_table(table_.heads, table_.size);
        Set("a", text(4).c_str());
        Set("b", text(6).c_str());
        Set("e", "");
        std::string value = text(12);
        std::string expected = PassLoop(value, table_.heads, table_.size);
        if (expected == "<fatal>") {
            continue;
        }
        ++compared;
        ASSERT_EQ(expected, Expand(value.c_str()))
            << "value <" << value << "> a <" << table_.Lookup("a") << "> b <" << table_.Lookup("b")
            << ">";
        ASSERT_EQ(expected == "<null>", !err_.empty()) << value << err_;
    }
    EXPECT_GT(compared, 250);
    unsetenv("MACRO_EXPAND_TEST");
}

// Texts whose every "$" starts a reference to a value without "$" are
// expanded in one go; these are the edges where that way must give way to
// the stepwise one.
TEST_F(MacroExpandTest, OneGoExpansionKeepsTheStepwiseResults) {
    Set("e", "");
    Set("a", "1");
    Set("s", "v");
    // A "$" before a reference may start a special prefix once the
    // reference is gone.
    EXPECT_EQ("p", Expand("$RANDOM_CHOIC$(e)E(p)"));
    EXPECT_EQ("p", Expand("$RANDOM_CHOICE$(e)(p)"));
    EXPECT_EQ("$RANDOM_CHOICEx1(p)", Expand("$RANDOM_CHOICEx$(a)(p)"));
    // More references than are expanded in one go, and self mode.
    EXPECT_EQ("1.1.1.1.1.1.1.1.1.1", Expand("$(a).$(a).$(a).$(a).$(a).$(a).$(a).$(a).$(a).$(a)"));
    EXPECT_EQ("v-v $(a)", Expand("$(s)-$(S) $(a)", "s"));
    EXPECT_EQ("", err_);
    // Values that pass the length bound only together.
    std::string big(200000, 'x');
    Set("big", big.c_str());
    EXPECT_EQ(big + "1", Expand("$(big)$(a)"));
    EXPECT_EQ("<null>", Expand("$(big)$(big)"));
    EXPECT_EQ(0u, err_.find("Configuration Error: expanding $(big) makes the text longer")) << err_;
}

// Self mode expanded one reference at a time, each time rescanning from
// the start, with the pass bound; "<null>" for an exceeded bound.
std::string SelfPassLoop(const std::string &value, const char *self, MacroBucket **table,
                         int size) {
    std::string text = value;
    for (int pass = 0;; ++pass) {
        std::string work = text;
        char *left, *name, *tail;
        if (!get_var(&work[0], &left, &name, &tail, self)) {
            return text;
        }
        if (pass >= MACRO_EXPAND_MAX_PASSES) {
            return "<null>";
        }
        const char *found = lookup_macro(name, table, size);
        std::string next = std::string(left) + (found != nullptr ? found : "") + tail;
        if (next.size() > static_cast<size_t>(MACRO_EXPAND_MAX_LENGTH) &&
            next.size() > text.size()) {
            return "<null>";
        }
        text = next;
    }
}

TEST_F(MacroExpandTest, SelfModeAgreesWithThePassLoop) {
    const char *pieces[] = {"$", "$$", "$(", ")", "(", "s", "a", ".", " ", "$(s)", "$(S)", "$(a)"};
    PieceTexts texts(pieces, sizeof pieces / sizeof pieces[0], 54321);
    auto text = [&texts](int most) { return texts.Text(most); };
    for (int round = 0; round < 300; ++round) {
        clear_macro_table(table_.heads, table_.size);
        Set("s", text(4).c_str());
        Set("a", text(4).c_str());
        std::string value = text(10);
        std::string expected = SelfPassLoop(value, "s", table_.heads, table_.size);
        ASSERT_EQ(expected, Expand(value.c_str(), "s"))
            << "value <" << value << "> s <" << table_.Lookup("s") << "> a <" << table_.Lookup("a")
            << ">";
    }
}

TEST(GetVarTest, CutsTheTextInPlace) {
    char text[] = "left $(Name.1_x) tail";
    char *left = nullptr;
    char *name = nullptr;
    char *tail = nullptr;
    ASSERT_TRUE(get_var(text, &left, &name, &tail, nullptr));
    EXPECT_EQ(text, left);
    EXPECT_STREQ("left ", left);
    EXPECT_STREQ("Name.1_x", name);
    EXPECT_STREQ(" tail", tail);
}

TEST(GetVarTest, SkipsWhatIsNotAReference) {
    char *left = nullptr;
    char *name = nullptr;
    char *tail = nullptr;
    char skipped[] = "$$(A) $x $(b c) $(DOLLAR) $(d";
    EXPECT_FALSE(get_var(skipped, &left, &name, &tail, nullptr));
    char self_text[] = "$(AB) $(a) $(A)";
    ASSERT_TRUE(get_var(self_text, &left, &name, &tail, "A"));
    EXPECT_STREQ("$(AB) ", left);
    EXPECT_STREQ("a", name);
    EXPECT_STREQ(" $(A)", tail);
    char dollar[] = "x $(dollar)";
    ASSERT_TRUE(get_var(dollar, &left, &name, &tail, "DOLLAR"));
    EXPECT_STREQ("dollar", name);
}

TEST(GetSpecialVarTest, RestrictedAndFreeNames) {
    char *left = nullptr;
    char *name = nullptr;
    char *tail = nullptr;
    char env[] = "$ENV(a b) $ENVX(A) $ENV(OK_1.x) end";
    ASSERT_TRUE(get_special_var("$ENV", true, env, &left, &name, &tail));
    EXPECT_STREQ("$ENV(a b) $ENVX(A) ", left);
    EXPECT_STREQ("OK_1.x", name);
    EXPECT_STREQ(" end", tail);

    char choice[] = "<$RANDOM_CHOICE(a b, $(c)) x>";
    ASSERT_TRUE(get_special_var("$RANDOM_CHOICE", false, choice, &left, &name, &tail));
    EXPECT_STREQ("<", left);
    EXPECT_STREQ("a b, $(c", name);
    EXPECT_STREQ(") x>", tail);

    char open[] = "$RANDOM_CHOICE(a,b";
    EXPECT_FALSE(get_special_var("$RANDOM_CHOICE", false, open, &left, &name, &tail));
}

// A check of a text to be stored must not end the process, nor pass a
// draw that the real expansion could make differently.
TEST_F(MacroExpandTest, CheckRefusesWhatWouldEndTheProcessOrDiffer) {
    unsetenv("MACRO_EXPAND_SURELY_UNSET");
    setenv("MACRO_EXPAND_TEST", "set", 1);
    Set("evil", "$ENV(MACRO_EXPAND_SURELY_UNSET)");
    Set("fine", "[$ENV(MACRO_EXPAND_TEST)]");
    MyString reason;
    {
        MacroExpandCheck check(&reason);
        EXPECT_EQ("<null>", Expand("N$(EVIL)"));
        EXPECT_STREQ("$ENV(MACRO_EXPAND_SURELY_UNSET): not in the environment", reason.Value());
        EXPECT_EQ("<null>", Expand("X$RANDOM_CHOICE(a,b)"));
        EXPECT_STREQ("$RANDOM_CHOICE(a,b): its draw cannot be checked", reason.Value());
        EXPECT_EQ("N[set]", Expand("N$(FINE)"));
        EXPECT_EQ("", err_);
    }
    // Outside the scope, expansion is as before.
    EXPECT_EQ("a", Expand("$RANDOM_CHOICE(a)"));
    unsetenv("MACRO_EXPAND_TEST");
}

using MacroExpandDeathTest = MacroExpandTest;

TEST_F(MacroExpandDeathTest, UnsetEnvironmentVariableIsFatal) {
    unsetenv("MACRO_EXPAND_SURELY_UNSET");
    EXPECT_EXIT(expand_macro("$ENV(MACRO_EXPAND_SURELY_UNSET)", table_.heads, table_.size),
                ::testing::ExitedWithCode(4),
                "Can't find MACRO_EXPAND_SURELY_UNSET in environment!");
}

TEST_F(MacroExpandDeathTest, EmptyRandomChoiceIsFatal) {
    EXPECT_EXIT(expand_macro("$RANDOM_CHOICE()", table_.heads, table_.size),
                ::testing::ExitedWithCode(4), "\\$RANDOM_CHOICE\\(\\) macro in config file empty!");
    // Also when the empty list is formed by a substitution.
    Set("p", "(");
    EXPECT_EXIT(expand_macro("$RANDOM_CHOICE$(P))", table_.heads, table_.size),
                ::testing::ExitedWithCode(4), "macro in config file empty!");
}

}  // namespace

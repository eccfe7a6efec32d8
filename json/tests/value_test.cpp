#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

std::vector<std::string> MemberNames(const JsonValue* object) {
    std::vector<std::string> names;
    for (JsonMember* m = JsonObjectFirstMember(object); m; m = JsonObjectNextMember(object, m))
        names.push_back(Show(m->name));
    return names;
}

class JsonValueTest : public testing::Test {
  protected:
    void TearDown() override { JsonFree(AnyNumber); }
};

TEST_F(JsonValueTest, NamesHashIntoTheirChains) {
    struct Case {
        const char16_t* name;
        uint32_t hash;
    } cases[] = {
        {u"forceOff", 0x7C538524},
        {u"runAsAdmin", 0x7D9A52B2},
        {u"beeptime", 0xABDA1FFB},
        {u"", 0},
        {nullptr, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonNameHash(c.name, false), c.hash) << Show(c.name);
    // Folded names hash like their small-letter spelling.
    EXPECT_EQ(JsonNameHash(u"BeepTime", true), 0xABDA1FFBu);
    EXPECT_EQ(JsonNameHash(u"\u00C9T\u0416", true), JsonNameHash(u"\u00E9t\u0436", false));
}

TEST_F(JsonValueTest, MembersEnumerateByChainWhateverTheOrderOfAdding) {
    const char16_t* names[] = {u"beeptime", u"forceOff", u"runAsAdmin"};
    std::sort(std::begin(names), std::end(names));
    do {
        ASSERT_NE(JsonCreate(0), 0);
        JsonValue* root = JsonRoot(0);
        ASSERT_TRUE(JsonSetObject(root));
        for (const char16_t* name : names) JsonSetInteger(JsonObjectSetMember(root, name), 1);
        EXPECT_EQ(MemberNames(root),
                  (std::vector<std::string>{"forceOff", "runAsAdmin", "beeptime"}));
    } while (std::next_permutation(std::begin(names), std::end(names)));

    // Within one chain the newest member comes first: one-unit names 64 apart share one.
    JsonValue* root = JsonRoot(0);
    ASSERT_TRUE(JsonSetObject(root));
    JsonSetNull(JsonObjectSetMember(root, u"A"));      // 65 -> chain 1
    JsonSetNull(JsonObjectSetMember(root, u"\u0081")); // 129 -> chain 1, newer
    JsonSetNull(JsonObjectSetMember(root, u"@"));      // 64 -> chain 0
    EXPECT_EQ(MemberNames(root), (std::vector<std::string>{"@", "\\u0081", "A"}));
}

TEST_F(JsonValueTest, RepeatedNamesAndCaseRules) {
    ASSERT_NE(JsonCreate(0), 0);
    JsonValue* root = JsonRoot(0);
    ASSERT_TRUE(JsonSetObject(root));
    JsonSetInteger(JsonObjectSetMember(root, u"beeptime"), 1);
    ASSERT_TRUE(JsonSetString(JsonObjectSetMember(root, u"beeptime"), u"two"));
    EXPECT_EQ(JsonMemberCount(root), 1);
    EXPECT_EQ(Show(JsonGetString(JsonObjectFind(root, u"beeptime"))), "two");
    EXPECT_EQ(JsonObjectFind(root, u"BeepTime"), nullptr) << "exact by default";

    ASSERT_NE(JsonCreate(1, JsonNoCase | JsonPrettyPrint), 0);
    JsonValue* folded = JsonRoot(1);
    EXPECT_EQ(folded->flags, JsonNoCase) << "only JsonNoCase is kept";
    ASSERT_TRUE(JsonSetObject(folded));
    JsonSetInteger(JsonObjectSetMember(folded, u"beeptime"), 120);
    JsonValue* again = JsonObjectSetMember(folded, u"BEEPTIME");
    EXPECT_EQ(again->type, JsonNull) << "the old value is cleared";
    EXPECT_EQ(again->flags, JsonNoCase) << "members take the object's flags";
    JsonSetInteger(again, 121);
    EXPECT_EQ(JsonMemberCount(folded), 1);
    EXPECT_EQ(MemberNames(folded), std::vector<std::string>{"beeptime"}) << "keeps its name";
    EXPECT_EQ(JsonGetInteger(JsonObjectFind(folded, u"BeepTime")), 121);

    // Nested containers inherit the rule through their flags.
    JsonValue* list = JsonObjectSetMember(folded, u"list");
    ASSERT_TRUE(JsonSetArray(list));
    JsonValue* inner = JsonArrayAppend(list);
    EXPECT_EQ(inner->flags, JsonNoCase);
    ASSERT_TRUE(JsonSetObject(inner));
    JsonSetBoolean(JsonObjectSetMember(inner, u"Key"), 7);
    EXPECT_EQ(JsonGetInteger(JsonObjectFind(inner, u"kEY")), 1);
}

TEST_F(JsonValueTest, WrongTypesAreRefused) {
    JsonValue v{};
    EXPECT_EQ(JsonArrayAppend(&v), nullptr);
    EXPECT_EQ(JsonObjectSetMember(&v, u"a"), nullptr);
    EXPECT_EQ(JsonObjectFind(&v, u"a"), nullptr);
    ASSERT_TRUE(JsonSetArray(&v));
    EXPECT_EQ(JsonObjectSetMember(&v, u"a"), nullptr);
    for (int i = 0; i < 3; ++i) JsonSetInteger(JsonArrayAppend(&v), i);
    EXPECT_EQ(JsonElementCount(&v), 3);
    EXPECT_EQ(JsonMemberCount(&v), 0);
    int64_t expect = 0;
    for (JsonValue* e = JsonArrayFirst(&v); e; e = JsonArrayNext(e))
        EXPECT_EQ(JsonGetInteger(e), expect++);
    JsonValueClear(&v);
    EXPECT_EQ(v.type, JsonNull);
}

TEST_F(JsonValueTest, Conversions) {
    struct Case {
        const char* what;
        void (*set)(JsonValue*);
        int64_t integer;
        double real;
        float single;
    } cases[] = {
        {"3.99", [](JsonValue* v) { JsonSetDouble(v, 3.99); }, 3, 3.99, 3.99f},
        {"-3.99", [](JsonValue* v) { JsonSetDouble(v, -3.99); }, -3, -3.99, -3.99f},
        {"true", [](JsonValue* v) { JsonSetBoolean(v, 5); }, 1, 1.0, 1.0f},
        {"false", [](JsonValue* v) { JsonSetBoolean(v, 0); }, 0, 0.0, 0.0f},
        {"string", [](JsonValue* v) { ASSERT_TRUE(JsonSetString(v, u"12")); }, 0, 0.0, 0.0f},
        {"null", [](JsonValue* v) { JsonSetNull(v); }, 0, 0.0, 0.0f},
        {"1e300", [](JsonValue* v) { JsonSetDouble(v, 1e300); }, INT64_MIN, 1e300,
         std::numeric_limits<float>::infinity()},
        {"NaN", [](JsonValue* v) { JsonSetDouble(v, std::nan("")); }, INT64_MIN, std::nan(""),
         std::nanf("")},
        {"2^63", [](JsonValue* v) { JsonSetDouble(v, 9223372036854775808.0); }, INT64_MIN,
         9223372036854775808.0, 9223372036854775808.0f},
        {"-2^63", [](JsonValue* v) { JsonSetDouble(v, -9223372036854775808.0); }, INT64_MIN,
         -9223372036854775808.0, -9223372036854775808.0f},
        // 2^53 + 1 is not a double; as a float it rounds once, directly.
        {"2^53+1", [](JsonValue* v) { JsonSetInteger(v, 9007199254740993); }, 9007199254740993,
         9007199254740992.0, 9007199254740992.0f},
        {"16777217", [](JsonValue* v) { JsonSetInteger(v, 16777217); }, 16777217, 16777217.0,
         16777216.0f},
    };
    for (const Case& c : cases) {
        JsonValue v{};
        c.set(&v);
        EXPECT_EQ(JsonGetInteger(&v), c.integer) << c.what;
        if (std::isnan(c.real)) {
            EXPECT_TRUE(std::isnan(JsonGetDouble(&v))) << c.what;
            EXPECT_TRUE(std::isnan(JsonGetFloat(&v))) << c.what;
        } else {
            EXPECT_EQ(JsonGetDouble(&v), c.real) << c.what;
            EXPECT_EQ(JsonGetFloat(&v), c.single) << c.what;
        }
        JsonValueClear(&v);
    }
    JsonValue s{};
    ASSERT_TRUE(JsonSetString(&s, u""));
    EXPECT_EQ(s.type, JsonString);
    EXPECT_EQ(s.text, nullptr) << "an empty text stores nothing";
    EXPECT_EQ(Show(JsonGetString(&s)), "");
    ASSERT_TRUE(JsonSetString(&s, nullptr));
    EXPECT_EQ(s.text, nullptr);
    // A value given its own text, or a part of it, keeps that text.
    ASSERT_TRUE(JsonSetString(&s, u"hello world"));
    ASSERT_TRUE(JsonSetString(&s, s.text + 6));
    EXPECT_EQ(Show(JsonGetString(&s)), "world");
    ASSERT_TRUE(JsonSetString(&s, JsonGetString(&s)));
    EXPECT_EQ(Show(JsonGetString(&s)), "world");
    JsonValueClear(&s);
}

TEST_F(JsonValueTest, DocumentsComeAndGo) {
    ASSERT_NE(JsonCreate(0), 0);
    EXPECT_EQ(JsonRoot(0)->type, JsonNull);
    EXPECT_EQ(Written(0), "null");
    ASSERT_TRUE(JsonSetString(JsonRoot(0), u"old"));
    ASSERT_NE(JsonCreate(0), 0) << "a second create replaces the first";
    EXPECT_EQ(JsonRoot(0)->type, JsonNull);

    intptr_t dynamic = JsonCreate(AnyNumber);
    ASSERT_NE(dynamic, 0);
    EXPECT_NE(JsonRoot(dynamic), nullptr);
    ASSERT_NE(JsonCreate(5), 0);
    EXPECT_EQ(JsonRoot(4), nullptr);
    JsonFree(4); // unknown: ignored
    JsonFree(5);
    EXPECT_EQ(JsonRoot(5), nullptr);
    JsonFree(AnyNumber);
    EXPECT_EQ(JsonRoot(0), nullptr);
    EXPECT_EQ(JsonRoot(dynamic), nullptr);
}

TEST_F(JsonValueTest, LargeObjectsKeepChainOrderAndFindEveryName) {
    ASSERT_NE(JsonCreate(0), 0);
    JsonValue* root = JsonRoot(0);
    ASSERT_TRUE(JsonSetObject(root));
    constexpr int kCount = 20000;
    std::vector<std::u16string> names;
    for (int i = 0; i < kCount; ++i) {
        names.push_back(U16("member" + std::to_string(i)));
        JsonSetInteger(JsonObjectSetMember(root, names.back().c_str()), i);
    }
    JsonSetInteger(JsonObjectSetMember(root, u"member7"), -7); // replaces, keeps the count
    EXPECT_EQ(JsonMemberCount(root), kCount);
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(JsonGetInteger(JsonObjectFind(root, names[i].c_str())), i == 7 ? -7 : i);
    EXPECT_EQ(JsonObjectFind(root, u"member20000"), nullptr);
    // Enumeration: chains in ascending order, newer before older within a chain.
    uint32_t lastChain = 0;
    int64_t lastValue = INT64_MAX, seen = 0;
    for (JsonMember* m = JsonObjectFirstMember(root); m; m = JsonObjectNextMember(root, m)) {
        uint32_t chain = JsonNameHash(m->name, false) % 64;
        ASSERT_GE(chain, lastChain);
        int64_t value = std::abs(JsonGetInteger(&m->value));
        if (chain == lastChain) {
            ASSERT_LT(value, lastValue);
        }
        lastChain = chain;
        lastValue = value;
        ++seen;
    }
    EXPECT_EQ(seen, kCount);
}

// The parser puts strings and container records in the blocks of their members; whatever is
// set in such a tree afterwards has content of its own and must be freed with the document
// (the leak checker of the sanitized build sees the difference), under the case rule kept.
TEST_F(JsonValueTest, ValuesChangedInAParsedTreeOwnTheirNewContent) {
    ASSERT_TRUE(ParseInto(0, R"({"s":"text","a":["x",{"k":1}],"o":{"p":"q"}})", JsonNoCase));
    JsonValue* root = JsonRoot(0);
    JsonValue* s = JsonObjectFind(root, u"S");
    ASSERT_NE(s, nullptr);
    JsonValueClear(s);
    ASSERT_TRUE(JsonSetString(s, u"a new text of its own"));
    JsonValue* a = JsonObjectFind(root, u"a");
    ASSERT_TRUE(JsonSetString(JsonArrayAppend(a), u"appended"));
    JsonValue* inner = JsonObjectFind(JsonArrayNext(JsonArrayFirst(a)), u"K");
    ASSERT_NE(inner, nullptr) << "the parsed object keeps the case rule";
    ASSERT_TRUE(JsonSetObject(inner));
    ASSERT_TRUE(JsonSetString(JsonObjectSetMember(inner, u"deep"), u"x"));
    EXPECT_NE(JsonObjectFind(inner, u"DEEP"), nullptr) << "new objects inherit the case rule";
    ASSERT_TRUE(JsonSetArray(JsonObjectFind(root, u"o")));
    EXPECT_EQ(Written(0),
              R"({"a":["x",{"k":{"deep":"x"}},"appended"],"o":[],"s":"a new text of its own"})");
    JsonFree(0);
}

} // namespace

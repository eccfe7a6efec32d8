#include "test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

namespace {

class JsonParserTest : public testing::Test {
  protected:
    void TearDown() override { JsonFree(AnyNumber); }
};

TEST_F(JsonParserTest, ErrorsCarryMessageLineAndColumn) {
    struct Case {
        const char* text;
        const char* message;
        int line, column;
    } cases[] = {
        {"", "Unexpected end of input", 1, 1},
        {"   ", "Unexpected end of input", 1, 3},
        {".5", "Unexpected character", 1, 1},
        {"+1", "Unexpected character", 1, 1},
        {"- ", "Invalid numeric value", 1, 2},
        {"-", "Unexpected end of input", 1, 1},
        {"1.", "Unexpected end of input", 1, 2},
        {"1.x", "Invalid numeric value", 1, 3},
        {"1e", "Unexpected end of input", 1, 2},
        {"1e+", "Unexpected end of input", 1, 3},
        {"1e+a", "Invalid numeric value", 1, 4},
        {"truex", "Unexpected character", 1, 5},
        {"tru", "Unexpected end of input", 1, 3},
        {"trUe", "Unexpected character", 1, 3},
        {"nul", "Unexpected end of input", 1, 3},
        {"fals", "Unexpected end of input", 1, 4},
        {"12 13", "Unexpected character", 1, 4},
        {"[1 2]", "Unexpected character", 1, 4},
        {"[1,]", "Unexpected character", 1, 4},
        {"[1,", "Unexpected end of input", 1, 3},
        {"[", "Unexpected end of input", 1, 1},
        {"{", "Unexpected end of input", 1, 1},
        {"{\"a\":1,}", "A member name (string) is expected", 1, 8},
        {"{1:2}", "A member name (string) is expected", 1, 2},
        {"{\"a\" 1}", "Expected a ':' character", 1, 6},
        {"{\"a\":1 \"b\":2}", "Unexpected character", 1, 8},
        {"{\"a\":}", "Unexpected character", 1, 6},
        {"\"abc", "Unexpected end of input", 1, 4},
        {"\"a\\", "Unexpected end of input", 1, 3},
        {"\"a\\x\"", "Invalid escape sequence", 1, 4},
        {"\"\\u12G4\"", "Invalid escape sequence", 1, 6},
        {"\"\\u12", "Unexpected end of input", 1, 5},
        // Line counting: LF, CR, CR LF as one break, and a push-back not counted twice.
        {"[1,\n2,\nx]", "Unexpected character", 3, 1},
        {"[1,\r\n2,\r\n  x]", "Unexpected character", 3, 3},
        {"[1,\r2,\rx]", "Unexpected character", 3, 1},
        {"[1,\n\r2,x]", "Unexpected character", 3, 3},
        {"[12x]", "Unexpected character", 1, 4},
        {"[12\n", "Unexpected end of input", 2, 1},
        {"\"line\nbreak\" x", "Unexpected character", 2, 8},
        {"{\"a\":1}\r", "", -1, -1},
        {"[1]\r\nq", "Unexpected character", 2, 1},
        // A CR being examined has already started the next line.
        {"[1\r", "Unexpected end of input", 2, 1},
    };
    for (const Case& c : cases) {
        intptr_t id = ParseInto(0, c.text);
        const JsonErrorRecord* e = JsonLastError();
        EXPECT_EQ(id != 0, *c.message == 0) << c.text;
        EXPECT_STREQ(e->message, c.message) << c.text;
        EXPECT_EQ(e->line, c.line) << c.text;
        EXPECT_EQ(e->column, c.column) << c.text;
    }
}

TEST_F(JsonParserTest, Numbers) {
    struct Case {
        const char* text;
        bool isDouble;
        int64_t integer;
        double real;
    } cases[] = {
        {"42", false, 42, 0},
        {"-0", false, 0, 0},
        {"007", false, 7, 0},
        {"12", false, 12, 0},
        {"9223372036854775807", false, INT64_MAX, 0},
        {"9223372036854775808", false, INT64_MIN, 0},
        {"-9223372036854775808", false, INT64_MIN, 0},
        {"18446744073709551617", false, 1, 0},
        {"1.5e3", true, 0, 1500.0},
        {"1E+2", true, 0, 100.0},
        {"2e-1", true, 0, 0.2},
        {"0.1", true, 0, 0.1},
        {"-0.0", true, 0, -0.0},
        {"0.10000000000000000555111512312578", true, 0, 0.1},
        {"2.2250738585072011e-308", true, 0, 2.2250738585072011e-308},
        {"4.9e-324", true, 0, 4.9406564584124654e-324},
        {"1e400", true, 0, std::numeric_limits<double>::infinity()},
        {"-1e400", true, 0, -std::numeric_limits<double>::infinity()},
        {"1e-400", true, 0, 0.0},
        {"123456789012345678901234567890e-29", true, 0, 1.2345678901234568},
        {"0.000001e-400", true, 0, 0.0},
        {"100000000000000000000000000000000e300", true, 0, std::numeric_limits<double>::infinity()},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ParseInto(0, c.text)) << c.text << ": " << JsonLastError()->message;
        const JsonValue* v = JsonRoot(0);
        EXPECT_EQ(v->type, JsonNumber) << c.text;
        EXPECT_EQ(v->isDouble != 0, c.isDouble) << c.text;
        if (c.isDouble) {
            EXPECT_EQ(v->real, c.real) << c.text;
            EXPECT_EQ(std::signbit(v->real), std::signbit(c.real)) << c.text;
        } else {
            EXPECT_EQ(v->integer, c.integer) << c.text;
        }
    }
    // Tokens longer than the parser's first buffer.
    std::string digits(5000, '1');
    ASSERT_TRUE(ParseInto(0, "[" + digits + ".5e-4990, -" + digits + "]"));
    EXPECT_EQ(JsonArrayFirst(JsonRoot(0))->real, 1111111111.1111111);
    std::string escaped;
    for (int i = 0; i < 3000; ++i) escaped += "\\n";
    ASSERT_TRUE(ParseInto(0, "\"" + escaped + "\""));
    EXPECT_EQ(JsonGetString(JsonRoot(0)), std::u16string(3000, u'\n'));

    // A number ends where its digits end; the unit after it is judged by the caller.
    ASSERT_TRUE(ParseInto(0, "[1,-2.5e1,3]"));
    EXPECT_EQ(Written(0), "[1,-25,3]");
}

TEST_F(JsonParserTest, StringsAndEscapes) {
    struct Case {
        const char* text;
        std::u16string value;
    } cases[] = {
        {"\"\"", u""},
        {"\"plain\"", u"plain"},
        {R"("\"\\\/\b\f\n\r\t")", u"\"\\/\b\f\n\r\t"},
        {R"("\u0041\u00e9\u20AC")", u"A\u00E9\u20AC"},
        // Surrogates are stored as they come, paired or not.
        {R"("\uD83D\uDE00")", u"\U0001F600"},
        {R"("\uDE00\uD83D")", std::u16string{0xDE00, 0xD83D}},
        {R"("x\uD800")", std::u16string{u'x', 0xD800}},
        // Control characters and raw line breaks are kept.
        {"\"a\tb\r\nc\x01\"", u"a\tb\r\nc\x01"},
        // Texts end at their first 0 unit.
        {R"("ab\u0000cd")", u"ab"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ParseInto(0, c.text)) << c.text << ": " << JsonLastError()->message;
        EXPECT_EQ(JsonRoot(0)->type, JsonString);
        EXPECT_EQ(Show(JsonGetString(JsonRoot(0))), Show(c.value)) << c.text;
    }
    ASSERT_TRUE(ParseInto(0, R"({"a\nb":1, "plain":2})"));
    EXPECT_NE(JsonObjectFind(JsonRoot(0), u"a\nb"), nullptr);
}

TEST_F(JsonParserTest, EveryValueKeepsItsOwnContent) {
    // Strings and containers of many sizes side by side, in arrays and objects, each read
    // back on its own after the whole text is parsed.
    std::string array = "[", object = "{";
    std::vector<std::u16string> texts;
    for (int i = 0; i < 60; ++i) {
        std::u16string t;
        std::string json;
        for (int k = 0; k < i; ++k) {
            static const char16_t units[] = {u'a', u'\u00E9', u'\u6771', u'"', u'z'};
            char16_t u = units[(i + k) % 5];
            t += u;
            json += u == u'"'   ? "\\\""
                    : u < 0x80  ? std::string(1, char(u))
                    : u == 0xE9 ? "\\u00e9"
                                : "\\u6771";
        }
        texts.push_back(t);
        std::string item = "\"" + json + "\"";
        if (i % 3 == 1) item = "[" + item + ",{\"in\":" + item + "}]";
        if (i % 3 == 2) item = "{\"in\":[" + item + "]}";
        if (i) array += ',', object += ',';
        array += item;
        object.append("\"m").append(std::to_string(i)).append("\":").append(item);
    }
    array += "]";
    object += "}";
    ASSERT_TRUE(ParseInto(0, array)) << JsonLastError()->message;
    ASSERT_TRUE(ParseInto(1, object)) << JsonLastError()->message;
    auto text = [](const JsonValue* v, int i) -> const JsonValue* {
        if (i % 3 == 1) return JsonArrayFirst(v);
        if (i % 3 == 2) return JsonArrayFirst(JsonObjectFind(v, u"in"));
        return v;
    };
    int i = 0;
    for (JsonValue* e = JsonArrayFirst(JsonRoot(0)); e; e = JsonArrayNext(e), ++i) {
        EXPECT_EQ(Show(JsonGetString(text(e, i))), Show(texts[i])) << i;
        JsonValue* m = JsonObjectFind(JsonRoot(1), Numbered("m", i).c_str());
        ASSERT_NE(m, nullptr) << i;
        EXPECT_EQ(Show(JsonGetString(text(m, i))), Show(texts[i])) << i;
        if (i % 3 == 1) {
            JsonValue* inner = JsonObjectFind(JsonArrayNext(JsonArrayFirst(m)), u"in");
            EXPECT_EQ(Show(JsonGetString(inner)), Show(texts[i])) << i;
        }
    }
    EXPECT_EQ(i, 60);

    // Every fit of name and text lengths within a member's block.
    std::string all = "{";
    for (int length = 3; length <= 6; ++length)
        for (int t = 0; t < 25; ++t) {
            std::string name =
                "n" + std::to_string(100 + t).substr(1) + std::string("xyz", length - 3);
            all.append(all.size() > 1 ? ",\"" : "\"").append(name).append("\":\"");
            all.append(std::string(t, 'v')).append("\"");
        }
    ASSERT_TRUE(ParseInto(2, all + "}"));
    for (int length = 3; length <= 6; ++length)
        for (int t = 0; t < 25; ++t) {
            std::string name =
                "n" + std::to_string(100 + t).substr(1) + std::string("xyz", length - 3);
            EXPECT_EQ(Show(JsonGetString(JsonObjectFind(JsonRoot(2), U16(name).c_str()))),
                      std::string(t, 'v'))
                << name;
        }
    // Values replaced later are independent of the blocks they started in.
    JsonValue* first = JsonObjectFind(JsonRoot(1), u"m5");
    ASSERT_TRUE(JsonSetObject(first));
    ASSERT_TRUE(JsonSetString(JsonObjectSetMember(first, u"x"), u"new"));
    EXPECT_EQ(Written(1).find(R"("m5":{"x":"new"})") != std::string::npos, true);
}

TEST_F(JsonParserTest, ParsedTreesCanBeChangedAfterwards) {
    std::string inner = "{";
    for (int i = 0; i < 12; ++i)
        inner.append(i ? ",\"p" : "\"p")
            .append(std::to_string(i))
            .append("\":[")
            .append(std::to_string(i))
            .append("]");
    ASSERT_TRUE(ParseInto(0, "{\"a\":" + inner + "},\"b\":[" + inner + "},\"s\"]}"));
    JsonValue* a = JsonObjectFind(JsonRoot(0), u"a");
    JsonValue* b = JsonObjectFind(JsonRoot(0), u"b");
    // New members and elements in parsed containers, enough to need more chain heads and an
    // index; replaced values; cleared containers filled again.
    for (int i = 0; i < 50; ++i) {
        JsonSetInteger(JsonObjectSetMember(a, Numbered("q", i).c_str()), i);
        ASSERT_TRUE(JsonSetString(JsonArrayAppend(b), U16(std::to_string(i)).c_str()));
    }
    ASSERT_TRUE(JsonSetArray(JsonObjectSetMember(a, u"p3")));
    JsonSetInteger(JsonArrayAppend(JsonObjectFind(a, u"p3")), 33);
    JsonValue* first = JsonArrayFirst(b);
    JsonValueClear(first);
    ASSERT_TRUE(JsonSetObject(first));
    JsonSetBoolean(JsonObjectSetMember(first, u"again"), 1);
    EXPECT_EQ(JsonMemberCount(a), 62);
    EXPECT_EQ(JsonElementCount(b), 52);
    for (int i = 0; i < 12; ++i) {
        JsonValue* p = JsonObjectFind(a, Numbered("p", i).c_str());
        ASSERT_NE(p, nullptr) << i;
        EXPECT_EQ(JsonGetInteger(JsonArrayFirst(p)), i == 3 ? 33 : i);
    }
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(JsonGetInteger(JsonObjectFind(a, Numbered("q", i).c_str())), i);
    ASSERT_TRUE(JsonParseText(1, JsonWriteToText(JsonRoot(0), JsonPrettyPrint).c_str()));
    EXPECT_TRUE(JsonTreesEquivalent(JsonRoot(0), JsonRoot(1)));
    EXPECT_EQ(Written(1).find(R"({"again":true})") != std::string::npos, true);
    JsonSetNull(JsonRoot(0));
}

TEST_F(JsonParserTest, StructuresAndRepeatedNames) {
    ASSERT_TRUE(ParseInto(0, " { \"a\" : [ ] , \"b\" : { } , \"a\" : [true, false, null] }\t"));
    JsonValue* root = JsonRoot(0);
    EXPECT_EQ(JsonMemberCount(root), 2);
    EXPECT_EQ(JsonElementCount(JsonObjectFind(root, u"a")), 3) << "the last value wins";
    EXPECT_EQ(Written(0), R"({"a":[true,false,null],"b":{}})");

    ASSERT_TRUE(ParseInto(1, R"({"Beeptime":1,"list":[{"X":2}]})", JsonNoCase));
    root = JsonRoot(1);
    EXPECT_EQ(root->flags, JsonNoCase);
    EXPECT_EQ(JsonGetInteger(JsonObjectFind(root, u"BEEPTIME")), 1);
    JsonValue* inner = JsonArrayFirst(JsonObjectFind(root, u"LIST"));
    EXPECT_EQ(JsonGetInteger(JsonObjectFind(inner, u"x")), 2);
}

TEST_F(JsonParserTest, AFailedParseKeepsTheOldDocumentAndSuccessResetsTheRecord) {
    ASSERT_TRUE(ParseInto(0, "{\"keep\":1}"));
    EXPECT_STREQ(JsonLastError()->message, "");
    EXPECT_EQ(JsonLastError()->line, -1);
    JsonValue* before = JsonRoot(0);
    EXPECT_FALSE(ParseInto(0, "{\"keep\":2,"));
    EXPECT_EQ(JsonRoot(0), before);
    EXPECT_EQ(Written(0), "{\"keep\":1}");
    EXPECT_FALSE(JsonParseText(0, u"\uFEFF{}")) << "a byte-order mark is not skipped";
    EXPECT_STREQ(JsonLastError()->message, "Unexpected character");
    EXPECT_EQ(JsonLastError()->column, 1);
    EXPECT_FALSE(JsonParseText(0, nullptr));
    EXPECT_STREQ(JsonLastError()->message, "Unexpected end of input");
    ASSERT_TRUE(ParseInto(0, "2"));
    EXPECT_EQ(JsonLastError()->column, -1);
}

TEST_F(JsonParserTest, DeepNestingFailsCleanly) {
    std::string deep(1000000, '[');
    EXPECT_FALSE(ParseInto(0, deep));
    EXPECT_STREQ(JsonLastError()->message, "Nesting too deep");
    EXPECT_EQ(JsonLastError()->column, JsonMaxDepth + 1);
    std::string objects;
    for (int i = 0; i < 200000; ++i) objects += "{\"a\":";
    EXPECT_FALSE(ParseInto(0, objects));
    EXPECT_STREQ(JsonLastError()->message, "Nesting too deep");

    // Exactly the limit is fine.
    std::string limit = std::string(JsonMaxDepth, '[') + std::string(JsonMaxDepth, ']');
    EXPECT_TRUE(ParseInto(0, limit)) << JsonLastError()->message;
    EXPECT_FALSE(ParseInto(0, "[" + limit + "]"));
}

TEST_F(JsonParserTest, ErrorRecordsArePerThread) {
    EXPECT_FALSE(ParseInto(0, "[x"));
    std::string other;
    std::thread([&] {
        other = JsonLastError()->message; // a fresh thread has no error yet
        EXPECT_FALSE(ParseInto(AnyNumber, "{"));
    }).join();
    EXPECT_EQ(other, "");
    EXPECT_STREQ(JsonLastError()->message, "Unexpected character");
}

} // namespace

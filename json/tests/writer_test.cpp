#include "test_support.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

class JsonWriterTest : public testing::Test {
  protected:
    void TearDown() override { JsonFree(AnyNumber); }
};

std::string DoubleText(double x) {
    JsonValue v{};
    JsonSetDouble(&v, x);
    return Show(JsonWriteToText(&v, 0));
}

TEST_F(JsonWriterTest, Numbers) {
    struct Case {
        double x;
        const char* text;
    } cases[] = {
        {0.1, "0.10000000000000000555111512312578"},
        {0.5, "0.5"},
        {3.0, "3"},
        {-2.5, "-2.5"},
        {1500.0, "1500"},
        {1e100, "1.0000000000000000159028911097599e+100"},
        {1e-5, "1.0000000000000000818030539140313e-05"},
        {0.0001, "0.00010000000000000000479217360238593"},
        {123456.789, "123456.78900000000430736690759659"},
        {1e31, "9.999999999999999635896294965248e+30"},
        {1e32, "1.0000000000000000536616220439347e+32"},
        {5e-324, "4.9406564584124654417656879286822e-324"},
        {1.7976931348623157e308, "1.797693134862315708145274237317e+308"},
        {-0.0, "0"},
        {0.0, "0"},
        {std::nan(""), "null"},
        {std::numeric_limits<double>::infinity(), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
        // Whole numbers beyond the 64-bit integers keep a form that reads back as a double.
        {1e20, "1e+20"},
        {-9223372036854775808.0 * 2, "-1.8446744073709551616e+19"},
        {9223372036854775808.0, "9.223372036854775808e+18"},
        {-9223372036854775808.0, "-9223372036854775808"},
        {9223372036854774784.0, "9223372036854774784"},
        {123456789.0, "123456789"},
        // Exactly 33 significant digits ending in 5: the tie goes to the even digit.
        {1.0 + 0x1p-32, "1.0000000002328306436538696289062"},
        {1.0 + 3 * 0x1p-32, "1.0000000006984919309616088867188"},
        {0x1p-47, "7.1054273576010018587112426757812e-15"},
        {0x1p-12, "0.000244140625"},
        // Below the fast range, between it and the exponent form, and subnormal.
        {0.0001, "0.00010000000000000000479217360238593"},
        {1e-5, "1.0000000000000000818030539140313e-05"},
        {-3 * 0x1p-60, "-2.6020852139652106416178867220879e-18"},
        {0x1p-1022, "2.2250738585072013830902327173324e-308"},
        {123456789012345678901234567890.0, "1.23456789012345677877719597056e+29"},
        {0x1p-13, "0.0001220703125"},
        {18446744073709549568.0, "1.8446744073709549568e+19"},
        {1023.54, "1023.5399999999999636202119290829"},
        {-0.3, "-0.29999999999999998889776975374843"},
        {0.9999999999999999, "0.99999999999999988897769753748435"},
        {9.999999999999999e22, "9.9999999999999991611392e+22"},
    };
    for (const Case& c : cases) EXPECT_EQ(DoubleText(c.x), c.text) << c.x;

    JsonValue v{};
    JsonSetDouble(&v, -0.0);
    (void)JsonWriteToText(&v, 0);
    EXPECT_FALSE(std::signbit(v.real)) << "the written zero is +0.0 afterwards";
    EXPECT_TRUE(v.isDouble);

    for (int64_t n : {int64_t{0}, int64_t{-5}, INT64_MIN, INT64_MAX}) {
        JsonSetInteger(&v, n);
        EXPECT_EQ(Show(JsonWriteToText(&v, 0)), std::to_string(n));
    }
}

TEST_F(JsonWriterTest, DoublesPrintAsThirtyTwoSignificantDigits) {
    // Random doubles over the whole range, checked against the exact digits: read back,
    // they must give the same double, and have at most 32 significant digits.
    std::mt19937_64 random(12345);
    for (int i = 0; i < 40000; ++i) {
        // Half of them any bit pattern, half ordinary values of every size.
        uint64_t bits = random();
        double x;
        std::memcpy(&x, &bits, sizeof x);
        if (i % 2)
            x = double(int64_t(random() % 2000000000) - 1000000000) /
                double(uint64_t{1} << (random() % 60));
        if (!std::isfinite(x) || x == 0) continue;
        std::string text = DoubleText(x);
        double back = 0;
        auto r = std::from_chars(text.data(), text.data() + text.size(), back);
        ASSERT_EQ(r.ptr, text.data() + text.size()) << text;
        ASSERT_EQ(back, x) << text;
        int digits = 0;
        for (char c : text) {
            if (c == 'e') break;
            if (c >= '0' && c <= '9') ++digits;
        }
        ASSERT_LE(digits, 36) << text; // 32 significant, plus leading zeros of 0.000x
#if !defined(_WIN32)
        // The C library of this platform prints "%.32g" exactly: compare with it.
        char expect[600];
        std::snprintf(expect, sizeof expect, "%.32g", x);
        if ((x >= -9223372036854775808.0 && x < 9223372036854775808.0) ||
            std::strchr(expect, 'e') || std::strchr(expect, '.')) {
            ASSERT_EQ(text, expect);
        }
#endif
    }
}

#if !defined(_WIN32)
TEST_F(JsonWriterTest, PowersOfTwoPrintAsTheCLibraryPrintsThem) {
    // Every power of two and its neighbours: the longest exact expansions, exact ties at the
    // 33rd digit, carries through runs of nines, the edges of the fast range and subnormals.
    for (int e = -1074; e <= 1023; ++e)
        for (double m : {1.0, 3.0, 5.0, 7.0, 0x1.fffffffffffffp0, 0x1.0000000000001p0}) {
            double x = std::ldexp(m, e);
            if (!std::isfinite(x) || x == 0) continue;
            for (double v : {x, -x}) {
                char expect[800];
                std::snprintf(expect, sizeof expect, "%.32g", v);
                if (std::fabs(v) >= 0x1p63 && !std::strpbrk(expect, ".e")) continue; // see above
                ASSERT_EQ(DoubleText(v), expect) << m << " * 2^" << e;
            }
        }
}
#endif

TEST_F(JsonWriterTest, StringsAreEscaped) {
    struct Case {
        std::u16string text;
        const char* written;
    } cases[] = {
        {u"", "\"\""},
        {u"\t\"\x01", R"("\t\"\u0001")"},
        {u"\b\f\n\r\\/", R"("\b\f\n\r\\/")"},
        {u"\x1F\x7F\u00E9", "\"\\u001f\\u007F\\u00E9\""},
    };
    for (const Case& c : cases) {
        JsonValue v{};
        ASSERT_TRUE(JsonSetString(&v, c.text.c_str()));
        EXPECT_EQ(Show(JsonWriteToText(&v, 0)), c.written) << Show(c.text);
        JsonValueClear(&v);
    }
}

struct Recorder {
    std::vector<uint32_t> values;
    size_t refuseAt = SIZE_MAX;
};

int Record(void* context, uint32_t c) {
    auto* r = static_cast<Recorder*>(context);
    if (r->values.size() + 1 == r->refuseAt) return 0;
    r->values.push_back(c);
    return 1;
}

TEST_F(JsonWriterTest, SurrogatesReachTheSinkAsPairs) {
    struct Case {
        std::u16string text;
        std::vector<uint32_t> values; // between the quotes
    } cases[] = {
        {u"\U0001F600", {0xDE00D83D}},
        {std::u16string{0xD800}, {0xD800}},                  // alone at the end
        {std::u16string{0xD800, u'"'}, {0xD800, '\\', '"'}}, // the quote is still escaped
        {std::u16string{0xDC00, 0xD800, 0xDC00}, {0xDC00, 0xDC00D800}},
        {std::u16string{0xD800, 0xD800, 0xDC01}, {0xD800, 0xDC01D800}},
    };
    for (const Case& c : cases) {
        JsonValue v{};
        ASSERT_TRUE(JsonSetString(&v, c.text.c_str()));
        Recorder r;
        EXPECT_EQ(JsonWriteValue(&v, JsonCharSink{Record, &r}, 0, 0), 1);
        std::vector<uint32_t> expect{'"'};
        expect.insert(expect.end(), c.values.begin(), c.values.end());
        expect.push_back('"');
        EXPECT_EQ(r.values, expect) << Show(c.text);
        JsonValueClear(&v);
    }
}

TEST_F(JsonWriterTest, ARefusingSinkStopsTheWrite) {
    ASSERT_TRUE(ParseInto(0, "[1,2,3,4]"));
    Recorder r;
    r.refuseAt = 5;
    EXPECT_EQ(JsonWriteValue(JsonRoot(0), JsonCharSink{Record, &r}, 0, 0), 0);
    EXPECT_EQ(r.values, (std::vector<uint32_t>{'[', '1', ',', '2'}));

    JsonValue bad{};
    bad.type = 9;
    Recorder all;
    EXPECT_EQ(JsonWriteValue(&bad, JsonCharSink{Record, &all}, 0, 0), 0);
}

TEST_F(JsonWriterTest, Layouts) {
    struct Case {
        const char* json;
        const char* compact;
        const char* pretty;
    } cases[] = {
        {"null", "null", "null"},
        {"{}", "{}", "{}"},
        {"[]", "[]", "[]"},
        {R"(" ")", R"(" ")", R"(" ")"},
        {R"({"beeptime":3000,"forceOff":0,"runAsAdmin":0})",
         R"({"forceOff":0,"runAsAdmin":0,"beeptime":3000})",
         "{\r\n  \"forceOff\"  : 0,\r\n  \"runAsAdmin\": 0,\r\n  \"beeptime\"  : 3000\r\n}"},
        {R"({"bbb":1,"a":2})", R"({"a":2,"bbb":1})", "{\r\n  \"a\"  : 2,\r\n  \"bbb\": 1\r\n}"},
        {R"({"name":[1,{"inner":true}]})", R"({"name":[1,{"inner":true}]})",
         "{\r\n  \"name\": [\r\n      1,\r\n      {\r\n        \"inner\": true\r\n      }\r\n"
         "    ]\r\n}"},
        {R"([[1,2],[],{"x":[]}])", R"([[1,2],[],{"x":[]}])",
         "[\r\n  [\r\n    1,\r\n    2\r\n  ],\r\n  [],\r\n  {\r\n    \"x\": []\r\n  }\r\n]"},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ParseInto(0, c.json)) << c.json;
        EXPECT_EQ(Written(0), c.compact) << c.json;
        EXPECT_EQ(Written(0, JsonPrettyPrint), c.pretty) << c.json;
        // Both layouts read back to the same tree.
        for (int32_t flags : {0, JsonPrettyPrint}) {
            ASSERT_TRUE(JsonParseText(1, JsonWriteToText(JsonRoot(0), flags).c_str()));
            EXPECT_TRUE(JsonTreesEquivalent(JsonRoot(0), JsonRoot(1))) << c.json;
        }
    }
    // The settings object is 66 characters pretty, 45 compact.
    ASSERT_TRUE(ParseInto(0, R"({"runAsAdmin":0,"beeptime":3000,"forceOff":0})"));
    EXPECT_EQ(JsonWriteToText(JsonRoot(0), JsonPrettyPrint).size(), 66u);
    EXPECT_EQ(JsonWriteToText(JsonRoot(0), 0).size(), 45u);
}

} // namespace

#include "runtime/strings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string_view>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>
#include <thread>

namespace {

std::u16string S(const char16_t* text) {
    return text ? std::u16string(text) : std::u16string();
}

TEST(StringToInteger, ReadsSignsBasesAndWraps) {
    struct Case {
        const char16_t* text;
        int64_t value;
    } cases[] = {
        {u"  -42abc", -42},
        {u"\t12", 12},
        {u"+7", 7},
        {u"- 7", 0},
        {u"$ff", 255},
        {u"$FFFFFFFFFFFFFFFF", -1},
        {u"%102", 2},
        {u"18446744073709551617", 1},
        {u"9223372036854775808", INT64_MIN},
        {u"-9223372036854775808", INT64_MIN},
        {u"", 0},
        {u"abc", 0},
        {u"$", 0},
        {u"$g1", 0},
        {u"12 34", 12},
        {u"\n5", 0}, // only spaces and tabs are skipped
        {nullptr, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(StringToInteger(c.text), c.value) << Utf8(c.text);
}

TEST(IntegerToString, WritesEveryValueExactly) {
    ScratchMark mark;
    struct Case {
        int64_t value;
        const char16_t* text;
    } cases[] = {
        {0, u"0"},
        {-1, u"-1"},
        {3000, u"3000"},
        {INT64_MAX, u"9223372036854775807"},
        {INT64_MIN, u"-9223372036854775808"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(S(IntegerToString(c.value)), c.text);
        // The buffer form writes the same digits and leaves the scratch area where it was.
        char16_t text[IntegerTextUnits + 1];
        std::fill(std::begin(text), std::end(text), u'#');
        int64_t position = ScratchPosition();
        size_t length = IntegerToText(c.value, text);
        EXPECT_EQ(ScratchPosition(), position);
        EXPECT_EQ(S(text), c.text);
        EXPECT_EQ(length, std::char_traits<char16_t>::length(c.text));
        EXPECT_EQ(text[IntegerTextUnits], u'#') << "nothing written past the buffer";
    }
}

TEST(DoubleToInteger, TruncatesAndMapsSpecialValues) {
    uint64_t allOnes = ~uint64_t{0}, otherNan = 0x7FF8000000000001ull;
    double nanAllOnes, nanOther;
    std::memcpy(&nanAllOnes, &allOnes, 8);
    std::memcpy(&nanOther, &otherNan, 8);
    struct Case {
        double x;
        int64_t value;
    } cases[] = {
        {2.9, 2},
        {-2.9, -2},
        {1e19, INT64_MIN},
        {-1e19, INT64_MIN},
        {9223372036854775807.0, INT64_MIN}, // rounds up to 2^63: out of range
        {-9223372036854775808.0, INT64_MIN},
        {std::numeric_limits<double>::infinity(), 0},
        {-std::numeric_limits<double>::infinity(), 0},
        {nanAllOnes, 0},
        {nanOther, INT64_MIN},
        {std::numeric_limits<double>::quiet_NaN(), INT64_MIN},
        {-0.0, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(DoubleToInteger(c.x), c.value) << c.x;
}

TEST(StringToDouble, ReadsDecimalTextWhateverTheLocale) {
    struct Case {
        const char16_t* text;
        double value;
    } cases[] = {
        {u"1.5e3", 1500.0},
        {u"  -0.25xyz", -0.25},
        {u"+2", 2.0},
        {u".5", 0.5},
        {u"1,5", 1.0}, // a comma is never a decimal separator
        {u"1e", 1.0},
        {u"abc", 0.0},
        {u"", 0.0},
        {nullptr, 0.0},
        {u"1e400", std::numeric_limits<double>::infinity()},
        {u"-1e400", -std::numeric_limits<double>::infinity()},
        {u"1e-400", 0.0},
        {u"+Infinity", std::numeric_limits<double>::infinity()},
        {u"-INFINITY", -std::numeric_limits<double>::infinity()},
        {u"inf", std::numeric_limits<double>::infinity()},
        {u"0.1", 0.1},
        {u"123456789012345678901234567890", 123456789012345678901234567890.0},
    };
    for (const Case& c : cases) EXPECT_EQ(StringToDouble(c.text), c.value) << Utf8(c.text);
    for (const char16_t* word : {u"NaN", u"nan", u"NAN", u"nAn"}) {
        double x = StringToDouble(word);
        uint64_t bits;
        std::memcpy(&bits, &x, 8);
        EXPECT_EQ(bits, 0xFFF8000000000000ull) << Utf8(word);
    }
}

// The one judgement that both the string conversion and the JSON parser make of a number
// the double range cannot hold.
TEST(DecimalAboveDoubleRange, JudgesByTheFirstSignificantDigitAndTheExponent) {
    struct Case {
        const char* text;
        bool above;
    } cases[] = {
        {"1e400", true},           {"1E+400", true},         {"0001e309", true},
        {"123456e305", true},      {"1e-400", false},        {"0.000123e-400", false},
        {"0.001e400", true},       {"000.0001e-330", false}, {"1e99999999999", true},
        {"1e-99999999999", false}, {"1e400junk e5", true},   {"0.0e999", false},
    };
    for (const Case& c : cases) {
        std::string_view text(c.text);
        EXPECT_EQ(DecimalAboveDoubleRange(text.data(), text.data() + text.size()), c.above)
            << c.text;
    }
}

TEST(Strings, TrimLowerAndCompare) {
    ScratchMark mark;
    EXPECT_EQ(S(TrimRight(u"a b  ")), u"a b");
    EXPECT_EQ(S(TrimRight(u"a\t ")), u"a\t") << "only spaces are trimmed";
    EXPECT_EQ(S(TrimRight(u"   ")), u"");
    EXPECT_EQ(S(TrimRight(nullptr)), u"");
    EXPECT_EQ(S(LowerCase(u"/SiLeNt")), u"/silent");
    EXPECT_EQ(S(LowerCase(u"\u00C4BC")), u"\u00E4bc");
    EXPECT_EQ(StringEquals(nullptr, u""), 1);
    EXPECT_EQ(StringEquals(u"abc", u"abc"), 1);
    EXPECT_EQ(StringEquals(u"abc", u"ABC"), 0);
    EXPECT_EQ(StringEquals(u"ab", u"abc"), 0);
}

TEST(RuntimeStringVariable, AssignsCopiesAndAppends) {
    RuntimeString line;
    EXPECT_EQ(S(line.Text()), u"");
    ASSERT_TRUE(line.Append(u"/silent"));
    ASSERT_TRUE(line.Append(u" "));
    ASSERT_TRUE(line.Assign(TrimRight(line.Text())));
    EXPECT_EQ(S(line.Text()), u"/silent");
    RuntimeString copy = line;
    ASSERT_TRUE(line.Assign(line.Text() + 1)); // a text inside its own buffer
    EXPECT_EQ(S(line.Text()), u"silent");
    EXPECT_EQ(S(copy.Text()), u"/silent");
    ASSERT_TRUE(line.Assign(nullptr));
    EXPECT_EQ(line.Length(), 0u);
}

// Run in a fresh thread so that the scratch area starts at its initial size.
template <class Body> void InFreshThread(Body body) {
    std::thread(body).join();
}

TEST(StringScratch, GrowsByTheRuleAndFindsItsInputAgainAfterMoving) {
    InFreshThread([] {
        EXPECT_EQ(ScratchCapacity(), 16);
        ScratchMark mark;
        // 7 units + terminator = 16 bytes: 16 >= 16 - 4, so the area grows to need + 16384.
        const char16_t* a = ScratchCopy(u"ABCDEFG");
        EXPECT_EQ(ScratchCapacity(), 16 + 16384);
        EXPECT_EQ(ScratchPosition(), 16);
        EXPECT_EQ(S(a), u"ABCDEFG");

        // Inputs that live in the area while it moves: each step needs more than is left.
        std::u16string big(6000, u'X');
        const char16_t* x = ScratchCopy(big.c_str());
        for (int i = 0; i < 4; ++i) x = LowerCase(x);
        EXPECT_EQ(S(x), std::u16string(6000, u'x'));
        x = TrimRight(x);
        EXPECT_EQ(S(x), std::u16string(6000, u'x'));
        EXPECT_GT(ScratchCapacity(), 6 * 12002);
    });
}

TEST(StringScratch, MarksReuseTheAreaAndLargeAreasShrinkBack) {
    InFreshThread([] {
        int64_t start = ScratchPosition();
        {
            ScratchMark mark;
            ScratchCopy(std::u16string(600000, u'a').c_str()); // 1.2 MB
            EXPECT_GT(ScratchCapacity(), 1048576);
        }
        EXPECT_EQ(ScratchPosition(), start) << "the mark gave the space back";
        ScratchMark mark;
        ScratchCopy(u"small");
        EXPECT_EQ(ScratchCapacity(), 1048576) << "shrinks to 1 MiB once the need is small";
    });
}

} // namespace

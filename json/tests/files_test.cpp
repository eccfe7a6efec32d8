#include "test_support.h"
#include "json/json_internal.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

// Files live in the test's working folder, by relative name, natively and under Wine.
const char16_t* kFile = u"json_test_file.json";
const char* kFileNarrow = "json_test_file.json";

std::string ReadBytes(const char* name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const char* name, const std::string& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<uint32_t> gBlocks;

class JsonFilesTest : public testing::Test {
  protected:
    void SetUp() override {
        std::remove(kFileNarrow);
        gBlocks.clear();
    }
    void TearDown() override {
        json_internal::gFailWritesAfter = -1;
        json_internal::gWriteObserver = nullptr;
        JsonFree(AnyNumber);
        std::remove(kFileNarrow);
    }
};

TEST_F(JsonFilesTest, TheDefaultSettingsFileIsExactly66Bytes) {
    ASSERT_TRUE(ParseInto(0, R"({"beeptime":3000,"forceOff":0,"runAsAdmin":0})"));
    ASSERT_EQ(JsonSaveFile(0, kFile, JsonPrettyPrint), 1);
    const unsigned char expect[] = {
        0x7B, 0x0D, 0x0A, 0x20, 0x20, 0x22, 0x66, 0x6F, 0x72, 0x63, 0x65, 0x4F, 0x66, 0x66,
        0x22, 0x20, 0x20, 0x3A, 0x20, 0x30, 0x2C, 0x0D, 0x0A, 0x20, 0x20, 0x22, 0x72, 0x75,
        0x6E, 0x41, 0x73, 0x41, 0x64, 0x6D, 0x69, 0x6E, 0x22, 0x3A, 0x20, 0x30, 0x2C, 0x0D,
        0x0A, 0x20, 0x20, 0x22, 0x62, 0x65, 0x65, 0x70, 0x74, 0x69, 0x6D, 0x65, 0x22, 0x20,
        0x20, 0x3A, 0x20, 0x33, 0x30, 0x30, 0x30, 0x0D, 0x0A, 0x7D};
    static_assert(sizeof expect == 66);
    EXPECT_EQ(ReadBytes(kFileNarrow), std::string(std::begin(expect), std::end(expect)));
    EXPECT_EQ(ReadBytes("json_test_file.json.tmp"), "<missing>") << "no temporary is left";

    // And back: the same tree, whichever layout.
    for (int32_t flags : {JsonPrettyPrint, 0}) {
        ASSERT_EQ(JsonSaveFile(0, kFile, flags), 1);
        ASSERT_NE(JsonLoadFile(1, kFile), 0);
        EXPECT_TRUE(JsonTreesEquivalent(JsonRoot(0), JsonRoot(1)));
    }
    ASSERT_NE(JsonCreate(2), 0);
    ASSERT_EQ(JsonSaveFile(2, kFile, JsonPrettyPrint), 1);
    EXPECT_EQ(ReadBytes(kFileNarrow), "null");
}

TEST_F(JsonFilesTest, Loading) {
    ASSERT_FALSE(ParseInto(0, "[x")); // an error record to be left alone
    struct Case {
        const char* what;
        const char* bytes; // null: no file
        size_t length;
        bool ok;
        const char* message;
        std::u16string text; // the string root on success
    } cases[] = {
        {"missing file", nullptr, 0, false, "Unexpected character", u""},
        {"empty file", "", 0, false, "Unexpected character", u""},
        {"byte-order mark", "\xEF\xBB\xBF\"a\"", 6, false, "Unexpected character", u""},
        {"stray 0xFF",
         "\"a\xFF"
         "b\"",
         5, true, "", u"a\uFFFDb"},
        {"4-byte sequence", "\"\xF0\x9F\x98\x80\"", 6, true, "", u"\U0001F600"},
        {"0 byte ends the text", "\"ab\"\0garbage", 12, true, "", u"ab"},
    };
    for (const Case& c : cases) {
        std::remove(kFileNarrow);
        if (c.bytes) WriteBytes(kFileNarrow, std::string(c.bytes, c.length));
        intptr_t id = JsonLoadFile(0, kFile);
        EXPECT_EQ(id != 0, c.ok) << c.what;
        EXPECT_STREQ(JsonLastError()->message, c.message) << c.what;
        if (c.ok) {
            EXPECT_EQ(Show(JsonGetString(JsonRoot(0))), Show(c.text)) << c.what;
        }
    }
    std::remove(kFileNarrow);
    EXPECT_FALSE(JsonLoadFile(0, u""));
    EXPECT_FALSE(JsonLoadFile(0, nullptr));
    EXPECT_FALSE(JsonParseMemory(0, nullptr, 4));
    EXPECT_FALSE(JsonParseMemory(0, "1", -1));
    EXPECT_FALSE(JsonParseMemory(0, "1", int64_t{1} << 32)) << "too long for a text";
    EXPECT_TRUE(JsonParseMemory(0, "12", 1));
    EXPECT_EQ(JsonGetInteger(JsonRoot(0)), 1);
}

TEST_F(JsonFilesTest, Utf8Decoding) {
    struct Case {
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"plain ascii text, longer than eight", u"plain ascii text, longer than eight"},
        {"\xC3\xA9\xE2\x82\xAC", u"\u00E9\u20AC"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                     // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},           // an encoded surrogate
        {"\xE2\x82", u"\uFFFD"},                           // cut short at the end
        {"\xE2\x82x", u"\uFFFDx"},                         // cut short before a plain byte
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // beyond U+10FFFF
        {"\x80\xBF", u"\uFFFD\uFFFD"},
        {"\xF0\x9F\x98", u"\uFFFD"},
    };
    for (const Case& c : cases) {
        std::vector<char16_t> out(c.bytes.size() + 1);
        size_t n = json_internal::Utf8ToUtf16(reinterpret_cast<const uint8_t*>(c.bytes.data()),
                                              c.bytes.size(), out.data());
        EXPECT_EQ(Show(std::u16string(out.data(), n)), Show(c.text)) << c.bytes;
    }
}

TEST_F(JsonFilesTest, SavingEncodesUtf8) {
    ASSERT_NE(JsonCreate(0), 0);
    struct Case {
        std::u16string text;
        std::string bytes;
    } cases[] = {
        {u"\U0001F600", "\"\xF0\x9F\x98\x80\""},
        {u"\u00E9\u20AC", "\"\xC3\xA9\xE2\x82\xAC\""},
        // A surrogate without its partner becomes U+FFFD; nothing else is lost, and no 0
        // byte ever reaches the file.
        {std::u16string{u'a', 0xD800}, "\"a\xEF\xBF\xBD\""},
        {std::u16string{0xDC00, u'b'}, "\"\xEF\xBF\xBD"
                                       "b\""},
        {std::u16string{0xDC00, 0xD83D, 0xDE00}, "\"\xEF\xBF\xBD\xF0\x9F\x98\x80\""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(JsonSetString(JsonRoot(0), c.text.c_str()));
        ASSERT_EQ(JsonSaveFile(0, kFile, 0), 1);
        EXPECT_EQ(ReadBytes(kFileNarrow), c.bytes) << Show(c.text);
        EXPECT_NE(JsonLoadFile(1, kFile), 0) << "what was saved loads again";
    }
}

TEST_F(JsonFilesTest, SavingAMissingDocumentLeavesTheFileAlone) {
    WriteBytes(kFileNarrow, "old");
    EXPECT_EQ(JsonSaveFile(0, kFile, 0), 0);
    EXPECT_EQ(JsonSaveFile(AnyNumber, kFile, 0), 0);
    ASSERT_NE(JsonCreate(0), 0);
    EXPECT_EQ(JsonSaveFile(0, u"", 0), 0);
    EXPECT_EQ(JsonSaveFile(0, nullptr, 0), 0);
    EXPECT_EQ(ReadBytes(kFileNarrow), "old");
    EXPECT_EQ(JsonSaveFile(0, u"no_such_folder/x.json", 0), 0);
}

TEST_F(JsonFilesTest, LargeSavesGoOutInBlocksAndAFailedSaveKeepsTheOldFile) {
    // About 20 KB of text with multi-byte characters, so that blocks end unevenly.
    std::string json = "[";
    for (int i = 0; i < 1000; ++i) json += std::string(i ? "," : "") + "\"\\u20ACx\\u00E9\"";
    json += "]";
    ASSERT_TRUE(ParseInto(0, json));
    json_internal::gWriteObserver = [](uint32_t bytes) { gBlocks.push_back(bytes); };
    ASSERT_EQ(JsonSaveFile(0, kFile, JsonPrettyPrint), 1);
    ASSERT_GT(gBlocks.size(), 2u);
    size_t total = 0;
    for (size_t i = 0; i < gBlocks.size(); ++i) {
        total += gBlocks[i];
        if (i + 1 < gBlocks.size()) {
            EXPECT_GE(gBlocks[i], 4092u);
            EXPECT_LE(gBlocks[i], 4095u);
        }
    }
    std::string saved = ReadBytes(kFileNarrow);
    EXPECT_EQ(total, saved.size());

    // A write that fails part-way: the result is 0 and the previous file is still whole.
    ASSERT_TRUE(ParseInto(0, "[\"" + std::string(10000, 'z') + "\"]"));
    json_internal::gFailWritesAfter = 5000;
    EXPECT_EQ(JsonSaveFile(0, kFile, 0), 0);
    EXPECT_EQ(ReadBytes(kFileNarrow), saved);
    EXPECT_EQ(ReadBytes("json_test_file.json.tmp"), "<missing>");
    json_internal::gFailWritesAfter = -1;
    ASSERT_TRUE(ParseInto(0, "[\"" + std::string(10000, 'y') + "\"]"));
    EXPECT_EQ(JsonSaveFile(0, kFile, 0), 1);
    EXPECT_EQ(ReadBytes(kFileNarrow).size(), 10004u);
}

} // namespace

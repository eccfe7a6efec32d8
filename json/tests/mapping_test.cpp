#include "test_support.h"

#include "runtime/containers.h"
#include "runtime/strings.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

struct Preferences {
    int64_t beeptime;
    int64_t forceOff;
    uint8_t runAsAdmin;
};
constexpr size_t kPreferencesSize = 17;

const StructureDescriptorBuilder& PrefsDescriptor() {
    static const StructureDescriptorBuilder d =
        StructureDescriptorBuilder("prefsstruct")
            .Field(TypeIntPtr, offsetof(Preferences, beeptime), "beeptime")
            .Field(TypeIntPtr, offsetof(Preferences, forceOff), "forceOff")
            .Field(TypeUInt8, offsetof(Preferences, runAsAdmin), "runAsAdmin")
            .End();
    return d;
}

class JsonMappingTest : public testing::Test {
  protected:
    void TearDown() override { JsonFree(AnyNumber); }
};

TEST_F(JsonMappingTest, PreferencesDescriptorBytes) {
    // Name, empty second text, no field table, three plain fields, the end mark.
    static const char bytes[] = "prefsstruct\0"
                                "\0"
                                "\0\0\0\0\0\0\0\0"
                                "\x15\0\0\0\0beeptime\0"
                                "\x15\x08\0\0\0forceOff\0"
                                "\x18\x10\0\0\0runAsAdmin\0"
                                "\xFF";
    std::vector<uint8_t> expect(bytes, bytes + sizeof bytes - 1);
    const StructureDescriptorBuilder& d = PrefsDescriptor();
    ASSERT_NE(d.Bytes(), nullptr);
    EXPECT_EQ(std::vector<uint8_t>(d.Bytes(), d.Bytes() + d.Size()), expect);
}

TEST_F(JsonMappingTest, PreferencesInsertAndExtract) {
    Preferences p{3000, 0, 0};
    ASSERT_NE(JsonCreate(0), 0);
    JsonInsertStructure(JsonRoot(0), &p, PrefsDescriptor().Bytes());
    EXPECT_EQ(Written(0), R"({"forceOff":0,"runAsAdmin":0,"beeptime":3000})");

    // The conversion table, each case on the defaults {3000, 0, 0} with JsonNoClear.
    struct Case {
        const char* json;
        Preferences expect;
    } cases[] = {
        {R"({"beeptime":120})", {120, 0, 0}},
        {R"({"beeptime":"120"})", {0, 0, 0}},
        {R"({"beeptime":99.9})", {99, 0, 0}},
        {R"({"beeptime":-99.9})", {-99, 0, 0}},
        {R"({"beeptime":null})", {0, 0, 0}},
        {R"({"beeptime":[1]})", {0, 0, 0}},
        {R"({"beeptime":1e300})", {INT64_MIN, 0, 0}},
        {R"({"runAsAdmin":true})", {3000, 0, 1}},
        {R"({"runAsAdmin":257})", {3000, 0, 1}},
        {R"({"runAsAdmin":256})", {3000, 0, 0}},
        {R"({"runAsAdmin":-1})", {3000, 0, 255}},
        {R"({"forceOff":true,"extra":5})", {3000, 1, 0}},
        {R"({"BeepTime":5,"ForceOff":1})", {3000, 0, 0}},
        {R"([{"beeptime":1}])", {3000, 0, 0}},
        {R"(7)", {3000, 0, 0}},
        {R"(null)", {3000, 0, 0}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(ParseInto(0, c.json)) << c.json;
        Preferences q{3000, 0, 0};
        JsonExtractStructure(JsonRoot(0), &q, kPreferencesSize, PrefsDescriptor().Bytes(),
                             JsonNoClear);
        EXPECT_EQ(q.beeptime, c.expect.beeptime) << c.json;
        EXPECT_EQ(q.forceOff, c.expect.forceOff) << c.json;
        EXPECT_EQ(q.runAsAdmin, c.expect.runAsAdmin) << c.json;
    }

    // Capitalised names match once the document folds case.
    ASSERT_TRUE(ParseInto(0, R"({"BeepTime":5})", JsonNoCase));
    Preferences q{3000, 0, 0};
    JsonExtractStructure(JsonRoot(0), &q, kPreferencesSize, PrefsDescriptor().Bytes(), JsonNoClear);
    EXPECT_EQ(q.beeptime, 5);

    // Without JsonNoClear every field is zeroed first; the 17 bytes only.
    unsigned char raw[24];
    std::memset(raw, 0xAA, sizeof raw);
    ASSERT_TRUE(ParseInto(0, R"({"forceOff":1})"));
    JsonExtractStructure(JsonRoot(0), raw, kPreferencesSize, PrefsDescriptor().Bytes(), 0);
    Preferences r;
    std::memcpy(&r, raw, kPreferencesSize);
    EXPECT_EQ(r.beeptime, 0);
    EXPECT_EQ(r.forceOff, 1);
    EXPECT_EQ(r.runAsAdmin, 0);
    EXPECT_EQ(raw[17], 0xAA);
    JsonExtractStructure(JsonRoot(0), nullptr, kPreferencesSize, PrefsDescriptor().Bytes(), 0);
}

// ---- Every kind of field ------------------------------------------------------------------

struct Point {
    int32_t x;
    RuntimeString label;
};

struct Everything {
    int8_t i8;
    int16_t i16;
    int32_t i32;
    float f;
    char16_t ch;
    double d;
    int64_t i64;
    intptr_t iptr;
    uint8_t u8;
    uint16_t u16;
    void* pointer;
    RuntimeString text;
    char16_t fixed[4];
    Point point;
    int32_t statics[3];
    RuntimeList* list;
    RuntimeMap* map;
    void* array;
    void* grid;
    RuntimeList* points;
    int64_t unknown;
};

const DynamicField kPointDynamic[] = {
    {DynamicFieldKind::String, int32_t(offsetof(Point, label)), 1, 0, 0, 0, 0, nullptr},
};
const DynamicFieldTable kPointTable{kPointDynamic, 1};

const DynamicField kEverythingDynamic[] = {
    {DynamicFieldKind::String, int32_t(offsetof(Everything, text)), 1, 0, 0, 0, 0, nullptr},
    {DynamicFieldKind::Structure, int32_t(offsetof(Everything, point)), 1, 0, 0, 0, 0,
     &kPointTable},
    {DynamicFieldKind::List, int32_t(offsetof(Everything, list)), 1, 0, TypeString, 8, 0, nullptr},
    {DynamicFieldKind::Map, int32_t(offsetof(Everything, map)), 1, 0, TypeDouble, 8, 0, nullptr},
    {DynamicFieldKind::Array, int32_t(offsetof(Everything, array)), 1, 0, TypeInt16, 2, 1, nullptr},
    {DynamicFieldKind::Array, int32_t(offsetof(Everything, grid)), 1, 0, TypeUInt8, 1, 2, nullptr},
    {DynamicFieldKind::List, int32_t(offsetof(Everything, points)), 1, 0, TypeStructure,
     sizeof(Point), 0, &kPointTable},
};
const DynamicFieldTable kEverythingTable{kEverythingDynamic, 7};

const StructureDescriptorBuilder& PointDescriptor() {
    static const StructureDescriptorBuilder d =
        StructureDescriptorBuilder("point", &kPointTable)
            .Field(TypeInt32, offsetof(Point, x), "x")
            .Field(TypeString, offsetof(Point, label), "label$")
            .End();
    return d;
}

const StructureDescriptorBuilder& EverythingDescriptor() {
#define AT(field) int32_t(offsetof(Everything, field))
    static const StructureDescriptorBuilder d =
        StructureDescriptorBuilder("everything", &kEverythingTable)
            .Field(TypeInt8, AT(i8), "i8")
            .Field(TypeInt16, AT(i16), "i16")
            .Field(TypeInt32, AT(i32), "i32")
            .Field(TypeFloat, AT(f), "f")
            .Field(TypeChar, AT(ch), "ch")
            .Field(TypeDouble, AT(d), "d")
            .Field(TypeInt64, AT(i64), "i64")
            .Field(TypeIntPtr, AT(iptr), "iptr")
            .Field(TypeUInt8, AT(u8), "u8")
            .Field(TypeUInt16, AT(u16), "u16")
            .Field(TypeString | TypePointerMark, AT(pointer), "*pointer")
            .Field(TypeString, AT(text), "text$")
            .FixedString(AT(fixed), "fixed$", sizeof(Everything::fixed))
            .Structure(AT(point), "point", PointDescriptor().Bytes())
            .StaticArray(TypeInt32, AT(statics), 3, 4, "statics")
            .List(TypeString, AT(list), "list")
            .Map(TypeDouble, AT(map), "map")
            .Array(TypeInt16, AT(array), "array")
            .Array(TypeUInt8, AT(grid), "grid")
            .List(TypeStructure, AT(points), "points", PointDescriptor().Bytes())
            .Field(30, AT(unknown), "unknown")
            .End();
#undef AT
    return d;
}

TEST_F(JsonMappingTest, EveryFieldKindGoesBothWays) {
    const char* json = R"({"i8":-129,"i16":-2,"i32":-3,"f":0.5,"ch":65,"d":2.25,"i64":-6,
        "iptr":7,"u8":200,"u16":65535,"pointer":4096,"text":"hello","fixed":"abcdef",
        "point":{"x":9,"label":"p"},"statics":[1,2,3,4],"list":["a","b",5],
        "map":{"one":1,"two":2.5},"array":[1,-2,3],"grid":[[1,2,3],[4]],
        "points":[{"x":1,"label":"first"},{"x":2}],"unknown":5,"ignored":1})";
    ASSERT_TRUE(ParseInto(0, json)) << JsonLastError()->message;
    Everything e{};
    StructureClear(&e, sizeof e, &kEverythingTable);
    ASSERT_NE(e.list, nullptr);
    ASSERT_NE(e.array, nullptr);
    JsonExtractStructure(JsonRoot(0), &e, sizeof e, EverythingDescriptor().Bytes(), 0);

    EXPECT_EQ(e.i8, 127) << "low 8 bits of -129";
    EXPECT_EQ(e.i16, -2);
    EXPECT_EQ(e.i32, -3);
    EXPECT_EQ(e.f, 0.5f);
    EXPECT_EQ(e.ch, u'A');
    EXPECT_EQ(e.d, 2.25);
    EXPECT_EQ(e.i64, -6);
    EXPECT_EQ(e.iptr, 7);
    EXPECT_EQ(e.u8, 200);
    EXPECT_EQ(e.u16, 65535);
    EXPECT_EQ(reinterpret_cast<intptr_t>(e.pointer), 4096);
    EXPECT_EQ(Show(e.text.Text()), "hello");
    EXPECT_EQ(Show(std::u16string(e.fixed, 4)), "abcd") << "full: no terminator";
    EXPECT_EQ(e.point.x, 9);
    EXPECT_EQ(Show(e.point.label.Text()), "p");
    EXPECT_EQ(e.statics[0] + e.statics[1] * 10 + e.statics[2] * 100, 321);
    ASSERT_EQ(RuntimeListSize(e.list), 3);
    void* item = RuntimeListFirst(e.list);
    EXPECT_EQ(Show(static_cast<RuntimeString*>(item)->Text()), "a");
    item = RuntimeListNext(e.list, RuntimeListNext(e.list, item));
    EXPECT_EQ(Show(static_cast<RuntimeString*>(item)->Text()), "") << "a number is no string";
    EXPECT_EQ(RuntimeMapSize(e.map), 2);
    EXPECT_EQ(*static_cast<double*>(RuntimeMapFind(e.map, u"two")), 2.5);
    ASSERT_EQ(RuntimeArrayElementCount(e.array), 3);
    EXPECT_EQ(static_cast<int16_t*>(e.array)[1], -2);
    ASSERT_EQ(RuntimeArrayDimensionSize(e.grid, 0), 2);
    ASSERT_EQ(RuntimeArrayDimensionSize(e.grid, 1), 3);
    const uint8_t* grid = static_cast<uint8_t*>(e.grid);
    EXPECT_EQ(std::vector<int>(grid, grid + 6), (std::vector<int>{1, 2, 3, 4, 0, 0}));
    ASSERT_EQ(RuntimeListSize(e.points), 2);
    auto* first = static_cast<Point*>(RuntimeListFirst(e.points));
    EXPECT_EQ(Show(first->label.Text()), "first");
    EXPECT_EQ(e.unknown, 0);

    // Back into JSON: one member per field, in chain order.
    void* position = RuntimeMapPosition(e.map);
    ASSERT_NE(JsonCreate(1), 0);
    JsonInsertStructure(JsonRoot(1), &e, EverythingDescriptor().Bytes());
    EXPECT_EQ(RuntimeMapPosition(e.map), position) << "the map's position is kept";
    JsonValue* out = JsonRoot(1);
    auto member = [&](const char16_t* name) {
        return Show(JsonWriteToText(JsonObjectFind(out, name), 0));
    };
    EXPECT_EQ(member(u"i8"), "127");
    EXPECT_EQ(member(u"i16"), "-2");
    EXPECT_EQ(member(u"u16"), "65535");
    EXPECT_EQ(member(u"ch"), "65");
    EXPECT_EQ(member(u"f"), "0.5");
    EXPECT_EQ(member(u"pointer"), "4096");
    EXPECT_EQ(member(u"text"), "\"hello\"");
    EXPECT_EQ(member(u"fixed"), "\"abcd\"");
    EXPECT_EQ(member(u"point"), R"({"label":"p","x":9})");
    EXPECT_EQ(member(u"statics"), "[1,2,3]");
    EXPECT_EQ(member(u"list"), R"(["a","b",""])");
    EXPECT_EQ(member(u"map"), R"({"one":1,"two":2.5})");
    EXPECT_EQ(member(u"array"), "[1,-2,3]");
    EXPECT_EQ(member(u"grid"), "[[1,2,3],[4,0,0]]");
    EXPECT_EQ(member(u"points"), R"([{"label":"first","x":1},{"label":"","x":2}])");
    EXPECT_EQ(member(u"unknown"), "null");
    EXPECT_EQ(JsonMemberCount(out), 21);

    // Containers are emptied by a member of the wrong kind; an empty string keeps a string.
    ASSERT_TRUE(ParseInto(0, R"({"list":3,"map":[],"array":{},"grid":[[],[]],"text":""})"));
    JsonExtractStructure(JsonRoot(0), &e, sizeof e, EverythingDescriptor().Bytes(), JsonNoClear);
    EXPECT_EQ(RuntimeListSize(e.list), 0);
    EXPECT_EQ(RuntimeMapSize(e.map), 0);
    EXPECT_EQ(RuntimeArrayElementCount(e.array), 0);
    EXPECT_NE(e.array, nullptr) << "an empty array stays usable";
    EXPECT_EQ(RuntimeArrayElementCount(e.grid), 0);
    EXPECT_EQ(Show(e.text.Text()), "hello");

    // Clearing releases strings and containers and makes the containers again, empty.
    JsonExtractStructure(JsonRoot(0), &e, sizeof e, EverythingDescriptor().Bytes(), 0);
    EXPECT_EQ(e.text.Text()[0], 0);
    EXPECT_NE(e.list, nullptr);
    EXPECT_EQ(e.i16, 0);
    StructureRelease(&e, &kEverythingTable);
}

TEST_F(JsonMappingTest, NullRecordsAndFullFixedStrings) {
    ASSERT_NE(JsonCreate(0), 0);
    JsonInsertStructure(JsonRoot(0), nullptr, PrefsDescriptor().Bytes());
    EXPECT_EQ(Written(0), "{}");

    // A fixed string shorter than its field is zero-filled behind its text.
    struct Fixed {
        char16_t text[4];
    } f;
    std::memset(&f, 0xFF, sizeof f);
    static const StructureDescriptorBuilder d =
        StructureDescriptorBuilder("fixed").FixedString(0, "text$", sizeof f.text).End();
    ASSERT_TRUE(ParseInto(0, R"({"text":"ab"})"));
    JsonExtractStructure(JsonRoot(0), &f, sizeof f, d.Bytes(), JsonNoClear);
    EXPECT_EQ(std::u16string(f.text, 4), (std::u16string{u'a', u'b', 0, 0}));
}

} // namespace

#include "ui/images.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

DIBSECTION Section(void* bitmap) {
    DIBSECTION section{};
    EXPECT_EQ(GetObjectW(static_cast<HBITMAP>(bitmap), sizeof section, &section),
              int(sizeof section));
    return section;
}

// The rows of an icon's mask, top row first: a set bit is transparent.
std::vector<uint8_t> MaskOf(HICON icon, int* stride) {
    ICONINFO info{};
    EXPECT_TRUE(GetIconInfo(icon, &info));
    BITMAP bm{};
    GetObjectW(info.hbmMask, sizeof bm, &bm);
    *stride = bm.bmWidthBytes;
    std::vector<uint8_t> bits(size_t(bm.bmWidthBytes) * bm.bmHeight);
    EXPECT_EQ(GetBitmapBits(info.hbmMask, LONG(bits.size()), bits.data()), LONG(bits.size()));
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    return bits;
}

TEST(Images, CreateFillsEveryPixelWithTheColourAtItsDepth) {
    struct Case {
        int32_t depth, color;
        int bits;
        uint8_t pixel[4]; // bytes of one pixel in memory (B, G, R[, A])
    } cases[] = {
        {24, 0, 24, {0, 0, 0}},                         // the application's image
        {32, 0x000000FF, 32, {0x00, 0x00, 0xFF, 0xFF}}, // red, made opaque: 0xFFFF0000
        {16, 0x0000FF00, 24, {0x00, 0xFF, 0x00}},       // depth 16 becomes 24
        {32, -1, 32, {0, 0, 0, 0}},                     // -1: transparent black
        {32, 0x7F123456, 32, {0x12, 0x34, 0x56, 0xFF}}, // the caller's top byte is ignored
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << " colour " << c.color);
        ASSERT_NE(ImageCreate(0, 32, 32, c.depth, c.color), 0);
        DIBSECTION s = Section(ImageHandle(0));
        EXPECT_EQ(s.dsBm.bmWidth, 32);
        EXPECT_EQ(s.dsBm.bmHeight, 32);
        EXPECT_EQ(s.dsBm.bmBitsPixel, c.bits);
        EXPECT_GT(s.dsBmih.biHeight, 0); // bottom-up
        const int bytes = c.bits / 8;
        EXPECT_EQ(s.dsBm.bmWidthBytes, 32 * bytes);
        auto* p = static_cast<const uint8_t*>(s.dsBm.bmBits);
        int wrong = 0;
        for (int i = 0; i < 32 * 32; ++i) wrong += std::memcmp(p + i * bytes, c.pixel, bytes) != 0;
        EXPECT_EQ(wrong, 0);
    }
    ImageFree(0);
    EXPECT_EQ(ImageHandle(0), nullptr);
}

TEST(Images, NumbersAreReusedFreedAndCheckedForSize) {
    auto first = reinterpret_cast<HBITMAP>(ImageCreate(3, 8, 8));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(GetObjectType(first), DWORD(OBJ_BITMAP));
    // Reusing the number frees the old bitmap.
    ASSERT_NE(ImageCreate(3, 8, 8), 0);
    EXPECT_EQ(GetObjectType(first), 0u);

    // Bad sizes fail and keep the image that held the number.
    void* kept = ImageHandle(3);
    EXPECT_EQ(ImageCreate(3, 0, 8), 0);
    EXPECT_EQ(ImageCreate(3, 8, -8), 0);
    EXPECT_EQ(ImageHandle(3), kept);

    int64_t dynamic = ImageCreate(AnyNumber, 4, 4, 32, 0);
    ASSERT_NE(dynamic, 0);
    HBITMAP dynamicBitmap = static_cast<HBITMAP>(ImageHandle(dynamic));
    EXPECT_NE(dynamicBitmap, nullptr);
    EXPECT_EQ(ImageHandle(12345), nullptr);
    ImageFree(12345); // nothing there: ignored

    ImageFree(AnyNumber);
    EXPECT_EQ(ImageHandle(3), nullptr);
    EXPECT_EQ(ImageHandle(dynamic), nullptr);
    EXPECT_EQ(GetObjectType(dynamicBitmap), 0u);
}

TEST(Images, IconMaskComesFromTheAlphaChannel) {
    void* own = nullptr;
    int stride = 0;

    // 24 bits: no alpha, every pixel opaque.
    ASSERT_NE(ImageCreate(0, 32, 32), 0);
    HICON icon = static_cast<HICON>(ImageToIcon(&own, ImageHandle(0)));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(own, icon);
    for (uint8_t byte : MaskOf(icon, &stride)) ASSERT_EQ(byte, 0);

    // 32 bits, opaque except the top-left pixel (the last row in memory, first column), and
    // a width that is not a multiple of 16 to catch row padding.
    ASSERT_NE(ImageCreate(1, 20, 3, 32, 0x00FFFFFF), 0);
    DIBSECTION s = Section(ImageHandle(1));
    auto* pixels = static_cast<uint32_t*>(s.dsBm.bmBits);
    pixels[2 * 20 + 0] = 0x00FFFFFF;  // top-left, alpha 0
    pixels[0 * 20 + 19] = 0x00000000; // bottom-right, alpha 0
    icon = static_cast<HICON>(ImageToIcon(&own, ImageHandle(1)));
    ASSERT_NE(icon, nullptr);
    std::vector<uint8_t> mask = MaskOf(icon, &stride);
    ASSERT_EQ(mask.size(), size_t(stride) * 3);
    auto transparent = [&](int x, int y) { return (mask[y * stride + x / 8] >> (7 - x % 8)) & 1; };
    int count = 0;
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 20; ++x) count += transparent(x, y);
    EXPECT_EQ(transparent(0, 0), 1);
    EXPECT_EQ(transparent(19, 2), 1);
    EXPECT_EQ(count, 2);

    // An icon passes through unchanged; the previous own icon is destroyed.
    HICON system = LoadIconW(nullptr, IDI_APPLICATION);
    EXPECT_EQ(ImageToIcon(&own, system), system);
    EXPECT_EQ(own, nullptr);
    EXPECT_FALSE(DestroyIcon(icon)); // already gone
    EXPECT_EQ(ImageToIcon(&own, nullptr), nullptr);
    ImageFree(AnyNumber);
}

} // namespace

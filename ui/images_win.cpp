#include "images.h"

#include "runtime/heap.h"

#include <windows.h>

#include <cstring>

namespace {

struct ImageRecord {
    HBITMAP bitmap; // null marks a free slot
    // Wider than a 16-bit size so that a large bitmap cannot be recorded with a wrapped one.
    int32_t width;
    int32_t height;
    uint8_t depth;
    uint8_t creationDepth;
    int32_t frameCount;
};

ObjectTableOf<ImageRecord> gImages;

ImageRecord* FindImage(int64_t number) {
    return gImages.Get(number);
}

// Bytes per row of a DIB: rows are padded to whole 32-bit words.
int64_t RowStride(int bitsPerPixel, int64_t width) {
    if (bitsPerPixel == 15) bitsPerPixel = 16;
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// Callers give colours as 0x00BBGGRR; a 32-bit pixel is 0xAARRGGBB.
uint32_t ColorToPixel(uint32_t color) {
    return (color & 0xFF00FF00u) | ((color & 0xFFu) << 16) | ((color >> 16) & 0xFFu);
}

HBITMAP CreateSection(int32_t width, int32_t height, int depth, void** bits) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return nullptr;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(depth);
    info.bmiHeader.biCompression = BI_RGB;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
    DeleteDC(dc);
    return bitmap;
}

void FillWithBrush(HBITMAP bitmap, int32_t width, int32_t height, COLORREF color) {
    HDC dc = CreateCompatibleDC(nullptr);
    if (!dc) return;
    HGDIOBJ old = SelectObject(dc, bitmap);
    if (HBRUSH brush = CreateSolidBrush(color)) {
        RECT all{0, 0, width, height};
        FillRect(dc, &all, brush);
        DeleteObject(brush);
    }
    SelectObject(dc, old);
    DeleteDC(dc);
}

// The 1-bit mask of an icon made from bitmap: set bits (white) are transparent. Only a
// 32-bit image has transparent pixels, where its alpha is 0. The mask bits are built in
// memory and handed to CreateBitmap in one go, rather than pixel by pixel through a DC.
HBITMAP MakeMask(HBITMAP bitmap) {
    DIBSECTION section{};
    int got = GetObjectW(bitmap, sizeof section, &section);
    if (got < static_cast<int>(sizeof(BITMAP))) return nullptr;
    const BITMAP& bm = section.dsBm;
    const int w = bm.bmWidth;
    const int h = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
    if (w <= 0 || h <= 0) return nullptr;
    const int64_t maskStride = (int64_t{w} + 15) / 16 * 2; // monochrome rows are WORD-aligned
    auto* maskBits = static_cast<uint8_t*>(RuntimeAllocate(size_t(maskStride * h)));
    if (!maskBits) return nullptr;

    if (bm.bmBitsPixel == 32) {
        const uint8_t* pixels = nullptr;
        int64_t stride = int64_t{w} * 4;
        void* copy = nullptr;
        bool bottomUp = false;
        if (got == static_cast<int>(sizeof section) && bm.bmBits) {
            GdiFlush(); // drawing may still be queued for the section's memory
            pixels = static_cast<const uint8_t*>(bm.bmBits);
            bottomUp = section.dsBmih.biHeight > 0;
        } else if ((copy = RuntimeAllocate(size_t(stride * h)))) {
            BITMAPINFO info{};
            info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
            info.bmiHeader.biWidth = w;
            info.bmiHeader.biHeight = -h; // top-down copy
            info.bmiHeader.biPlanes = 1;
            info.bmiHeader.biBitCount = 32;
            info.bmiHeader.biCompression = BI_RGB;
            HDC dc = CreateCompatibleDC(nullptr);
            if (dc && GetDIBits(dc, bitmap, 0, UINT(h), copy, &info, DIB_RGB_COLORS) == h)
                pixels = static_cast<const uint8_t*>(copy);
            if (dc) DeleteDC(dc);
        }
        if (pixels) {
            for (int y = 0; y < h; ++y) {
                const uint8_t* row = pixels + (bottomUp ? h - 1 - y : y) * stride;
                uint8_t* maskRow = maskBits + y * maskStride;
                for (int x = 0; x < w; ++x) {
                    uint32_t pixel;
                    std::memcpy(&pixel, row + x * 4, sizeof pixel);
                    if (pixel < 0x01000000u) maskRow[x / 8] |= uint8_t(0x80u >> (x % 8));
                }
            }
        }
        RuntimeFree(copy);
    }
    HBITMAP mask = CreateBitmap(w, h, 1, 1, maskBits);
    RuntimeFree(maskBits);
    return mask;
}

} // namespace

void ImageLibraryInit() {
    (void)gImages.Create(16, ImageFree);
}

void ImageLibraryShutdown() {
    gImages.ReleaseAll();
}

int64_t ImageCreate(int64_t number, int32_t width, int32_t height, int32_t depth, int32_t color) {
    // A negative height would make a top-down bitmap and zero a failed one; neither is an
    // image the rest of the library can read.
    if (width < 1 || height < 1) return 0;
    uint32_t fill = static_cast<uint32_t>(color);
    if (depth == 32) {
        fill = color == -1 ? 0u : fill | 0xFF000000u;
    } else {
        depth = 24;
    }

    ImageRecord* record = gImages.Allocate(number);
    if (!record) return 0;
    const int64_t id = number == AnyNumber ? ObjectDynamicId(record) : number;

    void* bits = nullptr;
    HBITMAP bitmap = CreateSection(width, height, depth, &bits);
    if (!bitmap) {
        gImages.Release(id);
        return 0;
    }
    BITMAP bm{};
    GetObjectW(bitmap, sizeof bm, &bm);
    if (depth == 32 && bits) {
        const uint32_t pixel = ColorToPixel(fill);
        const int64_t stride = RowStride(32, bm.bmWidth);
        for (int64_t y = 0; y < bm.bmHeight; ++y) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(bits) + y * stride);
            for (int64_t x = 0; x < bm.bmWidth; ++x) row[x] = pixel;
        }
    } else {
        FillWithBrush(bitmap, width, height, fill);
        GdiFlush();
    }

    record->bitmap = bitmap;
    record->width = width;
    record->height = height;
    record->depth = static_cast<uint8_t>(depth);
    record->creationDepth = static_cast<uint8_t>(depth);
    record->frameCount = 1;
    return number == AnyNumber ? id : reinterpret_cast<intptr_t>(bitmap);
}

void* ImageHandle(int64_t number) {
    ImageRecord* record = FindImage(number);
    return record ? record->bitmap : nullptr;
}

void ImageFree(int64_t number) {
    if (number == AnyNumber) {
        gImages.ReleaseAll();
        return;
    }
    ImageRecord* record = FindImage(number);
    if (!record) return;
    if (GetObjectType(record->bitmap) == OBJ_BITMAP)
        DeleteObject(record->bitmap);
    else
        DestroyIcon(reinterpret_cast<HICON>(record->bitmap));
    gImages.Release(number);
}

void* ImageToIcon(void** ownIcon, void* image) {
    if (*ownIcon) {
        DestroyIcon(static_cast<HICON>(*ownIcon));
        *ownIcon = nullptr;
    }
    if (!image) return nullptr;
    auto* bitmap = static_cast<HBITMAP>(image);
    if (GetObjectType(bitmap) != OBJ_BITMAP) return image;
    HBITMAP mask = MakeMask(bitmap);
    if (!mask) return nullptr;
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmMask = mask;
    info.hbmColor = bitmap;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(mask);
    *ownIcon = icon;
    return icon;
}

// Numbered in-memory images (device-independent bitmaps of 24 or 32 bits per pixel) and
// their conversion into icons, with a transparency mask taken from the alpha channel.
// Images are made and used on the main thread.
#pragma once

#include "runtime/objects.h"
#include "runtime/runtime.h"

#include <cstdint>

void ImageLibraryInit();
// Frees every image.
void ImageLibraryShutdown();
inline RuntimeLibrary ImageLibrary() {
    return {RuntimeLibraryId::Images, ImageLibraryInit, ImageLibraryShutdown};
}

// Makes an image of width x height pixels filled with color (0x00BBGGRR). Depth 32 keeps
// 32 bits and makes the color opaque (color -1 gives transparent black); every other depth
// becomes 24. An image that held the number is freed first. Returns the bitmap handle for a
// caller-chosen number, the new image's identifier for AnyNumber, 0 on failure (also for a
// width or height below 1).
[[nodiscard]] int64_t ImageCreate(int64_t number, int32_t width, int32_t height, int32_t depth = 24,
                                  int32_t color = 0);

// The image's bitmap handle, or null when there is no such image.
void* ImageHandle(int64_t number);

// Frees the image (AnyNumber: every image). A number without an image is ignored.
void ImageFree(int64_t number);

// Makes an icon of the bitmap handle image, whose mask is opaque everywhere except, in a
// 32-bit image, where a pixel's alpha is 0. The icon goes into *ownIcon, whose previous icon
// is destroyed first, and is returned. A handle that is not a bitmap is taken as an icon
// already and returned unchanged (*ownIcon is then null). Null when no icon could be made.
void* ImageToIcon(void** ownIcon, void* image);

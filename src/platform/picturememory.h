#pragma once

#include <QImage>

// Memory for the pixels of a picture that stays on the board. A large picture's pages are asked
// for in 2 MiB pieces where the system offers them (transparent huge pages): filling a fresh
// picture page by page costs the kernel more than decoding it on some machines, and a board keeps
// every picture it loads, so no allocator can hand back memory that is already in use.
namespace PictureMemory {

// A picture of the given size in a 32-bit format with lines of width * 4 bytes; null when there
// is no memory for it. Its contents are undefined.
QImage newImage(int width, int height, QImage::Format format);

} // namespace PictureMemory

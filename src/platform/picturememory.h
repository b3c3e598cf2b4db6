#pragma once

#include <QImage>

#include <cstddef>
#include <memory>

// Memory for the pixels of a picture that stays on the board, and for the working buffers of
// decoding one. A large block's pages are asked for in 2 MiB pieces where the system offers them
// (transparent huge pages): filling a fresh picture page by page costs the kernel more than
// decoding it on some machines, and a board keeps every picture it loads, so no allocator can
// hand back memory that is already in use.
namespace PictureMemory {

// A picture of the given size in a 32-bit format with lines of width * 4 bytes; null when there
// is no memory for it. Its contents are undefined.
QImage newImage(int width, int height, QImage::Format format);

struct BufferDeleter {
    // Zero for a block from the heap.
    size_t mappedLength = 0;
    void operator()(uchar *data) const;
};
using Buffer = std::unique_ptr<uchar[], BufferDeleter>;

// A block of the given size, null when there is no memory for it. Its contents are undefined.
Buffer newBuffer(size_t size);

// Freed blocks wait a while for the next pictures of about their size; from this call on they are
// given back at once, and so are the ones waiting now.
void keepNoSpares();

// The machine's memory in bytes; 0 when it cannot be told.
qint64 physicalBytes();
// Bytes this process may still map before its address-space limit (RLIMIT_AS) refuses; -1 when
// there is no limit or it cannot be told.
qint64 addressSpaceLeft();

// Bytes of freed blocks kept for reuse: memory the program holds though no picture uses it.
size_t spareBytes();
// Gives every kept block back now; later ones are kept again.
void releaseSpares();

} // namespace PictureMemory

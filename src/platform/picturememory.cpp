#include "platform/picturememory.h"

#include <cstdint>
#include <new>
#include <sys/mman.h>
#include <unistd.h>

namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define PICTURE_MEMORY_FROM_HEAP
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define PICTURE_MEMORY_FROM_HEAP
#endif

// Below this the heap serves better: a block would not fill one huge page. Under the sanitizers
// every block comes from the heap, where they watch its edges.
#ifdef PICTURE_MEMORY_FROM_HEAP
constexpr size_t ownMappingBytes = SIZE_MAX;
#else
constexpr size_t ownMappingBytes = size_t(1) << 20;
#endif
constexpr uintptr_t hugePage = uintptr_t(1) << 21;

struct Mapping {
    void *address;
    size_t size;
};

void unmap(void *info)
{
    const auto *mapping = static_cast<Mapping *>(info);
    ::munmap(mapping->address, mapping->size);
    delete mapping;
}

// Huge pages need aligned addresses: takes a little more address space than needed and gives
// back the ends, so that the mapping holds the block alone and its tail gets small pages instead
// of part of a huge one. Null when there is no address space; *length is the mapping's size.
uchar *mapAligned(size_t size, size_t *length)
{
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    *length = (size + page - 1) / page * page;
    void *reserved = ::mmap(nullptr, *length + hugePage, PROT_READ | PROT_WRITE,
        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED)
        return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(reserved);
    const uintptr_t aligned = (start + hugePage - 1) & ~(hugePage - 1);
    if (aligned > start)
        ::munmap(reserved, aligned - start);
    const uintptr_t end = start + *length + hugePage;
    if (end > aligned + *length)
        ::munmap(reinterpret_cast<void *>(aligned + *length), end - (aligned + *length));
    auto *data = reinterpret_cast<uchar *>(aligned);
    // Only a hint: without huge pages the block gets small ones, as any other memory.
    ::madvise(data, *length, MADV_HUGEPAGE);
    return data;
}

} // namespace

QImage PictureMemory::newImage(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0)
        return QImage();
    const size_t size = size_t(width) * 4 * size_t(height);
    if (size < ownMappingBytes)
        return QImage(width, height, format);

    size_t length = 0;
    uchar *pixels = mapAligned(size, &length);
    if (!pixels)
        return QImage();
    auto *mapping = new Mapping { pixels, length };
    QImage image(pixels, width, height, width * 4, format, unmap, mapping);
    // An image that could not be made never calls its cleanup.
    if (image.isNull())
        unmap(mapping);
    return image;
}

void PictureMemory::BufferDeleter::operator()(uchar *data) const
{
    if (mappedLength == 0)
        delete[] data;
    else
        ::munmap(data, mappedLength);
}

PictureMemory::Buffer PictureMemory::newBuffer(size_t size)
{
    if (size < ownMappingBytes)
        return Buffer(new (std::nothrow) uchar[size]);
    size_t length = 0;
    uchar *data = mapAligned(size, &length);
    return data ? Buffer(data, BufferDeleter { length }) : Buffer();
}

#include "platform/picturememory.h"

#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Below this the heap serves better: a picture would not fill one huge page.
constexpr size_t ownMappingBytes = size_t(1) << 20;
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

} // namespace

QImage PictureMemory::newImage(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0)
        return QImage();
    const size_t size = size_t(width) * 4 * size_t(height);
    if (size < ownMappingBytes)
        return QImage(width, height, format);

    // Huge pages need aligned addresses: take a little more address space than needed and give
    // back the ends, so that the mapping holds the picture alone and its tail gets small pages
    // instead of part of a huge one.
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    const size_t length = (size + page - 1) / page * page;
    void *reserved = ::mmap(nullptr, length + hugePage, PROT_READ | PROT_WRITE,
        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (reserved == MAP_FAILED)
        return QImage();
    const auto start = reinterpret_cast<uintptr_t>(reserved);
    const uintptr_t aligned = (start + hugePage - 1) & ~(hugePage - 1);
    if (aligned > start)
        ::munmap(reserved, aligned - start);
    const uintptr_t end = start + length + hugePage;
    if (end > aligned + length)
        ::munmap(reinterpret_cast<void *>(aligned + length), end - (aligned + length));
    auto *pixels = reinterpret_cast<uchar *>(aligned);
    // Only a hint: without huge pages the picture gets small ones, as any other memory.
    ::madvise(pixels, length, MADV_HUGEPAGE);

    auto *mapping = new Mapping { pixels, length };
    QImage image(pixels, width, height, width * 4, format, unmap, mapping);
    // An image that could not be made never calls its cleanup.
    if (image.isNull())
        unmap(mapping);
    return image;
}

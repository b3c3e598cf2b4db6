#include "platform/picturememory.h"

#include <QAtomicInteger>
#include <QDeadlineTimer>
#include <QMutex>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

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

// Blocks of pictures just freed, kept for the next pictures of about their size. Fresh memory
// costs more than decoding into it on some machines (a virtual machine's host backs a page the
// first time it is touched, and takes freed pages back), and pictures come and go in batches:
// a load that replaces a board, undoing a load and loading again, the working buffers of every
// decode. The pages are given back lazily (MADV_FREE): the kernel takes them when memory runs
// short, and a spare left unused for half a minute is unmapped at the next call. Any thread may
// give and take.
class SpareMappings {
public:
    // A spare of at least size bytes and not much more, or null; *length is its whole size.
    uchar *take(size_t size, size_t *length)
    {
        std::vector<Mapping> expired;
        uchar *taken = nullptr;
        {
            QMutexLocker locker(&m_mutex);
            dropExpired(&expired);
            auto best = m_spares.end();
            for (auto spare = m_spares.begin(); spare != m_spares.end(); ++spare) {
                if (spare->mapping.size >= size && spare->mapping.size - size <= size / 8
                    && (best == m_spares.end() || spare->mapping.size < best->mapping.size))
                    best = spare;
            }
            if (best != m_spares.end()) {
                taken = static_cast<uchar *>(best->mapping.address);
                *length = best->mapping.size;
                m_total -= best->mapping.size;
                m_spares.erase(best);
            }
        }
        unmapAll(expired);
        return taken;
    }

    void give(const Mapping &mapping)
    {
        std::vector<Mapping> dropped;
        if (!m_keep.loadRelaxed() || mapping.size > limit()
            || ::madvise(mapping.address, mapping.size, MADV_FREE) != 0) {
            dropped.push_back(mapping);
        } else {
            QMutexLocker locker(&m_mutex);
            dropExpired(&dropped);
            // The oldest make room: the newest are the likeliest to fit what comes next.
            while (m_total + mapping.size > limit())
                dropOldest(&dropped);
            m_spares.push_back({ mapping, QDeadlineTimer(keptMilliseconds) });
            m_total += mapping.size;
        }
        unmapAll(dropped);
    }

    void keepNone() { m_keep.storeRelaxed(false); }

    size_t total()
    {
        QMutexLocker locker(&m_mutex);
        return m_total;
    }

    void releaseAll()
    {
        std::vector<Mapping> dropped;
        {
            QMutexLocker locker(&m_mutex);
            while (!m_spares.empty())
                dropOldest(&dropped);
        }
        unmapAll(dropped);
    }

private:
    struct Spare {
        Mapping mapping;
        QDeadlineTimer expiry;
    };

    // Long enough to span a load that replaces another, short enough not to sit on memory.
    static constexpr int keptMilliseconds = 30000;

    // A sixteenth of the machine's memory, at most 1 GiB.
    static size_t limit()
    {
        static const size_t bytes = [] {
            const long pages = ::sysconf(_SC_PHYS_PAGES);
            const long pageSize = ::sysconf(_SC_PAGESIZE);
            const size_t physical
                = pages > 0 && pageSize > 0 ? size_t(pages) * size_t(pageSize) : 0;
            return std::min(physical / 16, size_t(1) << 30);
        }();
        return bytes;
    }

    void dropOldest(std::vector<Mapping> *dropped)
    {
        dropped->push_back(m_spares.front().mapping);
        m_total -= m_spares.front().mapping.size;
        m_spares.erase(m_spares.begin());
    }

    void dropExpired(std::vector<Mapping> *expired)
    {
        // Given in order, so they expire in order.
        while (!m_spares.empty() && m_spares.front().expiry.hasExpired())
            dropOldest(expired);
    }

    static void unmapAll(const std::vector<Mapping> &mappings)
    {
        for (const Mapping &mapping : mappings)
            ::munmap(mapping.address, mapping.size);
    }

    QAtomicInteger<bool> m_keep = true;
    QMutex m_mutex;
    std::vector<Spare> m_spares;
    size_t m_total = 0;
};

SpareMappings &spareMappings()
{
    // Never destroyed: a picture may be freed while the program's statics are torn down.
    static auto *spares = new SpareMappings;
    return *spares;
}

void unmap(void *info)
{
    const auto *mapping = static_cast<Mapping *>(info);
    spareMappings().give(*mapping);
    delete mapping;
}

// Huge pages need aligned addresses: takes a little more address space than needed and gives
// back the ends, so that the mapping holds the block alone and its tail gets small pages instead
// of part of a huge one. Null when there is no address space; *length is the mapping's size.
// Committed as the heap's blocks are: a hostile file that claims a picture larger than the
// machine's memory then fails here, as it would in malloc, instead of when its pages are touched.
uchar *mapAligned(size_t size, size_t *length)
{
    if (uchar *spare = spareMappings().take(size, length))
        return spare;
    const size_t page = size_t(::sysconf(_SC_PAGESIZE));
    *length = (size + page - 1) / page * page;
    const auto reserve = [length] {
        return ::mmap(nullptr, *length + hugePage, PROT_READ | PROT_WRITE,
            MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    };
    void *reserved = reserve();
    if (reserved == MAP_FAILED) {
        // Short of address space: the spares' comes first.
        spareMappings().releaseAll();
        reserved = reserve();
    }
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
        spareMappings().give({ data, mappedLength });
}

qint64 PictureMemory::physicalBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? qint64(pages) * pageSize : 0;
}

qint64 PictureMemory::addressSpaceLeft()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    // In a sandbox that opens nothing, the whole limit counts as left.
    qint64 used = 0;
    if (FILE *status = std::fopen("/proc/self/statm", "re")) {
        unsigned long long pages = 0;
        if (std::fscanf(status, "%llu", &pages) == 1)
            used = qint64(pages) * ::sysconf(_SC_PAGESIZE);
        std::fclose(status);
    }
    return std::max<qint64>(0, qint64(limit.rlim_cur) - used);
}

void PictureMemory::keepNoSpares()
{
    spareMappings().keepNone();
    spareMappings().releaseAll();
}

size_t PictureMemory::spareBytes()
{
    return spareMappings().total();
}

void PictureMemory::releaseSpares()
{
    spareMappings().releaseAll();
}

PictureMemory::Buffer PictureMemory::newBuffer(size_t size)
{
    if (size < ownMappingBytes)
        return Buffer(new (std::nothrow) uchar[size]);
    size_t length = 0;
    uchar *data = mapAligned(size, &length);
    return data ? Buffer(data, BufferDeleter { length }) : Buffer();
}

// libjpeg takes the memory of its large objects from these two functions, which it keeps apart
// so that a program can provide its own; the executable's definitions take the place of the
// library's. A progressive JPEG holds every coefficient of the picture while it decodes: tens of
// megabytes, zeroed by the library, freed at its end and asked for again by the next one. Fresh
// memory in small pages cost more than the decoding itself, so large objects come from the
// blocks that pictures use.
namespace {

// Keeps the mapping's length in front of the object, far enough to keep its alignment.
constexpr size_t jpegHeader = 64;

} // namespace

extern "C" void *jpeg_get_large(struct jpeg_common_struct *, size_t size)
{
    if (size > SIZE_MAX - jpegHeader)
        return nullptr;
    if (size + jpegHeader < ownMappingBytes)
        return std::malloc(size);
    size_t length = 0;
    uchar *block = mapAligned(size + jpegHeader, &length);
    if (!block)
        return nullptr;
    *reinterpret_cast<size_t *>(block) = length;
    return block + jpegHeader;
}

extern "C" void jpeg_free_large(struct jpeg_common_struct *, void *object, size_t size)
{
    if (!object)
        return;
    if (size + jpegHeader < ownMappingBytes) {
        std::free(object);
        return;
    }
    uchar *block = static_cast<uchar *>(object) - jpegHeader;
    spareMappings().give({ block, *reinterpret_cast<size_t *>(block) });
}

#include "picture/gifreader.h"

#include "picture/picturefile.h"

#include <QtEndian>

#include <cstring>

namespace {

constexpr qint64 ScreenEnd = 13;
constexpr qint64 DescriptorLength = 9;

quint16 le16(const uchar *p)
{
    return qFromLittleEndian<quint16>(p);
}

void appendLe16(QByteArray &out, int value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
}

// The offset after a run of data sub-blocks starting at `at`, -1 when it runs past the bytes.
qint64 skipSubBlocks(const uchar *data, qint64 size, qint64 at)
{
    while (at < size) {
        const int length = data[at++];
        if (length == 0)
            return at;
        at += length;
    }
    return -1;
}

qint64 tableLength(int flags)
{
    return (flags & 0x80) ? qint64(3) << ((flags & 7) + 1) : 0;
}

} // namespace

GifReader::GifReader(const QByteArray &bytes)
    : GifReader(bytes, MaximumFrames)
{
}

GifReader::GifReader(const QByteArray &bytes, int maximumFrames)
    : m_bytes(bytes)
{
    walk(maximumFrames);
}

bool GifReader::isAnimation(const QByteArray &bytes)
{
    return GifReader(bytes, 2).frameCount() > 1;
}

void GifReader::walk(int maximumFrames)
{
    const auto *data = reinterpret_cast<const uchar *>(m_bytes.constData());
    const qint64 size = m_bytes.size();
    if (size < ScreenEnd
        || (std::memcmp(data, "GIF87a", 6) != 0 && std::memcmp(data, "GIF89a", 6) != 0))
        return;
    const QSize screen(le16(data + 6), le16(data + 8));
    if (screen.isEmpty() || PictureFile::checkSize(screen).code != PictureFile::LoadResult::Loaded)
        return;
    m_size = screen;
    m_globalTableEnd = ScreenEnd + tableLength(data[10]);
    qint64 at = m_globalTableEnd;
    // A frame's control extension precedes it; a frame without one has none of its settings.
    Frame next;
    next.blendOver = true;
    int transparent = -1;
    QRect bounds(QPoint(0, 0), screen);
    while (at < size && m_frames.size() < maximumFrames) {
        const int block = data[at++];
        if (block == 0x21) {
            if (at >= size)
                break;
            const int label = data[at++];
            if (label == 0xF9 && at + 4 < size && data[at] >= 4) {
                const int flags = data[at + 1];
                const int disposal = (flags >> 2) & 7;
                next.dispose = disposal == 2 ? Dispose::Background
                    : disposal == 3          ? Dispose::Previous
                                             : Dispose::None;
                next.delay = le16(data + at + 2) * 10;
                transparent = (flags & 1) ? data[at + 4] : -1;
            } else if (label == 0xFF && at + 16 <= size && data[at] == 11
                && (std::memcmp(data + at + 1, "NETSCAPE2.0", 11) == 0
                    || std::memcmp(data + at + 1, "ANIMEXTS1.0", 11) == 0)
                && data[at + 12] >= 3 && data[at + 13] == 1) {
                const int loops = le16(data + at + 14);
                m_loopCount = loops == 0 ? -1 : loops;
            }
            at = skipSubBlocks(data, size, at);
            if (at < 0)
                break;
        } else if (block == 0x2C) {
            const qint64 descriptor = at;
            if (at + DescriptorLength > size)
                break;
            const QRect rect(
                le16(data + at), le16(data + at + 2), le16(data + at + 4), le16(data + at + 6));
            at += DescriptorLength + tableLength(data[at + 8]);
            // The code size byte, then the image data.
            if (at >= size)
                break;
            const qint64 imageData = at + 1;
            at = skipSubBlocks(data, size, imageData);
            if (at < 0)
                break;
            // Each code of three bits or more stands for at most 4096 pixels: an image claiming
            // more than its data can hold would only make the toolkit's reader allocate.
            if (qint64(rect.width()) * rect.height() > ((at - imageData) * 8 / 3 + 1) * 4096)
                break;
            // The frame is decoded at its own size, and drawn clipped to the screen.
            bounds = bounds.united(rect);
            if (PictureFile::checkSize(bounds.size()).code != PictureFile::LoadResult::Loaded)
                break;
            next.rect = rect;
            m_frames.append(next);
            m_images.append({ descriptor, at, transparent });
            next = Frame();
            next.blendOver = true;
            transparent = -1;
        } else {
            // The trailer, or a block no GIF has: nothing after it is read.
            break;
        }
    }
}

QImage GifReader::decodeFrame(int index) const
{
    if (index < 0 || index >= m_images.size())
        return {};
    const Image &image = m_images.at(index);
    const QRect rect = m_frames.at(index).rect;
    if (rect.isEmpty())
        return {};
    QByteArray gif(m_bytes.constData(), 6);
    appendLe16(gif, rect.width());
    appendLe16(gif, rect.height());
    gif.append(m_bytes.constData() + 10, int(m_globalTableEnd - 10));
    if (image.transparent >= 0) {
        gif.append("\x21\xF9\x04\x01\x00\x00", 6);
        gif.append(char(image.transparent));
        gif.append(char(0));
    }
    gif.append(char(0x2C));
    gif.append(4, char(0));
    appendLe16(gif, rect.width());
    appendLe16(gif, rect.height());
    gif.append(m_bytes.constData() + image.descriptor + 8, int(image.end - image.descriptor - 8));
    gif.append(char(0x3B));
    const QImage pixels = QImage::fromData(gif, "gif");
    if (pixels.size() != rect.size())
        return {};
    return PictureFile::toDisplayFormat(pixels);
}

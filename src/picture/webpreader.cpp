#include "picture/webpreader.h"

#include "picture/picturefile.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

#include <cstring>

namespace {

constexpr qint64 ChunkHeader = 8;
constexpr qint64 FrameHeader = 16;

quint32 le24(const uchar *p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16;
}

quint32 le32(const uchar *p)
{
    return qFromLittleEndian<quint32>(p);
}

void appendLe24(QByteArray &out, quint32 value)
{
    out.append(char(value & 0xFF));
    out.append(char((value >> 8) & 0xFF));
    out.append(char((value >> 16) & 0xFF));
}

void appendLe32(QByteArray &out, quint32 value)
{
    appendLe24(out, value);
    out.append(char((value >> 24) & 0xFF));
}

bool fitsMemory(const QSize &size)
{
    return PictureFile::checkSize(size).code == PictureFile::LoadResult::Loaded;
}

} // namespace

WebPReader::WebPReader(const QByteArray &bytes)
    : WebPReader(bytes, MaximumFrames)
{
}

WebPReader::WebPReader(const QByteArray &bytes, int maximumFrames)
    : m_bytes(bytes)
{
    walk(maximumFrames);
}

bool WebPReader::isAnimation(const QByteArray &bytes)
{
    const WebPReader reader(bytes, 2);
    return reader.m_animated && reader.frameCount() > 1;
}

void WebPReader::walk(int maximumFrames)
{
    const auto *data = reinterpret_cast<const uchar *>(m_bytes.constData());
    const qint64 size = m_bytes.size();
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WEBP", 4) != 0)
        return;
    // A file cut short says it is longer than it is; one with more after it says less.
    const qint64 end = qMin(size, ChunkHeader + qint64(le32(data + 4)));
    bool extended = false;
    qint64 at = 12;
    while (at + ChunkHeader <= end && m_frames.size() < maximumFrames) {
        const uchar *type = data + at;
        const qint64 length = le32(data + at + 4);
        if (length > end - at - ChunkHeader)
            break;
        const uchar *body = data + at + ChunkHeader;
        if (std::memcmp(type, "VP8X", 4) == 0 && length >= 10 && at == 12) {
            extended = true;
            const QSize canvas(int(le24(body + 4) + 1), int(le24(body + 7) + 1));
            if (!fitsMemory(canvas))
                return;
            m_size = canvas;
        } else if (std::memcmp(type, "ANIM", 4) == 0 && length >= 6 && extended) {
            m_animated = true;
            const int loops = qFromLittleEndian<quint16>(body + 4);
            // The toolkit counts repeats: a file that plays once repeats none.
            m_loopCount = loops == 0 ? -1 : loops - 1;
        } else if (std::memcmp(type, "ANMF", 4) == 0 && length >= FrameHeader && m_animated) {
            const qint64 x = qint64(le24(body)) * 2;
            const qint64 y = qint64(le24(body + 3)) * 2;
            const qint64 width = qint64(le24(body + 6)) + 1;
            const qint64 height = qint64(le24(body + 9)) + 1;
            if (x + width > m_size.width() || y + height > m_size.height())
                break;
            Frame frame;
            frame.rect = QRect(int(x), int(y), int(width), int(height));
            frame.delay = int(le24(body + 12));
            const int flags = body[15];
            frame.blendOver = (flags & 2) == 0;
            frame.dispose = (flags & 1) ? Dispose::Background : Dispose::None;
            m_frames.append(frame);
            m_data.append({ at + ChunkHeader + FrameHeader, length - FrameHeader });
        }
        at += ChunkHeader + length + (length & 1);
    }
    // Telling an animation from a still picture needs no still picture's size.
    if (m_animated || maximumFrames < MaximumFrames)
        return;

    // A still picture: the reader knows its size from the header, and decodes the file.
    m_frames.clear();
    m_data.clear();
    m_loopCount = 0;
    QByteArray bytes = m_bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    const QSize still = QImageReader(&buffer, "webp").size();
    if (!still.isValid() || still.isEmpty() || !fitsMemory(still))
        return;
    m_size = still;
    Frame frame;
    frame.rect = QRect(QPoint(0, 0), still);
    m_frames.append(frame);
    m_data.append({ 0, size });
}

QImage WebPReader::decodeFrame(int index) const
{
    if (index < 0 || index >= m_frames.size())
        return {};
    const QRect rect = m_frames.at(index).rect;
    QByteArray webp;
    if (!m_animated) {
        webp = m_bytes;
    } else {
        // The frame's chunks as they stand; an alpha chunk needs the extended header.
        const auto *data = reinterpret_cast<const uchar *>(m_bytes.constData());
        const Range range = m_data.at(index);
        QByteArray chunks;
        bool alpha = false;
        bool bitstream = false;
        qint64 at = range.offset;
        const qint64 end = range.offset + range.length;
        while (at + ChunkHeader <= end && !bitstream) {
            const qint64 length = le32(data + at + 4);
            if (length > end - at - ChunkHeader)
                return {};
            const qint64 padded = qMin(ChunkHeader + length + (length & 1), end - at);
            const char *chunk = m_bytes.constData() + at;
            if (std::memcmp(chunk, "ALPH", 4) == 0) {
                alpha = true;
            } else if (std::memcmp(chunk, "VP8 ", 4) == 0 || std::memcmp(chunk, "VP8L", 4) == 0) {
                bitstream = true;
            } else {
                at += padded;
                continue;
            }
            chunks.append(chunk, int(padded));
            if (padded < ChunkHeader + length + (length & 1))
                chunks.append(char(0));
            at += padded;
        }
        if (!bitstream)
            return {};
        QByteArray header;
        if (alpha) {
            QByteArray extended;
            extended.append(char(0x10));
            extended.append(3, char(0));
            appendLe24(extended, quint32(rect.width() - 1));
            appendLe24(extended, quint32(rect.height() - 1));
            header = QByteArray("VP8X\x0a\0\0\0", 8) + extended;
        }
        webp = QByteArray("RIFF", 4);
        appendLe32(webp, quint32(4 + header.size() + chunks.size()));
        webp += "WEBP" + header + chunks;
    }
    const QImage pixels = QImage::fromData(webp, "webp");
    if (pixels.size() != rect.size())
        return {};
    return PictureFile::toDisplayFormat(pixels);
}

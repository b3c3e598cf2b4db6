#include "picture/apngreader.h"

#include "picture/picturefile.h"
#include "picture/pngdecoder.h"

#include <QPair>
#include <QtEndian>

#include <libdeflate.h>

#include <climits>
#include <cstring>

namespace {

const char Signature[] = "\x89PNG\r\n\x1a\n";
constexpr qint64 SignatureLength = 8;
// Length, type and checksum around each chunk's data.
constexpr qint64 ChunkOverhead = 12;
constexpr qint64 HeaderLength = 13;
constexpr qint64 FrameControlLength = 26;

quint32 be32(const uchar *p)
{
    return qFromBigEndian<quint32>(p);
}

quint16 be16(const uchar *p)
{
    return qFromBigEndian<quint16>(p);
}

bool isType(const uchar *type, const char *name)
{
    return std::memcmp(type, name, 4) == 0;
}

// Appends a chunk made of pieces of data; its checksum is computed here, so that a stale one in
// the file does not make the decoder refuse data a browser shows.
void appendChunk(QByteArray &out, const char *type, const uchar *base,
    const QVector<QPair<qint64, qint64>> &pieces)
{
    qint64 length = 0;
    for (const auto &piece : pieces)
        length += piece.second;
    uchar word[4];
    qToBigEndian(quint32(length), word);
    out.append(reinterpret_cast<const char *>(word), 4);
    out.append(type, 4);
    quint32 crc = quint32(libdeflate_crc32(0, type, 4));
    for (const auto &piece : pieces) {
        const uchar *data = base + piece.first;
        out.append(reinterpret_cast<const char *>(data), int(piece.second));
        crc = quint32(libdeflate_crc32(crc, data, size_t(piece.second)));
    }
    qToBigEndian(crc, word);
    out.append(reinterpret_cast<const char *>(word), 4);
}

} // namespace

ApngReader::ApngReader(const QByteArray &bytes)
    : m_bytes(bytes)
{
    walk();
}

bool ApngReader::isAnimation(const QByteArray &bytes)
{
    const auto *data = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 size = bytes.size();
    if (size < SignatureLength || std::memcmp(data, Signature, SignatureLength) != 0)
        return false;
    qint64 at = SignatureLength;
    while (at + ChunkOverhead <= size) {
        const qint64 length = be32(data + at);
        if (length > size - at - ChunkOverhead)
            return false;
        const uchar *type = data + at + 4;
        if (isType(type, "IDAT") || isType(type, "IEND"))
            return false;
        if (isType(type, "acTL") && length >= 8)
            return be32(data + at + 8) > 1;
        at += ChunkOverhead + length;
    }
    return false;
}

void ApngReader::walk()
{
    const auto *data = reinterpret_cast<const uchar *>(m_bytes.constData());
    const qint64 size = m_bytes.size();
    if (size < SignatureLength + ChunkOverhead + HeaderLength
        || std::memcmp(data, Signature, SignatureLength) != 0 || be32(data + 8) != HeaderLength
        || !isType(data + 12, "IHDR"))
        return;
    const quint32 width = be32(data + 16);
    const quint32 height = be32(data + 20);
    if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX)
        return;
    const QSize canvas { int(width), int(height) };
    // The image data fills the canvas, whether it is a frame or not: a canvas larger than the
    // file could describe is a lie that would only allocate.
    if (!PngDecoder::isPlausible(canvas, size)
        || PictureFile::checkSize(canvas).code != PictureFile::LoadResult::Loaded)
        return;
    m_size = canvas;
    m_header = { 16, HeaderLength };

    bool animated = false;
    quint32 declaredFrames = 0;
    bool dataSeen = false;
    bool dataEnded = false;
    quint32 sequence = 0;
    QVector<Range> defaultData;
    Frame current;
    QVector<Range> currentData;
    bool haveCurrent = false;
    bool currentUsesDefault = false;

    qint64 at = SignatureLength + ChunkOverhead + HeaderLength;
    while (at + ChunkOverhead <= size && m_frames.size() < MaximumFrames) {
        const qint64 length = be32(data + at);
        if (length > size - at - ChunkOverhead)
            break;
        const uchar *type = data + at + 4;
        const uchar *body = data + at + 8;
        const qint64 next = at + ChunkOverhead + length;

        if (isType(type, "IDAT")) {
            // Image data comes in one run of chunks; more after something else is a broken file.
            if (dataEnded)
                break;
            dataSeen = true;
            defaultData.append({ at + 8, length });
            if (haveCurrent && currentUsesDefault)
                currentData.append({ at + 8, length });
        } else if (isType(type, "fdAT")) {
            if (!animated || !haveCurrent || currentUsesDefault || length < 4
                || be32(body) != sequence)
                break;
            ++sequence;
            if (length > 4)
                currentData.append({ at + 12, length - 4 });
        } else {
            if (dataSeen)
                dataEnded = true;
            // A frame's data ends at the first other chunk: only then is it known to be whole.
            if (haveCurrent && !currentData.isEmpty()) {
                m_frames.append(current);
                m_data.append(currentData);
                haveCurrent = false;
            }
            if (isType(type, "IEND"))
                break;
            if (isType(type, "acTL")) {
                if (!dataSeen && length >= 8) {
                    animated = true;
                    declaredFrames = be32(body);
                    const quint32 plays = be32(body + 4);
                    m_loopCount = plays == 0 ? -1 : int(qMin<quint32>(plays - 1, INT_MAX));
                }
            } else if (isType(type, "fcTL")) {
                if (!animated)
                    break;
                // A frame without data is a broken file, not a frame to skip.
                if (haveCurrent || length < FrameControlLength || be32(body) != sequence)
                    break;
                ++sequence;
                const quint32 w = be32(body + 4);
                const quint32 h = be32(body + 8);
                const quint32 x = be32(body + 12);
                const quint32 y = be32(body + 16);
                const quint16 numerator = be16(body + 20);
                const quint16 denominator = be16(body + 22);
                const uchar dispose = body[24];
                const uchar blend = body[25];
                if (w == 0 || h == 0 || quint64(x) + w > width || quint64(y) + h > height
                    || dispose > 2 || blend > 1)
                    break;
                // The default image, when it is the first frame, fills the canvas.
                if (!dataSeen && (x != 0 || y != 0 || w != width || h != height))
                    break;
                current = Frame();
                currentData.clear();
                current.rect = QRect(int(x), int(y), int(w), int(h));
                const int divisor = denominator == 0 ? 100 : denominator;
                current.delay = int((qint64(numerator) * 1000 + divisor / 2) / divisor);
                current.dispose = Dispose(dispose);
                // The first frame has no previous picture to go back to: it clears instead.
                if (m_frames.isEmpty() && current.dispose == Dispose::Previous)
                    current.dispose = Dispose::Background;
                current.blendOver = blend == 1;
                haveCurrent = true;
                currentUsesDefault = !dataSeen;
            } else if (!dataSeen && (isType(type, "PLTE") || isType(type, "tRNS"))) {
                // Only these change the pixels a frame decodes to; each frame's stream carries
                // them, so that many or large chunks would be copied once a frame.
                if (m_sharedChunks.size() < 2)
                    m_sharedChunks.append({ at, length });
            }
        }
        at = next;
    }

    if (!animated) {
        m_frames.clear();
        m_data.clear();
        if (dataEnded && !defaultData.isEmpty()) {
            Frame still;
            still.rect = QRect(QPoint(0, 0), canvas);
            m_frames.append(still);
            m_data.append(defaultData);
        }
        m_loopCount = 0;
        return;
    }
    if (declaredFrames > 0 && quint32(m_frames.size()) > declaredFrames) {
        m_frames.resize(int(declaredFrames));
        m_data.resize(int(declaredFrames));
    }
}

QByteArray ApngReader::frameStream(int index) const
{
    const Frame &frame = m_frames.at(index);
    const QVector<Range> &pieces = m_data.at(index);
    const auto *bytes = reinterpret_cast<const uchar *>(m_bytes.constData());
    qint64 length = SignatureLength + ChunkOverhead * 3 + HeaderLength;
    for (const Range &chunk : m_sharedChunks)
        length += ChunkOverhead + chunk.length;
    for (const Range &piece : pieces)
        length += piece.length;
    QByteArray stream;
    // The frame's data is part of the file, so the stream is never much larger than it.
    stream.reserve(int(qMin<qint64>(length, INT_MAX)));
    stream.append(Signature, int(SignatureLength));

    QByteArray header(reinterpret_cast<const char *>(bytes + m_header.offset), int(HeaderLength));
    qToBigEndian(quint32(frame.rect.width()), header.data());
    qToBigEndian(quint32(frame.rect.height()), header.data() + 4);
    appendChunk(stream, "IHDR", reinterpret_cast<const uchar *>(header.constData()),
        { { 0, HeaderLength } });
    for (const Range &chunk : m_sharedChunks)
        appendChunk(stream, reinterpret_cast<const char *>(bytes + chunk.offset + 4), bytes,
            { { chunk.offset + 8, chunk.length } });
    QVector<QPair<qint64, qint64>> data;
    data.reserve(pieces.size());
    for (const Range &piece : pieces)
        data.append({ piece.offset, piece.length });
    appendChunk(stream, "IDAT", bytes, data);
    appendChunk(stream, "IEND", bytes, {});
    return stream;
}

QImage ApngReader::decodeFrame(int index) const
{
    if (index < 0 || index >= m_frames.size())
        return {};
    const QByteArray stream = frameStream(index);
    QImage image;
    const auto *data = reinterpret_cast<const uchar *>(stream.constData());
    if (PngDecoder::decode(data, stream.size(), &image) == PngDecoder::Result::Unsupported)
        image = QImage::fromData(stream, "png");
    if (image.isNull() || image.size() != m_frames.at(index).rect.size())
        return {};
    return PictureFile::toDisplayFormat(image);
}

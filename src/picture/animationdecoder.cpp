#include "picture/animationdecoder.h"

#include "picture/apngreader.h"
#include "picture/gifreader.h"
#include "picture/webpreader.h"

#include <QPainter>

#include <cstring>

namespace {

using Dispose = AbstractAnimationReader::Dispose;

AnimationDecoder::Format formatOf(const QByteArray &bytes)
{
    const char *data = bytes.constData();
    const int size = bytes.size();
    if (size >= 6 && (std::memcmp(data, "GIF87a", 6) == 0 || std::memcmp(data, "GIF89a", 6) == 0))
        return AnimationDecoder::Format::Gif;
    if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0)
        return AnimationDecoder::Format::WebP;
    if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0)
        return AnimationDecoder::Format::Png;
    return AnimationDecoder::Format::Unknown;
}

} // namespace

AnimationDecoder::AnimationDecoder(const QByteArray &bytes)
    : m_format(formatOf(bytes))
{
    switch (m_format) {
    case Format::Gif:
        m_reader = std::make_unique<GifReader>(bytes);
        break;
    case Format::WebP:
        m_reader = std::make_unique<WebPReader>(bytes);
        break;
    case Format::Png:
        m_reader = std::make_unique<ApngReader>(bytes);
        break;
    case Format::Unknown:
        break;
    }
    if (m_reader && !m_reader->isValid()) {
        m_reader.reset();
        m_format = Format::Unknown;
    }
}

AnimationDecoder::~AnimationDecoder() = default;

bool AnimationDecoder::isAnimation(const QByteArray &bytes)
{
    switch (formatOf(bytes)) {
    case Format::Gif:
        return GifReader::isAnimation(bytes);
    case Format::WebP:
        return WebPReader::isAnimation(bytes);
    case Format::Png:
        return ApngReader::isAnimation(bytes);
    case Format::Unknown:
        break;
    }
    return false;
}

bool AnimationDecoder::isValid() const
{
    return m_reader != nullptr;
}

QSize AnimationDecoder::size() const
{
    return m_reader ? m_reader->size() : QSize();
}

int AnimationDecoder::frameCount() const
{
    return m_reader ? m_reader->frameCount() : 0;
}

int AnimationDecoder::frameDelay(int index) const
{
    if (index < 0 || index >= frameCount())
        return 0;
    const int delay = m_reader->frame(index).delay;
    return delay <= ShortestDelay ? DefaultDelay : delay;
}

int AnimationDecoder::loopCount() const
{
    return m_reader ? m_reader->loopCount() : 0;
}

QImage AnimationDecoder::frame(int index)
{
    if (index < 0 || index >= frameCount() || (m_broken >= 0 && index >= m_broken))
        return {};
    for (int i = m_cache.size() - 1; i >= 0; --i) {
        if (m_cache.at(i).index == index) {
            const Cached hit = m_cache.takeAt(i);
            m_cache.append(hit);
            return hit.image;
        }
    }
    // The canvas is the frame drawn last, kept or not.
    if (index == m_position - 1 && !m_canvas.isNull()) {
        remember(index, m_canvas);
        return m_canvas;
    }
    if (index < m_position)
        restart();
    while (m_position <= index) {
        if (!drawNext()) {
            // Frames after this one are drawn over it: none of them can be shown either.
            m_broken = m_position;
            restart();
            return {};
        }
    }
    remember(index, m_canvas);
    return m_canvas;
}

bool AnimationDecoder::drawNext()
{
    const AbstractAnimationReader::Frame &frame = m_reader->frame(m_position);
    // A frame of no area draws nothing, but still counts.
    QImage pixels;
    if (!frame.rect.isEmpty()) {
        pixels = m_reader->decodeFrame(m_position);
        if (pixels.isNull())
            return false;
    }
    if (m_canvas.isNull()) {
        m_canvas = QImage(m_reader->size(), QImage::Format_ARGB32_Premultiplied);
        if (m_canvas.isNull())
            return false;
        m_canvas.fill(Qt::transparent);
    }
    // The canvas may be a frame returned earlier: painting on it detaches it first.
    QPainter painter(&m_canvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    // The previous frame is disposed of only now that the next one decoded: a frame that fails
    // leaves the canvas as it was.
    if (m_position > 0) {
        const AbstractAnimationReader::Frame &previous = m_reader->frame(m_position - 1);
        if (previous.dispose == Dispose::Background)
            painter.fillRect(previous.rect, Qt::transparent);
        else if (previous.dispose == Dispose::Previous && !m_saved.isNull())
            painter.drawImage(previous.rect.topLeft(), m_saved);
    }
    // What a first frame puts back is the empty canvas.
    m_saved = frame.dispose == Dispose::Previous ? m_canvas.copy(frame.rect) : QImage();
    if (!pixels.isNull()) {
        if (frame.blendOver)
            painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.drawImage(frame.rect.topLeft(), pixels);
    }
    painter.end();
    ++m_position;
    return true;
}

void AnimationDecoder::restart()
{
    m_position = 0;
    m_canvas = QImage();
    m_saved = QImage();
}

void AnimationDecoder::remember(int index, const QImage &image)
{
    m_cache.append({ index, image });
    trimCache();
}

void AnimationDecoder::trimCache()
{
    qint64 bytes = 0;
    for (const Cached &cached : qAsConst(m_cache))
        bytes += cached.image.sizeInBytes();
    while (!m_cache.isEmpty() && (m_cache.size() > m_cacheFrames || bytes > CacheBytes)) {
        bytes -= m_cache.first().image.sizeInBytes();
        m_cache.removeFirst();
    }
}

void AnimationDecoder::setCacheFrames(int count)
{
    m_cacheFrames = qMax(0, count);
    trimCache();
}

qint64 AnimationDecoder::heldBytes() const
{
    // The canvas is also the last frame kept until the next frame is drawn on it; counted twice,
    // as it will be once the next frame detaches it.
    qint64 bytes = m_canvas.sizeInBytes() + m_saved.sizeInBytes();
    for (const Cached &cached : m_cache)
        bytes += cached.image.sizeInBytes();
    return bytes;
}

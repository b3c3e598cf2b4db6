#include "picture/imagedecoder.h"

#include "picture/pngdecoder.h"
#include "picture/qdevilplugin.h"
#include "platform/picturememory.h"

#include <QBuffer>

ImageDecoder::ImageDecoder(QIODevice *device, const QByteArray &formatHint, Readers readers)
    : m_device(device)
    , m_reader(device, formatHint)
    , m_readers(readers)
{
    m_reader.setAutoTransform(true);
    m_reader.setAutoDetectImageFormat(readers == AnyReader);
    // DevIL tells a picture's size only by decoding all of it. A reader that knows the content
    // from its header tells it first, so that a picture too large is refused before DevIL
    // allocates it. Done before the reader above touches the device.
    if (QDevilPlugin::formats().contains(formatHint.toLower())) {
        const qint64 start = device->pos();
        QImageReader byContent(device);
        byContent.setDecideFormatFromContent(true);
        m_headerSize = byContent.size();
        device->seek(start);
    }
}

QSize ImageDecoder::declaredSize()
{
    return m_headerSize.isValid() ? m_headerSize : m_reader.size();
}

QImage::Format ImageDecoder::declaredFormat()
{
    return m_reader.imageFormat();
}

PictureFile::LoadResult ImageDecoder::read(bool autoDownscale, const QSize &maxSize, QImage *image)
{
    // Memory the caller provides (a helper's shared region) is not the image's own.
    const uchar *provided = image->isNull() ? nullptr : image->constBits();
    QImage decoded = std::move(*image);
    *image = QImage();
    m_asStored = false;
    // Before a single pixel: a header may claim a picture no memory holds, and data that
    // compresses a thousand to one would fill all of it.
    const PictureFile::LoadResult size = PictureFile::checkSize(declaredSize());
    if (size.code != PictureFile::LoadResult::Loaded)
        return size;
    if (readOwnPng(&decoded)) {
        m_asStored = true;
    } else {
        if (!provided)
            decoded = emptyPicture();
        if (!m_reader.read(&decoded))
            decoded = QImage();
        else
            m_asStored = m_reader.transformation() == QImageIOHandler::TransformationNone;
    }
    if (decoded.isNull() && m_readers == AnyReader && m_device->seek(0)) {
        // The extension may lie: ask every reader for the content alone.
        QImageReader byContent(m_device);
        byContent.setDecideFormatFromContent(true);
        byContent.setAutoTransform(true);
        decoded = byContent.read();
    }
    if (decoded.isNull())
        return { PictureFile::LoadResult::Unreadable, m_reader.errorString() };

    if (provided && decoded.constBits() == provided && decoded.format() == QImage::Format_ARGB32) {
        // Premultiplied where the pixels are: the toolkit converts pictures in memory it does
        // not own by copying them. Its own conversion, below, is faster for the rest.
        for (int y = 0; y < decoded.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(decoded.scanLine(y));
            for (int x = 0; x < decoded.width(); ++x)
                line[x] = qPremultiply(line[x]);
        }
        decoded.reinterpretAsFormat(QImage::Format_ARGB32_Premultiplied);
    }
    // Drop each picture as soon as the next one holds the pixels, so that the conversion can
    // happen in place and a large picture is never held three times.
    QImage reduced = PictureFile::applyAutoDownscale(decoded, autoDownscale, maxSize);
    m_asStored = m_asStored && reduced.size() == decoded.size();
    decoded = QImage();
    decoded = PictureFile::toDisplayFormat(std::move(reduced));
    if (decoded.isNull())
        return { PictureFile::LoadResult::Unreadable, QStringLiteral("Not enough memory") };
    *image = std::move(decoded);
    return {};
}

QImage ImageDecoder::emptyPicture()
{
    // Only a picture that needs no conversion afterwards: the toolkit converts pictures in
    // memory it does not own by copying them.
    const QImage::Format format = m_reader.imageFormat();
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32_Premultiplied)
        return QImage();
    const QSize size = m_reader.size();
    return size.isEmpty() ? QImage() : PictureMemory::newImage(size.width(), size.height(), format);
}

bool ImageDecoder::readOwnPng(QImage *image)
{
    // Most PNG files come in the layouts our own decoder handles, at about twice the toolkit
    // reader's speed and with the same pixels; it leaves anything else, damaged streams
    // included, to the reader. It needs the whole stream in memory.
    const auto *buffer = qobject_cast<const QBuffer *>(m_device);
    if (!buffer || m_reader.format() != "png")
        return false;
    const QByteArray &data = buffer->data();
    QImage decoded;
    if (PngDecoder::decode(reinterpret_cast<const uchar *>(data.constData()), data.size(), &decoded)
        != PngDecoder::Result::Decoded) {
        return false;
    }
    *image = std::move(decoded);
    return true;
}

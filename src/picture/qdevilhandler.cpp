#include "picture/qdevilhandler.h"

#include <QIODevice>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QVariant>

#include <IL/il.h>

#include <limits>

namespace {

// Rows of the toolkit's format for each of DevIL's layouts that the toolkit converts itself;
// DevIL converts anything else first. Blue, green, red, alpha in memory is the toolkit's 32-bit
// layout only on little-endian machines.
QImage::Format viewFormat(ILint layout)
{
    switch (layout) {
    case IL_RGB:
        return QImage::Format_RGB888;
    case IL_BGR:
        return QImage::Format_BGR888;
    case IL_RGBA:
        return QImage::Format_RGBA8888;
    case IL_BGRA:
        return Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? QImage::Format_ARGB32 : QImage::Format_Invalid;
    case IL_LUMINANCE:
        return QImage::Format_Grayscale8;
    default:
        return QImage::Format_Invalid;
    }
}

// Converts the pixels into image, memory the caller provided. The painter's converters write
// into any image, in one pass and as fast as the toolkit converts images of its own.
bool convertInto(const ILubyte *pixels, QImage::Format from, int bytesPerPixel, QImage *image)
{
    const QImage view(
        pixels, image->width(), image->height(), image->width() * bytesPerPixel, from);
    QPainter painter;
    if (view.isNull() || !painter.begin(image))
        return false;
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, view);
    return painter.end();
}

} // namespace

QMutex &QDevilHandler::devilMutex()
{
    static QMutex mutex;
    return mutex;
}

QDevilHandler::~QDevilHandler()
{
    release();
}

bool QDevilHandler::canRead() const
{
    // The format name alone decided, when the plugin was asked, that this handler reads it.
    return true;
}

bool QDevilHandler::supportsOption(ImageOption option) const
{
    return option == Size || option == ImageFormat;
}

QVariant QDevilHandler::option(ImageOption option) const
{
    if (!supportsOption(option) || !decode())
        return {};
    return option == Size ? QVariant(m_size) : QVariant(int(m_format));
}

bool QDevilHandler::decode() const
{
    if (m_decoded || m_failed)
        return m_decoded;
    m_failed = !load();
    m_decoded = !m_failed;
    if (m_failed)
        release();
    return m_decoded;
}

bool QDevilHandler::load() const
{
    const QByteArray extension = '.' + format();
    const ILenum type = ilTypeFromExt(extension.constData());
    if (type == IL_TYPE_UNKNOWN || !device())
        return false;
    const QByteArray data = device()->readAll();
    if (data.isEmpty() || quint64(data.size()) > std::numeric_limits<ILuint>::max())
        return false;

    QMutexLocker locker(&devilMutex());
    m_name = ilGenImage();
    ilBindImage(m_name);
    if (ilLoadL(type, data.constData(), ILuint(data.size())) != IL_TRUE)
        return false;
    const ILint layout = ilGetInteger(IL_IMAGE_FORMAT);
    const bool opaque = layout == IL_RGB || layout == IL_BGR || layout == IL_LUMINANCE;
    m_viewFormat = viewFormat(layout);
    if (ilGetInteger(IL_IMAGE_TYPE) != IL_UNSIGNED_BYTE || m_viewFormat == QImage::Format_Invalid
        || ilGetInteger(IL_IMAGE_BPP) != QImage::toPixelFormat(m_viewFormat).bitsPerPixel() / 8) {
        if (ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE) != IL_TRUE)
            return false;
        m_viewFormat = QImage::Format_RGBA8888;
    }
    // The pixel buffer belongs to DevIL: check its size against the dimensions before anything
    // reads it, since a broken file may leave them disagreeing.
    const ILint width = ilGetInteger(IL_IMAGE_WIDTH);
    const ILint height = ilGetInteger(IL_IMAGE_HEIGHT);
    m_bytesPerPixel = QImage::toPixelFormat(m_viewFormat).bitsPerPixel() / 8;
    const qint64 needed = qint64(width) * qint64(height) * m_bytesPerPixel;
    if (width <= 0 || height <= 0 || !ilGetData() || needed > ilGetInteger(IL_IMAGE_SIZE_OF_DATA)
        || qint64(width) * qint64(height) * 4 > std::numeric_limits<int>::max())
        return false;

    m_size = QSize(width, height);
    m_format = opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
    return true;
}

void QDevilHandler::release() const
{
    if (!m_name)
        return;
    QMutexLocker locker(&devilMutex());
    ilDeleteImage(m_name);
    m_name = 0;
}

bool QDevilHandler::read(QImage *image)
{
    if (!decode())
        return false;
    const ILubyte *pixels = nullptr;
    {
        QMutexLocker locker(&devilMutex());
        ilBindImage(m_name);
        pixels = ilGetData();
    }
    // The pixels stay DevIL's until this handler deletes its image, whatever other handlers bind
    // meanwhile, so they are converted outside the lock.
    bool ok = pixels;
    if (ok && image->size() == m_size && image->format() == m_format) {
        ok = convertInto(pixels, m_viewFormat, m_bytesPerPixel, image);
    } else if (ok) {
        const QImage view(pixels, m_size.width(), m_size.height(), m_size.width() * m_bytesPerPixel,
            m_viewFormat);
        *image = view.convertToFormat(m_format);
        ok = !image->isNull();
    }
    release();
    m_decoded = false;
    m_failed = true;
    return ok;
}

#include "loading/qdevilhandler.h"

#include <QImage>
#include <QMutex>
#include <QMutexLocker>

#include <IL/il.h>

#include <limits>

QMutex &QDevilHandler::devilMutex()
{
    static QMutex mutex;
    return mutex;
}

bool QDevilHandler::canRead() const
{
    // The format name alone decided, when the plugin was asked, that this handler reads it.
    return true;
}

bool QDevilHandler::read(QImage *image)
{
    QMutexLocker locker(&devilMutex());

    const QByteArray extension = '.' + format();
    const ILenum type = ilTypeFromExt(extension.constData());
    if (type == IL_TYPE_UNKNOWN || !device())
        return false;

    const QByteArray data = device()->readAll();
    if (data.isEmpty() || quint64(data.size()) > std::numeric_limits<ILuint>::max())
        return false;

    const ILuint name = ilGenImage();
    ilBindImage(name);

    // Blue, green, red, alpha in memory is the toolkit's 32-bit layout: the pixels are copied out
    // once, premultiplied on the way when they can be see-through, and need no conversion later.
    bool ok = ilLoadL(type, data.constData(), ILuint(data.size())) == IL_TRUE;
    const ILint loadedFormat = ok ? ilGetInteger(IL_IMAGE_FORMAT) : 0;
    const bool opaque
        = loadedFormat == IL_RGB || loadedFormat == IL_BGR || loadedFormat == IL_LUMINANCE;
    ok = ok && ilConvertImage(IL_BGRA, IL_UNSIGNED_BYTE) == IL_TRUE;
    QImage decoded;
    if (ok) {
        // The pixel buffer belongs to DevIL: check its size against the dimensions before
        // copying out of it, since a broken file may leave them disagreeing.
        const ILint width = ilGetInteger(IL_IMAGE_WIDTH);
        const ILint height = ilGetInteger(IL_IMAGE_HEIGHT);
        const ILint bytes = ilGetInteger(IL_IMAGE_SIZE_OF_DATA);
        const ILubyte *pixels = ilGetData();
        const qint64 needed = qint64(width) * qint64(height) * 4;
        ok = width > 0 && height > 0 && pixels && needed <= bytes
            && needed <= std::numeric_limits<int>::max();
        if (ok) {
            const QImage view(pixels, width, height, width * 4,
                opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
            decoded
                = opaque ? view.copy() : view.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            ok = !decoded.isNull();
        }
    }
    ilDeleteImage(name);

    if (ok)
        *image = decoded;
    return ok;
}

#include "graphicsimagegrayscalegenerator.h"

QImage GraphicsImageGrayScaleGenerator::toGrayscale(
    const QImage &source, const std::function<bool()> &stop)
{
    if (source.isNull())
        return QImage();
    const QImage image = source.convertToFormat(
        source.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    QImage out(image.size(), image.format());
    const int width = image.width();
    for (int y = 0; y < image.height(); ++y) {
        if (stop && stop())
            return QImage();
        const auto *in = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 pixel = in[x];
            const quint32 grey
                = (11 * ((pixel >> 16) & 0xff) + 16 * ((pixel >> 8) & 0xff) + 5 * (pixel & 0xff))
                >> 5;
            dst[x] = (pixel & 0xff000000u) | (grey << 16) | (grey << 8) | grey;
        }
    }
    return out;
}

void GraphicsImageGrayScaleGenerator::run()
{
    if (!beginRun())
        return;
    m_result = toGrayscale(m_source, [this] { return isCanceled(); });
    endRun();
}

QImage GraphicsImageGrayScaleGenerator::takeResult()
{
    Q_ASSERT(state() == Done);
    QImage result;
    result.swap(m_result);
    return result;
}

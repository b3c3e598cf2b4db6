// PNG encoding: our encoder against the toolkit's writer at its default settings, one thread;
// decoding: our decoder against the toolkit's reader on the streams our encoder wrote.
//
//   bench_png_codec            generated photo-like images
//   bench_png_codec --flat     generated flat graphics (interface-like rectangles and text)
//   bench_png_codec FOLDER     every JPEG and PNG image in FOLDER
//   bench_png_codec --memory   peak memory of encoding one 100 Mpx picture
//
// The variants are interleaved image by image; each figure is the median of three runs.

#include "benchmedian.h"
#include "benchmemory.h"
#include "benchpictures.h"

#include "picture/pngdecoder.h"
#include "picture/pngencoder.h"
#include "platform/platform.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

QImage flatGraphic(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(245, 245, 245));
    QPainter painter(&image);
    for (int i = 0; i < 40; ++i) {
        painter.fillRect(QRect(random.bounded(width), random.bounded(height),
                             40 + random.bounded(400), 20 + random.bounded(200)),
            QColor::fromHsv(
                int(random.bounded(360)), int(random.bounded(120)), 200 + int(random.bounded(55))));
    }
    painter.setPen(Qt::black);
    for (int y = 20; y < height; y += 24)
        painter.drawText(20, y,
            QStringLiteral("Lorem ipsum dolor sit amet, consectetur adipiscing elit %1").arg(y));
    return image;
}

QVector<QImage> loadFolder(const QString &path)
{
    QVector<QImage> images;
    const QStringList files = QDir(path).entryList(
        { "*.jpg", "*.jpeg", "*.png", "*.JPG", "*.PNG" }, QDir::Files, QDir::Name);
    for (const QString &file : files) {
        QImage image = QImageReader(QDir(path).filePath(file)).read();
        if (image.isNull())
            continue;
        // Opaque pictures are held as RGB32, as the program holds them.
        bool opaque = !image.hasAlphaChannel();
        if (!opaque) {
            const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
            opaque = true;
            for (int y = 0; y < argb.height() && opaque; ++y) {
                const QRgb *row = reinterpret_cast<const QRgb *>(argb.constScanLine(y));
                for (int x = 0; x < argb.width() && opaque; ++x)
                    opaque = qAlpha(row[x]) == 255;
            }
        }
        image = image.convertToFormat(opaque ? QImage::Format_RGB32 : QImage::Format_ARGB32);
        images.append(image);
        std::printf("image %s %dx%d\n", qPrintable(file), image.width(), image.height());
    }
    return images;
}

QByteArray toolkitPng(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

QByteArray ourPng(const QImage &image, int level)
{
    QByteArray bytes;
    PngEncoder::encode(image, level, &bytes);
    return bytes;
}

int measureMemory()
{
    // What encoding needs beyond the picture itself, as a multiple of the picture's bytes.
    const QImage image = photoLike(10000, 10000, 7, 12, 3);
    const qint64 before = peakResidentBytes();
    QByteArray png;
    PngEncoder::encode(image, PngEncoder::deflateLevel(PngEncoder::Balanced), &png);
    const qint64 after = peakResidentBytes();
    std::printf(
        "encoded %lld bytes; peak grew by %lld bytes\n", qint64(png.size()), after - before);
    std::printf("figure png_encode_memory_over_pixels %.3f\n",
        double(after - before) / double(image.sizeInBytes()));
    return 0;
}

double decodeTime(const QVector<QByteArray> &files)
{
    QElapsedTimer timer;
    timer.start();
    for (const QByteArray &file : files) {
        QBuffer buffer;
        buffer.setData(file);
        buffer.open(QIODevice::ReadOnly);
        QImageReader(&buffer, "png").read();
    }
    return double(timer.nsecsElapsed());
}

double ownDecodeTime(const QVector<QByteArray> &files)
{
    QElapsedTimer timer;
    timer.start();
    for (const QByteArray &file : files) {
        QImage image;
        PngDecoder::decode(reinterpret_cast<const uchar *>(file.constData()), file.size(), &image);
    }
    return double(timer.nsecsElapsed());
}

} // namespace

int main(int argc, char *argv[])
{
    // The heap as the program sets it up: freed picture-sized blocks go back to the system.
    Platform::returnFreedLargeBlocks();
    QGuiApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    if (arguments.value(1) == QLatin1String("--memory"))
        return measureMemory();

    QVector<QImage> images;
    if (arguments.size() > 1 && arguments.at(1) != QLatin1String("--flat")) {
        images = loadFolder(arguments.at(1));
    } else {
        const bool flat = arguments.size() > 1;
        for (quint32 i = 0; i < 6; ++i)
            images.append(flat ? flatGraphic(1920, 1080, i) : photoLike(2400, 1600, i, 12, 3));
    }
    if (images.isEmpty()) {
        std::fprintf(stderr, "no images\n");
        return 1;
    }

    const int balanced = PngEncoder::deflateLevel(PngEncoder::Balanced);
    const int fastest = PngEncoder::deflateLevel(PngEncoder::Fastest);
    std::vector<double> toolkitTimes, balancedTimes, fastestTimes;
    qint64 toolkitBytes = 0, balancedBytes = 0, fastestBytes = 0;
    QVector<QByteArray> toolkitFiles, balancedFiles;
    for (int run = 0; run < 3; ++run) {
        double toolkitTime = 0, balancedTime = 0, fastestTime = 0;
        for (const QImage &image : images) {
            QElapsedTimer timer;
            timer.start();
            const QByteArray reference = toolkitPng(image);
            toolkitTime += double(timer.nsecsElapsed());
            timer.restart();
            const QByteArray ours = ourPng(image, balanced);
            balancedTime += double(timer.nsecsElapsed());
            timer.restart();
            const QByteArray fast = ourPng(image, fastest);
            fastestTime += double(timer.nsecsElapsed());
            if (run == 0) {
                toolkitBytes += reference.size();
                balancedBytes += ours.size();
                fastestBytes += fast.size();
                toolkitFiles.append(reference);
                balancedFiles.append(ours);
            }
        }
        toolkitTimes.push_back(toolkitTime);
        balancedTimes.push_back(balancedTime);
        fastestTimes.push_back(fastestTime);
    }

    std::vector<double> toolkitDecode, ourDecode, ownDecode;
    for (int run = 0; run < 3; ++run) {
        toolkitDecode.push_back(decodeTime(toolkitFiles));
        ourDecode.push_back(decodeTime(balancedFiles));
        ownDecode.push_back(ownDecodeTime(balancedFiles));
    }

    std::printf("toolkit writer: %.1f ms, %lld bytes\n", median(toolkitTimes) / 1e6, toolkitBytes);
    std::printf("ours level %d: %.1f ms, %lld bytes\n", balanced, median(balancedTimes) / 1e6,
        balancedBytes);
    std::printf(
        "ours level %d: %.1f ms, %lld bytes\n", fastest, median(fastestTimes) / 1e6, fastestBytes);
    std::printf("figure png_encode_speedup %.3f\n", median(toolkitTimes) / median(balancedTimes));
    std::printf("figure png_size_ratio %.4f\n", double(balancedBytes) / double(toolkitBytes));
    std::printf(
        "figure png_fast_encode_speedup %.3f\n", median(toolkitTimes) / median(fastestTimes));
    std::printf("figure png_fast_size_ratio %.4f\n", double(fastestBytes) / double(toolkitBytes));
    std::printf("figure png_decode_ratio %.3f\n", median(ourDecode) / median(toolkitDecode));
    std::printf("figure png_own_decode_speedup %.3f\n", median(ourDecode) / median(ownDecode));
    return 0;
}

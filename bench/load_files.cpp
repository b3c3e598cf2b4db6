// Loading files onto the board against decoding the same files on every core.
//
//   bench_load_files [png | foreign]   both figures, or the one named
//
// load_files_over_decode: 32 PNG files of about 8 Mpx, generated once; the load (decoding,
// pixmaps, items, progress) and the bare QImageReader decode on all cores run interleaved, three
// times; the figure is the ratio of the medians.
//
// load_foreign_over_decode: 48 files of about 4 Mpx in the formats that come from games and 3D
// tools, half TGA and half DDS (DXT1 and DXT5), written by DevIL. The baseline is DevIL decoding
// them in one thread the way our image plugin does, divided by the number of cores: what a load
// would cost if those decoders ran on every core. Interleaved three times, ratio of the medians.

#include "benchmedian.h"

#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "picture/pngencoder.h"
#include "scene/graphicsitem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QtConcurrent>

#include <IL/il.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QImage picture(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor::fromHsv(int(random.bounded(360)), 150, 220));
    gradient.setColorAt(1, QColor::fromHsv(int(random.bounded(360)), 200, 70));
    painter.fillRect(image.rect(), gradient);
    for (int i = 0; i < 30; ++i) {
        painter.setBrush(QColor::fromHsv(int(random.bounded(360)), 160, 200, 120));
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(random.bounded(width), random.bounded(height)),
            50 + random.bounded(400), 50 + random.bounded(400));
    }
    return image;
}

// Loads the folder as a drop would and returns the time it took in nanoseconds.
double timeLoad(ImageLoader &loader, const QString &folder, int expectedItems)
{
    QList<ItemRecord> items;
    QObject context;
    QObject::connect(&loader, &BaseLoader::itemGenerated, &context,
        [&items](const ItemRecord &record) { items.append(record); });
    LoadJob job(&loader);
    QElapsedTimer timer;
    timer.start();
    loader.load(QStringList { folder }, 0, 0, &job);
    const double elapsed = double(timer.nsecsElapsed());
    if (items.size() != expectedItems)
        std::fprintf(stderr, "loaded %d of %d files\n", int(items.size()), expectedItems);
    return elapsed;
}

// Writes the picture with DevIL as the given type: TGA as it comes, DDS
// compressed with the given DXT variant.
bool writeWithDevil(const QImage &picture, const QString &path, ILenum type, ILenum dxtFormat)
{
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    QByteArray pixels;
    pixels.reserve(rgb.width() * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y)
        pixels.append(reinterpret_cast<const char *>(rgb.constScanLine(y)), rgb.width() * 3);
    const ILuint name = ilGenImage();
    ilBindImage(name);
    bool ok = ilTexImage(ILuint(rgb.width()), ILuint(rgb.height()), 1, 3, IL_RGB, IL_UNSIGNED_BYTE,
                  pixels.data())
        == IL_TRUE;
    if (ok) {
        ilSetInteger(IL_DXTC_FORMAT, ILint(dxtFormat));
        ok = ilSave(type, QFile::encodeName(path).constData()) == IL_TRUE;
    }
    ilDeleteImage(name);
    return ok;
}

// What QDevilHandler::read does with DevIL, without the image reader around it.
bool decodeWithDevil(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    const QByteArray extension = '.' + QFileInfo(path).suffix().toLower().toLatin1();
    const ILuint name = ilGenImage();
    ilBindImage(name);
    const bool ok
        = ilLoadL(ilTypeFromExt(extension.constData()), data.constData(), ILuint(data.size()))
            == IL_TRUE
        && ilConvertImage(IL_RGBA, IL_UNSIGNED_BYTE) == IL_TRUE;
    ilDeleteImage(name);
    return ok;
}

void measurePng(ImageLoader &loader)
{
    QTemporaryDir dir;
    QStringList files;
    for (quint32 i = 0; i < 32; ++i) {
        QByteArray png;
        PngEncoder::encode(
            picture(3456, 2304, i), PngEncoder::deflateLevel(PngEncoder::Fastest), &png);
        const QString path = dir.filePath(QStringLiteral("%1.png").arg(i, 2, 10, QLatin1Char('0')));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(png);
        files << path;
    }

    std::vector<double> decodeTimes;
    std::vector<double> loadTimes;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        QtConcurrent::blockingMap(files, [](const QString &path) { QImageReader(path).read(); });
        decodeTimes.push_back(double(timer.nsecsElapsed()));
        loadTimes.push_back(timeLoad(loader, dir.path(), files.size()));
    }

    // The median hides the first load, the one that starts the program's pools and takes fresh
    // memory for every picture; say what it cost.
    std::printf("# first load over decode: %.3f\n", loadTimes.front() / decodeTimes.front());
    std::printf("decode on all cores: %.1f ms, load: %.1f ms\n", median(decodeTimes) / 1e6,
        median(loadTimes) / 1e6);
    std::printf("figure load_files_over_decode %.3f\n", median(loadTimes) / median(decodeTimes));
}

void measureForeign(ImageLoader &loader)
{
    // The same settings as the image plugin, so the baseline does the work a load does.
    ilInit();
    ilEnable(IL_ORIGIN_SET);
    ilOriginFunc(IL_ORIGIN_UPPER_LEFT);

    QTemporaryDir dir;
    QStringList files;
    // 2448 x 1632 is a multiple of the 4 x 4 blocks of DXT.
    for (quint32 i = 0; i < 48; ++i) {
        const bool tga = i % 2 == 0;
        const QString path = dir.filePath(QStringLiteral("%1.%2")
                                              .arg(i, 2, 10, QLatin1Char('0'))
                                              .arg(QLatin1String(tga ? "tga" : "dds")));
        if (!writeWithDevil(picture(2448, 1632, 100 + i), path, tga ? IL_TGA : IL_DDS,
                i % 4 == 1 ? IL_DXT1 : IL_DXT5)) {
            std::fprintf(stderr, "DevIL could not write %s\n", qPrintable(path));
            return;
        }
        files << path;
    }

    const int cores = qMax(1, QThread::idealThreadCount());
    std::vector<double> decodeTimes;
    std::vector<double> loadTimes;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        for (const QString &path : qAsConst(files)) {
            if (!decodeWithDevil(path))
                std::fprintf(stderr, "DevIL could not read %s\n", qPrintable(path));
        }
        decodeTimes.push_back(double(timer.nsecsElapsed()) / cores);
        loadTimes.push_back(timeLoad(loader, dir.path(), files.size()));
    }

    std::printf("# first load over decode, helpers starting: %.3f\n",
        loadTimes.front() / decodeTimes.front());
    std::printf("DevIL decode in one thread / %d cores: %.1f ms, load: %.1f ms\n", cores,
        median(decodeTimes) / 1e6, median(loadTimes) / 1e6);
    std::printf("figure load_foreign_over_decode %.3f\n", median(loadTimes) / median(decodeTimes));
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    ImageLoader loader;
    const QByteArray only = argc > 1 ? QByteArray(argv[1]) : QByteArray();
    if (only.isEmpty() || only == "png")
        measurePng(loader);
    if (only.isEmpty() || only == "foreign")
        measureForeign(loader);
    return 0;
}

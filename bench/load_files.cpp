// Loading files onto the board against decoding the same files on every core.
//
// 32 PNG files of about 8 Mpx, generated once; the load (decoding, pixmaps, items, progress)
// and the bare QImageReader decode on all cores run interleaved, three times; each figure is the
// ratio of the medians.

#include "loading/imageloader.h"
#include "loading/loadjob.h"
#include "persistence/pngencoder.h"
#include "scene/graphicsitem.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImageReader>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtConcurrent>

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

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
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

    ImageLoader loader;
    std::vector<double> decodeTimes;
    std::vector<double> loadTimes;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        QtConcurrent::blockingMap(files, [](const QString &path) { QImageReader(path).read(); });
        decodeTimes.push_back(double(timer.nsecsElapsed()));

        QList<ItemRecord> items;
        QObject context;
        QObject::connect(&loader, &BaseLoader::itemGenerated, &context,
            [&items](const ItemRecord &record) { items.append(record); });
        LoadJob job(&loader);
        timer.restart();
        loader.load(QStringList { dir.path() }, 0, 0, &job);
        loadTimes.push_back(double(timer.nsecsElapsed()));
        if (items.size() != files.size())
            std::fprintf(stderr, "loaded %d of %d files\n", int(items.size()), int(files.size()));
    }

    std::printf("decode on all cores: %.1f ms, load: %.1f ms\n", median(decodeTimes) / 1e6,
        median(loadTimes) / 1e6);
    std::printf("figure load_files_over_decode %.3f\n", median(loadTimes) / median(decodeTimes));
    return 0;
}

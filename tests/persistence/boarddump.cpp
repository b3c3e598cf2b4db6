// Reads a board through the program's own reader and prints what it holds, one line an item,
// ordered by id, so that two boards compare with diff:
//   velkora_board_dump BOARD
// A picture's line names its size and the MD5 of its decoded pixels, a note's its text; every
// line has the item's id, the id it is attached to, depth and transform. The first line is the
// board's next id and item count. Exits 0 when the board was read whole, 1 when the reader
// reported anything wrong (the line "error ..." says what), 2 on a wrong command line.
#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "persistence/savefileloader.h"
#include "picture/decoderpool.h"
#include "picture/picture.h"
#include "scene/itemrecord.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

// Rounded so that a transform written and read again compares equal as text.
QString number(double value)
{
    const QString text = QString::number(value, 'g', 10);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString transformText(const std::optional<QTransform> &transform)
{
    if (!transform)
        return QStringLiteral("-");
    const QTransform &t = *transform;
    return QStringList { number(t.m11()), number(t.m12()), number(t.m13()), number(t.m21()),
        number(t.m22()), number(t.m23()), number(t.m31()), number(t.m32()), number(t.m33()) }
        .join(QLatin1Char(','));
}

QString pixelsText(const ItemRecord &record)
{
    QImage image = record.image;
    QString error;
    if (image.isNull() && record.picture)
        image = record.picture->pixels(&error);
    if (image.isNull())
        return QStringLiteral("pixels=none(%1)").arg(error);
    image = image.convertToFormat(QImage::Format_ARGB32);
    QCryptographicHash hash(QCryptographicHash::Md5);
    for (int y = 0; y < image.height(); ++y)
        hash.addData(reinterpret_cast<const char *>(image.constScanLine(y)), image.width() * 4);
    return QStringLiteral("size=%1x%2 pixels=%3")
        .arg(image.width())
        .arg(image.height())
        .arg(QString::fromLatin1(hash.result().toHex()));
}

void describe(const ItemRecord &record, int parent, QList<QPair<int, QString>> *lines)
{
    QString line = QStringLiteral("%1 id=%2 parent=%3 z=%4 transform=%5")
                       .arg(record.type == ItemRecord::Type::Image ? QStringLiteral("picture")
                                                                   : QStringLiteral("note"))
                       .arg(record.id)
                       .arg(parent)
                       .arg(number(record.z), transformText(record.transform));
    if (record.type == ItemRecord::Type::Image) {
        const QRectF crop = record.cropPath ? record.cropPath->boundingRect() : QRectF();
        line += QStringLiteral(" opacity=%1 filter=%2 image=%3 crop=%4,%5,%6,%7/%8 %9")
                    .arg(number(record.opacity))
                    .arg(record.filter)
                    .arg(transformText(record.imageTransform), number(crop.x()), number(crop.y()),
                        number(crop.width()), number(crop.height()))
                    .arg(record.cropPath ? record.cropPath->elementCount() : -1)
                    .arg(pixelsText(record));
    } else {
        line += QStringLiteral(" colour=%1 background=%2 text=%3")
                    .arg(record.textColor ? record.textColor->name(QColor::HexArgb)
                                          : QStringLiteral("-"),
                        record.backgroundColor ? record.backgroundColor->name(QColor::HexArgb)
                                               : QStringLiteral("-"),
                        QString::fromLatin1(record.text.toUtf8().toPercentEncoding()));
    }
    lines->append({ record.id, line });
    for (const ItemRecord &child : record.children)
        describe(child, record.id, lines);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: velkora_board_dump BOARD\n");
        return 2;
    }
    QThread thread;
    auto *loader = new SaveFileLoader;
    loader->moveToThread(&thread);
    thread.start();

    LoadJob job(loader);
    QList<ItemRecord> records;
    QStringList errors;
    int nextItemId = -1;
    QEventLoop loop;
    QObject::connect(loader, &BaseLoader::itemGenerated, &loop,
        [&](const ItemRecord &record, LoadJob *) { records.append(record); });
    QObject::connect(loader, &SaveFileLoader::loadedSceneState, &loop,
        [&](const SaveFileLoader::SceneState &state, LoadJob *) { nextItemId = state.nextItemId; });
    QObject::connect(loader, &SaveFileLoader::checksumMissmatchDetected, &loop,
        [&](LoadJob *) { errors.append(QStringLiteral("checksum mismatch")); });
    QObject::connect(loader, &SaveFileLoader::brokenItemMetadataDetected, &loop,
        [&](LoadJob *) { errors.append(QStringLiteral("broken item records")); });
    QObject::connect(loader, &SaveFileLoader::foundItemWithMissingImage, &loop,
        [&](const ItemRecord &record, const ImageLoader::LoadImageResult &, LoadJob *) {
            errors.append(QStringLiteral("missing picture of item %1").arg(record.id));
        });
    QObject::connect(loader, &SaveFileLoader::itemsNotRead, &loop,
        [&](const LoadLosses &losses, LoadJob *) { errors.append(losses.message()); });
    QObject::connect(loader, &BaseLoader::finished, &loop,
        [&](const QString &message, const QString &details, LoadJob *) {
            if (!message.isEmpty())
                errors.append(message + QLatin1Char(' ') + details);
            loop.quit();
        });

    const QString path = QString::fromLocal8Bit(argv[1]);
    QMetaObject::invokeMethod(
        loader, [loader, path, &job] { loader->loadFrom(path, &job, 0); }, Qt::QueuedConnection);
    loop.exec();

    QList<QPair<int, QString>> lines;
    for (const ItemRecord &record : qAsConst(records))
        describe(record, -1, &lines);
    std::stable_sort(
        lines.begin(), lines.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::printf("board next-id=%d items=%d\n", nextItemId, int(lines.size()));
    for (const auto &line : qAsConst(lines))
        std::printf("%s\n", qUtf8Printable(line.second));
    for (const QString &error : qAsConst(errors))
        std::printf("error %s\n", qUtf8Printable(error));

    records.clear();
    QMetaObject::invokeMethod(
        loader, [loader] { delete loader; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    DecoderPool::instance().stopHelpers();
    return errors.isEmpty() ? 0 : 1;
}

// libFuzzer target for item records on their own, outside a board: every input is read as the
// records of each format version from "1.6" on, one after another with the records of their
// attached items, as a board's reader walks them, and as a copy on the clipboard (its header,
// then records of the current format). What a copy gives must survive being written again: the
// bytes written from it read back into records that write the same bytes.
// See CMakeLists.txt in this folder; "-make_corpus=DIR" writes the seeds the current writer makes
// (fuzz/record-seeds also holds records of the older versions, from fuzz/make_seeds.py).

#include "clipboard/copypastehandler.h"
#include "fuzzcorpus.h"
#include "persistence/itemrecordcodec.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QPainterPath>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// How a copy is put on the clipboard (CopyPasteHandler::copy).
QByteArray copyBytes(qint64 processId, const QRectF &bounds, const QList<ItemRecord> &records)
{
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    out << processId << qint32(records.size()) << bounds;
    ItemRecordCodec::write(out, records);
    return data;
}

// Reads records and those attached to them depth first, as long as they read, the way a board's
// reader does; a bounded number, so that a loop of tiny records cannot take all the time.
void readAll(QDataStream &in, const QString &version, qint64 size, int depth, int *budget)
{
    while (!in.atEnd() && *budget > 0) {
        --*budget;
        ItemRecord record;
        qint32 children = 0;
        if (!ItemRecordCodec::readOne(in, version, size, &record, &children))
            return;
        if (depth < ItemRecordCodec::MaximumNesting && children > 0) {
            for (qint32 i = 0; i<children && * budget> 0; ++i)
                readAll(in, version, size, depth + 1, budget);
        }
        if (depth > 0)
            return;
    }
}

void makeCorpus(const QString &directory)
{
    ItemRecord picture = ItemRecordCodec::imageRecord(QStringLiteral("/nowhere/a.jpg"),
        QStringLiteral("a"), 0, 0.5f, QTransform(2, 0, 0, 2, 10, 20));
    picture.imageTransform = QTransform::fromTranslate(-3, -2);
    QPainterPath crop;
    crop.addRect(-3, -2, 6, 4);
    picture.cropPath = crop;
    picture.autoDownscaled = true;
    picture.downscaleLimit = QSize(2000, 2000);
    // The overview a board keeps after a picture's child count (its stream without the start
    // marker, then the checksum of its block).
    picture.overview = QByteArray::fromHex("ffd8ffdb0043") + QByteArray(20, '\x10')
        + QByteArray::fromHex("ffd9");
    picture.overviewChecksum = 0x12345678;
    ItemRecord note;
    note.type = ItemRecord::Type::Note;
    note.id = 1;
    note.text = QStringLiteral("a note");
    note.transform = QTransform::fromTranslate(4, 5);
    note.textColor = QColor(Qt::red);
    note.backgroundColor = QColor(0, 0, 0, 51);
    ItemRecord attached = picture;
    attached.id = 2;
    attached.overview.clear();
    attached.children = { note };
    picture.children = { attached };

    const auto save = [&directory](const QString &name, const QByteArray &bytes) {
        writeSeed(directory, name, bytes);
    };
    save(QStringLiteral("copy-nested.bin"),
        copyBytes(42, QRectF(-10, -10, 40, 30), { picture, note }));
    save(QStringLiteral("copy-note.bin"), copyBytes(7, QRectF(0, 0, 5, 5), { note }));
    QByteArray records;
    QBuffer buffer(&records);
    buffer.open(QIODevice::WriteOnly);
    QDataStream out(&buffer);
    ItemRecordCodec::write(out, { picture, note });
    buffer.close();
    save(QStringLiteral("records-current.bin"), records);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    makeCorpusWhenAsked(*argc, *argv, makeCorpus);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), int(size));
    static const QString versions[]
        = { QStringLiteral("1.6"), QStringLiteral("1.7"), QStringLiteral("1.8"),
              QStringLiteral("1.9"), QStringLiteral("1.10"), QStringLiteral("1.11") };
    for (const QString &version : versions) {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::ReadOnly);
        QDataStream in(&buffer);
        int budget = 256;
        readAll(in, version, qint64(size), 0, &budget);
    }

    qint64 processId = 0;
    QRectF bounds;
    QList<ItemRecord> records;
    if (!CopyPasteHandler::readCopy(bytes, &processId, &bounds, &records))
        return 0;
    const QByteArray written = copyBytes(processId, bounds, records);
    QList<ItemRecord> again;
    if (!CopyPasteHandler::readCopy(written, &processId, &bounds, &again))
        std::abort();
    if (copyBytes(processId, bounds, again) != written)
        std::abort();
    return 0;
}

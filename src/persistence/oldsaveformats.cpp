#include "persistence/oldsaveformats.h"

#include "persistence/imageloaderrunner.h"
#include "persistence/itemrecordcodec.h"
#include "persistence/savefileformat.h"
#include "persistence/savefileheader.h"
#include "persistence/savefilestream.h"
#include "picture/picturefile.h"

#include <QDataStream>
#include <QIODevice>
#include <QImage>
#include <QPolygonF>
#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

namespace OldSaveFormats {

using ItemRecordCodec::imageRecord;
using SaveFileFormat::readString;
using namespace SaveFileStream;

namespace {

    // Decodes the PNG stream at the device's position, which only its own chunks bound, and leaves
    // the device after its end chunk. Chunk lengths come from disk: each is checked against the
    // length left before the device skips it.
    QImage decodeFrom(QIODevice *device, qint64 length)
    {
        const qint64 start = device->pos();
        uchar signature[8];
        if (device->read(reinterpret_cast<char *>(signature), 8) != 8
            || std::memcmp(signature, "\x89PNG\r\n\x1a\n", 8) != 0)
            return {};
        for (qint64 at = 8; at + 12 <= length;) {
            uchar chunk[8];
            if (device->read(reinterpret_cast<char *>(chunk), 8) != 8)
                return {};
            const qint64 chunkLength = qFromBigEndian<quint32>(chunk);
            if (chunkLength > length - at - 12 || chunkLength > std::numeric_limits<int>::max())
                return {};
            at += 12 + chunkLength;
            if (std::memcmp(chunk + 4, "IEND", 4) == 0) {
                if (at > std::numeric_limits<int>::max() || !device->seek(start))
                    return {};
                const QByteArray block = device->read(at);
                return ImageLoaderRunner::decodePng(
                    reinterpret_cast<const uchar *>(block.constData()), block.size());
            }
            if (!device->seek(start + at))
                return {};
        }
        return {};
    }

} // namespace

void readNotes(QDataStream &in, QList<ItemRecord> *notes)
{
    qint32 count = 0;
    in >> count;
    // A note takes at least a string length, a transform and two colours.
    constexpr qint64 SmallestNote = 4 + 72 + 11 + 11;
    if (!isOk(in) || count < 0 || count > bytesLeft(in) / SmallestNote) {
        in.setStatus(QDataStream::ReadCorruptData);
        return;
    }
    for (qint32 i = 0; i < count; ++i) {
        QString text;
        QTransform transform;
        QColor textColor;
        QColor backgroundColor;
        if (!readString(in, &text) || !readTransform(in, &transform) || !readColor(in, &textColor)
            || !readColor(in, &backgroundColor)) {
            in.setStatus(QDataStream::ReadCorruptData);
            return;
        }
        ItemRecord note;
        note.type = ItemRecord::Type::Note;
        note.text = text;
        note.transform = transform;
        note.textColor = textColor;
        note.backgroundColor = backgroundColor;
        notes->append(note);
    }
}

bool readVersion5Record(QDataStream &in, ItemRecord *record)
{
    QString path;
    QString name;
    float opacity = 1.0f;
    QTransform transform;
    qint32 id = -1;
    double z = 0;
    double x = 0;
    double y = 0;
    QPolygonF polygon;
    if (!readString(in, &path) || !readString(in, &name))
        return false;
    in >> opacity;
    if (!isOk(in) || !qIsFinite(opacity) || !readTransform(in, &transform))
        return false;
    in >> id;
    if (!readDouble(in, &z) || !readDouble(in, &x) || !readDouble(in, &y)
        || !readPolygon(in, &polygon))
        return false;
    ItemRecord image = imageRecord(path, name, id, opacity, transform);
    image.imageTransform = QTransform::fromTranslate(-x, -y);
    image.cropPath = pathOf(polygon);
    image.z = z;
    readNotes(in, &image.children);
    if (!isOk(in))
        return false;
    *record = std::move(image);
    return true;
}

bool readImageRecord(
    QDataStream &in, const SaveFileHeader &header, qint64 size, int index, ItemRecord *out)
{
    const QString &version = header.formatVersion;
    const bool withPath = version == QLatin1String("1.4");
    QString path;
    QString name;
    float opacity = 1.0f;
    QTransform transform;
    QPolygonF polygon;
    qint32 id = index;
    QImage image;
    if (withPath && !readString(in, &path))
        return false;
    if (!readString(in, &name))
        return false;
    in >> opacity;
    if (!isOk(in) || !qIsFinite(opacity) || !readTransform(in, &transform))
        return false;
    if (withPath) {
        if (!readPolygon(in, &polygon))
            return false;
        in >> id;
        if (!isOk(in))
            return false;
        // The index bounds the stream when it agrees with where the record put it.
        const qint64 start = in.device()->pos();
        const ImageRecord record
            = index < header.imageRecords.size() ? header.imageRecords.at(index) : ImageRecord();
        if (record.start == start && record.end > start
            && record.end <= std::min(header.indexOffset, size)) {
            const QByteArray block = in.device()->read(record.end - start);
            image = ImageLoaderRunner::decodePng(
                reinterpret_cast<const uchar *>(block.constData()), block.size());
            if (!in.device()->seek(record.end))
                return false;
        } else {
            image = decodeFrom(in.device(), bytesLeft(in));
        }
        if (image.isNull())
            return false;
    } else {
        qint32 byteCount = 0;
        qint32 width = 0;
        qint32 height = 0;
        qint32 format = 0;
        in >> byteCount >> width >> height >> format;
        if (version == QLatin1String("1.3") && !readPolygon(in, &polygon))
            return false;
        // Raw pixels: only a real format whose rows add up to exactly the stored byte count, and
        // that count must be there. Rows of the widest format times the highest picture do not
        // fit 64 bits: each step is checked.
        if (!isOk(in) || format <= QImage::Format_Invalid || format >= QImage::NImageFormats
            || width <= 0 || height <= 0 || byteCount <= 0 || byteCount > bytesLeft(in))
            return false;
        const int depth = QImage::toPixelFormat(QImage::Format(format)).bitsPerPixel();
        qint64 bitsPerLine = 0;
        qint64 bytes = 0;
        if (!multiply(width, depth, &bitsPerLine) || !add(bitsPerLine, 31, &bitsPerLine)
            || !multiply(bitsPerLine / 32 * 4, height, &bytes) || bytes != byteCount)
            return false;
        image = QImage(width, height, QImage::Format(format));
        if (image.isNull() || image.sizeInBytes() != byteCount
            || in.readRawData(reinterpret_cast<char *>(image.bits()), byteCount) != byteCount)
            return false;
        image = PictureFile::toDisplayFormat(std::move(image));
    }
    if (!isOk(in))
        return false;

    ItemRecord item = imageRecord(path, name, id, opacity, transform);
    // These formats drew the picture from the item's origin, cropped in picture pixels.
    QPainterPath crop;
    crop.addRect(QRectF(QPointF(0, 0), QSizeF(image.size())));
    if (!polygon.isEmpty())
        crop = pathOf(polygon);
    item.cropPath = crop;
    item.image = std::move(image);
    if (withPath) {
        readNotes(in, &item.children);
        if (!isOk(in))
            return false;
    }
    *out = std::move(item);
    return true;
}

} // namespace OldSaveFormats

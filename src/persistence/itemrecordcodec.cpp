#include "persistence/itemrecordcodec.h"

#include "persistence/savefileformat.h"
#include "persistence/savefilestream.h"

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QPolygonF>

namespace ItemRecordCodec {

using SaveFileFormat::isAtLeast;
using SaveFileFormat::readString;
using namespace SaveFileStream;

namespace {

    const QByteArray JpegStart("\xff\xd8", 2);

    // The overview a board may keep after an image's fields; left empty when it is not there
    // or is broken, which costs only a decoding.
    void readOverview(QDataStream &in, ItemRecord *record)
    {
        quint32 length = 0;
        if (bytesLeft(in) < 8)
            return;
        in >> length;
        if (length == 0xffffffffu || qint64(length) > bytesLeft(in) - 4)
            return;
        QByteArray stream(int(length), Qt::Uninitialized);
        quint32 checksum = 0;
        if (in.readRawData(stream.data(), int(length)) != int(length))
            return;
        in >> checksum;
        if (in.status() != QDataStream::Ok)
            return;
        record->overview = JpegStart + stream;
        record->overviewChecksum = checksum;
    }

    QByteArray recordBody(const ItemRecord &record)
    {
        QByteArray body;
        QDataStream stream(&body, QIODevice::WriteOnly);
        if (record.type == ItemRecord::Type::Image) {
            stream << QStringLiteral("GraphicsImageItem") << record.source << record.name
                   << record.opacity << record.transform.value_or(QTransform()) << qint32(record.id)
                   << record.z << record.imageTransform.value_or(QTransform())
                   << record.cropPath.value_or(QPainterPath()) << qint32(record.filter)
                   << record.autoDownscaled << record.downscaleLimit
                   << qint32(record.children.size());
            // Appended, so readers that know fewer fields pass over it. The stream goes without
            // its start marker: whoever looks for pictures in a damaged board must not take a
            // level for one.
            if (record.overview.startsWith(JpegStart))
                stream << record.overview.mid(JpegStart.size()) << quint32(record.overviewChecksum);
        } else {
            stream << QStringLiteral("GraphicsTextItem") << record.text
                   << record.transform.value_or(QTransform()) << qint32(record.id) << record.z
                   << record.textColor.value_or(QColor())
                   << record.backgroundColor.value_or(QColor()) << qint32(record.children.size());
        }
        return body;
    }

    bool readTree(QDataStream &in, qint64 size, int depth, ItemRecord *record)
    {
        if (depth > MaximumNesting)
            return false;
        qint32 childCount = 0;
        if (!readOne(in, SaveFileFormat::CurrentVersion, size, record, &childCount))
            return false;
        for (qint32 i = 0; i < childCount; ++i) {
            ItemRecord child;
            if (!readTree(in, size, depth + 1, &child))
                return false;
            record->children.append(child);
        }
        return true;
    }

} // namespace

void write(QDataStream &stream, const QList<ItemRecord> &records)
{
    for (const ItemRecord &record : records) {
        const QByteArray body = recordBody(record);
        const qint64 end = stream.device()->pos() + 8 + body.size();
        stream << end;
        stream.writeRawData(body.constData(), body.size());
        write(stream, record.children);
    }
}

ItemRecord imageRecord(
    const QString &path, const QString &name, qint32 id, float opacity, const QTransform &transform)
{
    ItemRecord record;
    record.source = path;
    record.name = name.isNull() ? QStringLiteral("Untitled") : name;
    record.id = id;
    record.opacity = qBound(0.0f, opacity, 1.0f);
    record.transform = transform;
    return record;
}

bool read(QIODevice *device, int count, QList<ItemRecord> *records)
{
    QDataStream in(device);
    const qint64 size = device->size();
    QList<ItemRecord> read;
    // Each record takes at least its end offset: a count larger than the bytes fails on the way.
    for (int i = 0; i < count; ++i) {
        ItemRecord record;
        if (!readTree(in, size, 0, &record))
            return false;
        read.append(record);
    }
    *records = read;
    return true;
}

bool readOne(QDataStream &stream, const QString &formatVersion, qint64 size, ItemRecord *out,
    qint32 *childCount)
{
    const QString &version = formatVersion;
    const bool withEnd = isAtLeast(version, QStringLiteral("1.9"));
    qint64 end = -1;
    if (withEnd) {
        stream >> end;
        if (!isOk(stream) || end < stream.device()->pos() || end > size)
            return false;
    }
    // A body is read from its own bytes only: fields cannot reach past its end offset, and the
    // bodies of successive records never overlap, so a file is read about once whatever its
    // offsets say.
    QByteArray bodyBytes;
    QBuffer bodyBuffer(&bodyBytes);
    QDataStream bodyStream(&bodyBuffer);
    if (withEnd) {
        const qint64 length = end - stream.device()->pos();
        bodyBytes = stream.device()->read(length);
        if (bodyBytes.size() != length)
            return false;
        bodyBuffer.open(QIODevice::ReadOnly);
    }
    QDataStream &in = withEnd ? bodyStream : stream;
    QString type;
    if (!readString(in, &type))
        return false;

    ItemRecord record;
    if (type == QLatin1String("GraphicsImageItem")) {
        QString path;
        QString name;
        float opacity = 1.0f;
        QTransform transform;
        qint32 id = -1;
        double z = 0;
        QTransform imageTransform;
        QPainterPath crop;
        qint32 filter = record.filter;
        bool autoDownscaled = false;
        QSize downscaleLimit;
        if (!readString(in, &path) || !readString(in, &name))
            return false;
        in >> opacity;
        if (!isOk(in) || !qIsFinite(opacity) || !readTransform(in, &transform))
            return false;
        in >> id;
        if (!readDouble(in, &z))
            return false;
        if (isAtLeast(version, QStringLiteral("1.8"))) {
            if (!readTransform(in, &imageTransform) || !readPath(in, &crop))
                return false;
            in >> filter;
        } else {
            double x = 0;
            double y = 0;
            QPolygonF polygon;
            if (!readDouble(in, &x) || !readDouble(in, &y) || !readPolygon(in, &polygon))
                return false;
            imageTransform = QTransform::fromTranslate(-x, -y);
            crop = pathOf(polygon);
            if (version == QLatin1String("1.7"))
                in >> filter;
        }
        // Later fields are only ever appended; the end offset tells whether these are there.
        if (withEnd && bytesLeft(in) >= 1 + 8 + 4)
            in >> autoDownscaled >> downscaleLimit;
        if (!isOk(in))
            return false;
        record = imageRecord(path, name, id, opacity, transform);
        record.imageTransform = imageTransform;
        record.cropPath = crop;
        record.z = z;
        record.filter = filter;
        record.autoDownscaled = autoDownscaled;
        record.downscaleLimit = downscaleLimit;
    } else if (type == QLatin1String("GraphicsTextItem")) {
        QString text;
        QTransform transform;
        qint32 id = -1;
        double z = 0;
        QColor textColor;
        QColor backgroundColor;
        if (!readString(in, &text) || !readTransform(in, &transform))
            return false;
        in >> id;
        if (!readDouble(in, &z) || !readColor(in, &textColor) || !readColor(in, &backgroundColor))
            return false;
        record.type = ItemRecord::Type::Note;
        record.text = text;
        record.transform = transform;
        record.id = id;
        record.z = z;
        record.textColor = textColor;
        record.backgroundColor = backgroundColor;
    } else {
        return false;
    }

    qint32 children = 0;
    in >> children;
    const qint64 smallestRecord = withEnd ? 8 : 4;
    if (!isOk(in) || !isOk(stream) || children < 0 || children > bytesLeft(stream) / smallestRecord)
        return false;
    if (withEnd && record.type == ItemRecord::Type::Image)
        readOverview(in, &record);
    *out = std::move(record);
    *childCount = children;
    return true;
}

} // namespace ItemRecordCodec

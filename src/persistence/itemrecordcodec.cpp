#include "persistence/itemrecordcodec.h"

#include "persistence/savefileformat.h"
#include "persistence/savefilestream.h"

#include <QBuffer>
#include <QByteArray>
#include <QDataStream>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace ItemRecordCodec {

using SaveFileFormat::isAtLeast;
using SaveFileFormat::readString;
using namespace SaveFileStream;

namespace {

    const QByteArray JpegStart("\xff\xd8", 2);

    // The overview a board may keep after an image's fields; left empty when it is not there
    // or is broken, which costs only a decoding. False when the fields after it cannot be
    // reached.
    bool readOverview(QDataStream &in, ItemRecord *record)
    {
        quint32 length = 0;
        if (bytesLeft(in) < 8)
            return false;
        in >> length;
        // No overview, written only to reach the fields that follow.
        if (length == 0xffffffffu) {
            in.skipRawData(4);
            return isOk(in);
        }
        if (qint64(length) > bytesLeft(in) - 4)
            return false;
        QByteArray stream(int(length), Qt::Uninitialized);
        quint32 checksum = 0;
        if (in.readRawData(stream.data(), int(length)) != int(length))
            return false;
        in >> checksum;
        if (in.status() != QDataStream::Ok)
            return false;
        record->overview = JpegStart + stream;
        record->overviewChecksum = checksum;
        return true;
    }

    // A still whose record goes on past its playback says so with this frame.
    constexpr qint32 NoPlayback = -1;

    // An animation's playback, from disk: a frame past the animation's end is the board's
    // business, anything else out of range is taken back into it. False when the fields after
    // it cannot be reached.
    bool readPlayback(QDataStream &in, ItemRecord *record)
    {
        if (bytesLeft(in) < 4 + 8 + 1 + 1)
            return false;
        qint32 frame = 0;
        double speed = 1.0;
        bool playing = true;
        bool loops = true;
        in >> frame >> speed >> playing >> loops;
        if (!isOk(in))
            return false;
        if (frame == NoPlayback)
            return true;
        ItemRecord::Playback playback;
        playback.frame = std::max(0, int(frame));
        playback.speed = std::isfinite(speed) ? std::clamp(speed,
                             ItemRecord::Playback::SlowestSpeed, ItemRecord::Playback::FastestSpeed)
                                              : 1.0;
        playback.playing = playing;
        playback.loops = loops;
        record->playback = playback;
        return true;
    }

    // Where a picture from the web came from; a record that ends before them, or whose strings
    // are broken, keeps none, which costs only the showing of its source.
    void readAddresses(QDataStream &in, ItemRecord *record)
    {
        QString picture;
        QString page;
        if (bytesLeft(in) < 4 + 4 || !readString(in, &picture) || !readString(in, &page))
            return;
        record->pictureAddress = picture;
        record->pageAddress = page;
    }

    bool isWebAddress(const QString &text)
    {
        return text.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
            || text.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
    }

    QByteArray recordBody(const ItemRecord &record, bool withAddresses)
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
            const bool addresses = withAddresses
                && (!record.pictureAddress.isEmpty() || !record.pageAddress.isEmpty());
            if (record.overview.startsWith(JpegStart))
                stream << record.overview.mid(JpegStart.size()) << quint32(record.overviewChecksum);
            else if (record.playback || addresses)
                stream << QByteArray() << quint32(0);
            if (const auto &playback = record.playback)
                stream << qint32(playback->frame) << playback->speed << playback->playing
                       << playback->loops;
            else if (addresses)
                stream << NoPlayback << 1.0 << false << false;
            if (addresses)
                stream << record.pictureAddress << record.pageAddress;
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

void write(QDataStream &stream, const QList<ItemRecord> &records, bool withAddresses)
{
    for (const ItemRecord &record : records) {
        const QByteArray body = recordBody(record, withAddresses);
        const qint64 end = stream.device()->pos() + 8 + body.size();
        stream << end;
        stream.writeRawData(body.constData(), body.size());
        write(stream, record.children, withAddresses);
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
    if (withEnd && record.type == ItemRecord::Type::Image && readOverview(in, &record)
        && readPlayback(in, &record))
        readAddresses(in, &record);
    // Boards without the addresses keep a download's in its source.
    if (record.type == ItemRecord::Type::Image && record.pictureAddress.isEmpty()
        && isWebAddress(record.source))
        record.pictureAddress = record.source;
    *out = std::move(record);
    *childCount = children;
    return true;
}

} // namespace ItemRecordCodec

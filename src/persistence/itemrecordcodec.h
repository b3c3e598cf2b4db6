#pragma once

#include "scene/itemrecord.h"

#include <QList>
#include <QString>

class QDataStream;
class QIODevice;
class QTransform;

// The bytes of item records, one codec for the scene file's writer and reader and for the
// clipboard, which carries records as a board stores them. From format "1.9" on, each record is
// its end offset (the absolute device position after its body, a qint64), then the body: type
// name, the fields of its type, and the number of records of attached items that follow it.
// Reentrant; records hold no pixels here.
namespace ItemRecordCodec {

// Records may attach items to items this deep; deeper ones are refused as broken.
constexpr int MaximumNesting = 64;

// Records in list order, each followed by the records of the items attached to it, in the
// current format. Depths are written as the records hold them. Without addresses, a picture's
// web and page addresses stay out of the records: the source alone is what readers of format
// "1.10" know of where a picture came from.
void write(QDataStream &stream, const QList<ItemRecord> &records, bool withAddresses = true);

// Reads one record of formatVersion ("1.6" on) from the stream's position, without the records
// of its attached items; childCount tells how many follow. Bodies are read from their own bytes
// only, so a field cannot reach past its record's end offset, which must lie within size. False
// for a record that is broken or not all there.
bool readOne(QDataStream &stream, const QString &formatVersion, qint64 size, ItemRecord *record,
    qint32 *childCount);

// Reads count records of the current format from device's position, with the records of their
// attached items, as the clipboard carries them; false when they are not all there or are broken.
bool read(QIODevice *device, int count, QList<ItemRecord> *records);

// What every format stores of an image the same way; a record without a name is "Untitled".
ItemRecord imageRecord(const QString &path, const QString &name, qint32 id, float opacity,
    const QTransform &transform);

} // namespace ItemRecordCodec

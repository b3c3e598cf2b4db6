#pragma once

#include "scene/itemrecord.h"

#include <QList>
#include <QtGlobal>

class QDataStream;
struct SaveFileHeader;

// The item records of formats "1.2" to "1.5", which only the reader's readOld still meets. Each
// reads from the stream's position on the board's file and hands back a record with the notes
// attached to it as children; false for a record that is broken or not all there, and a stream
// whose status may then be anything. Any thread; nothing is shared.
namespace OldSaveFormats {

// Format "1.5": an image record without its pixels, which lie in the block its index entry
// names, followed by its notes.
bool readVersion5Record(QDataStream &in, ItemRecord *record);

// Formats "1.2" to "1.4" keep each picture inside its item record: raw pixels up to "1.3", a PNG
// stream in "1.4", which also stores a path and notes. index: the record's place in the file,
// its id where the format stores none, and the index entry that bounds a "1.4" stream.
bool readImageRecord(
    QDataStream &in, const SaveFileHeader &header, qint64 size, int index, ItemRecord *record);

// The notes attached to an image of these formats. A broken note leaves the stream's status
// ReadCorruptData.
void readNotes(QDataStream &in, QList<ItemRecord> *notes);

} // namespace OldSaveFormats

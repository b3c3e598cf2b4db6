#pragma once

#include "persistence/imagerecord.h"

#include <QList>
#include <QString>

// What readHeader finds at the front of a scene file, plus the checksum it computed over the
// bytes the stored one covers. Counts and records come straight from disk: check them with
// SaveFileLoader::isValidHeader and isValidIndex before relying on them.
struct SaveFileHeader {
    QString formatVersion;
    QString applicationVersion;
    QString storedChecksum;
    QString actualChecksum;
    qint16 itemCount = 0;
    qint16 imageCount = 0;
    qint64 indexOffset = -1;
    // Where the bytes the checksum covers begin: just after the header, up to the file's end.
    qint64 checksumStart = -1;
    // Formats before "1.6" store one qint32 count for items and images alike.
    qint32 legacyCount = 0;
    // The header could not be read whole, or its index lies outside the file.
    bool truncated = false;
    QList<ImageRecord> imageRecords;
};

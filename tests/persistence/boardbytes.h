#pragma once

// Reading and patching the bytes of board files, for tests that damage boards on purpose.

#include <QByteArray>
#include <QDataStream>
#include <QFile>
#include <QList>
#include <QString>
#include <QtEndian>

inline QByteArray readAll(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

inline void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(bytes);
}

struct IndexEntry {
    qint32 id;
    qint64 start;
    qint64 end;
};

// The fixed part at the start of every file of the current format.
struct Header {
    QString version;
    qint16 items = 0;
    qint16 images = 0;
    qint64 indexOffset = 0;
    QString application;
    QString checksum;
};

inline Header headerOf(const QByteArray &bytes)
{
    QDataStream in(bytes);
    Header header;
    in >> header.version >> header.items >> header.images >> header.indexOffset
        >> header.application >> header.checksum;
    return header;
}

inline QList<IndexEntry> indexOf(const QByteArray &bytes)
{
    const Header header = headerOf(bytes);
    QDataStream in(bytes);
    in.device()->seek(header.indexOffset);
    QList<IndexEntry> entries;
    for (int i = 0; i < header.images; ++i) {
        IndexEntry entry {};
        in >> entry.id >> entry.start >> entry.end;
        entries.append(entry);
    }
    return entries;
}

// Writes value big-endian, as boards store numbers, over the bytes at the offset.
template<typename T> void put(QByteArray &bytes, qint64 at, T value)
{
    qToBigEndian(value, bytes.data() + at);
}

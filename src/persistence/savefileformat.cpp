#include "persistence/savefileformat.h"

#include "platform/platform.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QStringList>
#include <QtEndian>

#include <algorithm>

namespace SaveFileFormat {

namespace {

    bool splitFormat(const QString &version, int *major, int *minor)
    {
        const QStringList parts = version.split(QLatin1Char('.'));
        if (parts.size() != 2)
            return false;
        bool majorOk = false;
        bool minorOk = false;
        *major = parts.at(0).toInt(&majorOk);
        *minor = parts.at(1).toInt(&minorOk);
        return majorOk && minorOk;
    }

} // namespace

bool isValidVersion(const QString &version)
{
    int major = 0;
    int minor = 0;
    return splitFormat(version, &major, &minor);
}

bool isGreater(const QString &a, const QString &b)
{
    int aMajor = 0;
    int aMinor = 0;
    int bMajor = 0;
    int bMinor = 0;
    if (!splitFormat(a, &aMajor, &aMinor))
        return false;
    splitFormat(b, &bMajor, &bMinor);
    return aMajor > bMajor || (aMajor == bMajor && aMinor > bMinor);
}

bool isAtLeast(const QString &a, const QString &b)
{
    return a == b || isGreater(a, b);
}

QString checksumOf(QFile *file, qint64 from)
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    return addToHash(file, from, file->size(), &hash) ? QString::fromLatin1(hash.result().toHex())
                                                      : QString();
}

bool addToHash(QIODevice *file, qint64 from, qint64 to, QCryptographicHash *hash)
{
    if (!file->seek(from))
        return false;
    constexpr qint64 Chunk = 1 << 20;
    for (qint64 position = from; position < to;) {
        const QByteArray chunk = file->read(std::min(Chunk, to - position));
        if (chunk.isEmpty())
            return false;
        hash->addData(chunk);
        position += chunk.size();
    }
    return true;
}

namespace {

    // The toolkit takes lengths as int: large mappings are fed in pieces, each handed to
    // afterPiece.
    template<typename AfterPiece>
    QString md5InPieces(const uchar *bytes, qint64 size, qint64 pieceSize, AfterPiece afterPiece)
    {
        QCryptographicHash hash(QCryptographicHash::Md5);
        for (qint64 done = 0; done < size; done += pieceSize) {
            const qint64 length = std::min(pieceSize, size - done);
            hash.addData(reinterpret_cast<const char *>(bytes + done), int(length));
            afterPiece(bytes + done, length);
        }
        return QString::fromLatin1(hash.result().toHex());
    }

} // namespace

QString checksumOf(const uchar *bytes, qint64 size)
{
    return md5InPieces(bytes, size, qint64(1) << 30, [](const uchar *, qint64) {});
}

QString checksumOfMapping(const uchar *bytes, qint64 size)
{
    return md5InPieces(bytes, size, qint64(16) << 20, Platform::releaseMappedPages);
}

SaveFileHeader readHeaderFields(QIODevice *file)
{
    SaveFileHeader header;
    QDataStream in(file);
    const qint64 size = file->size();
    if (!readString(in, &header.formatVersion)) {
        header.truncated = true;
        return header;
    }
    const QString &version = header.formatVersion;
    if (isAtLeast(version, QStringLiteral("1.6"))) {
        in >> header.itemCount >> header.imageCount;
    } else {
        in >> header.legacyCount;
        const qint16 count = qint16(std::clamp<qint32>(header.legacyCount, -1, 32767));
        header.itemCount = count;
        header.imageCount = count;
    }
    if (in.status() != QDataStream::Ok) {
        header.truncated = true;
        return header;
    }
    if (!isAtLeast(version, QStringLiteral("1.4")))
        return header;

    in >> header.indexOffset;
    if (isAtLeast(version, QStringLiteral("1.9")))
        readString(in, &header.applicationVersion);
    if (isAtLeast(version, QStringLiteral("1.10")))
        readString(in, &header.storedChecksum);
    if (in.status() != QDataStream::Ok)
        header.truncated = true;
    const qint64 headerEnd = file->pos();
    header.checksumStart = headerEnd;

    // Offsets come from disk: the whole index must lie between the header and the file's end.
    const qint64 count
        = isAtLeast(version, QStringLiteral("1.6")) ? header.imageCount : header.legacyCount;
    constexpr qint64 EntryBytes = 4 + 8 + 8;
    if (!header.truncated && count > 0 && header.indexOffset >= headerEnd
        && header.indexOffset <= size && count <= (size - header.indexOffset) / EntryBytes
        && file->seek(header.indexOffset)) {
        in.resetStatus();
        for (qint64 i = 0; i < count; ++i) {
            ImageRecord record;
            in >> record.id >> record.start >> record.end;
            header.imageRecords.append(record);
        }
        if (in.status() != QDataStream::Ok) {
            header.imageRecords.clear();
            header.truncated = true;
        }
    } else if (count > 0 || header.indexOffset < headerEnd || header.indexOffset > size) {
        header.truncated = true;
    }
    file->seek(headerEnd);
    return header;
}

bool isValidHeader(const SaveFileHeader &header)
{
    const QString &version = header.formatVersion;
    if (!isValidVersion(version))
        return false;
    if (!isGreater(version, QStringLiteral("1.3")))
        return true;
    const qint64 count
        = isAtLeast(version, QStringLiteral("1.6")) ? header.imageCount : header.legacyCount;
    return header.itemCount >= 0 && !header.truncated && count == header.imageRecords.size();
}

bool isValidIndex(const SaveFileHeader &header)
{
    qint64 previousEnd = 0;
    for (const ImageRecord &record : header.imageRecords) {
        if (record.id < 0 || record.start < 0 || record.end < record.start
            || record.start < previousEnd || record.end > header.indexOffset)
            return false;
        previousEnd = record.end;
    }
    return true;
}

bool readString(QDataStream &in, QString *out)
{
    if (in.status() != QDataStream::Ok)
        return false;
    const QByteArray peeked = in.device()->peek(4);
    if (peeked.size() < 4) {
        in.setStatus(QDataStream::ReadPastEnd);
        return false;
    }
    const quint32 length = qFromBigEndian<quint32>(peeked.constData());
    if (length != 0xffffffffu && qint64(length) > in.device()->size() - in.device()->pos() - 4) {
        in.setStatus(QDataStream::ReadCorruptData);
        return false;
    }
    in >> *out;
    return in.status() == QDataStream::Ok;
}

} // namespace SaveFileFormat

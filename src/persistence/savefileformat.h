#pragma once

#include "persistence/savefileheader.h"

#include <QString>

class QCryptographicHash;
class QDataStream;
class QFile;
class QIODevice;

// What reading and writing scene files share: version rules, the header and its checks, the
// checksum, and the one bounded way strings are read from disk.
namespace SaveFileFormat {

// Boards whose picture blocks are all PNG streams say "1.10"; those that hold a picture as the
// JPEG or WebP file it came from say "1.11". Nothing else in the layout differs.
inline const QString CurrentVersion = QStringLiteral("1.10");
inline const QString OriginalsVersion = QStringLiteral("1.11");
inline const QString ApplicationVersion = QStringLiteral(VELKORA_VERSION);

// Format versions are "major.minor"; "1.10" is greater than "1.9".
bool isValidVersion(const QString &version);
bool isGreater(const QString &a, const QString &b);
bool isAtLeast(const QString &a, const QString &b);

// The header fields and image index from the file's current position, leaving the file just
// after the header; the checksum is not computed.
SaveFileHeader readHeaderFields(QIODevice *file);
bool isValidHeader(const SaveFileHeader &header);
bool isValidIndex(const SaveFileHeader &header);

// MD5 in lower-case hex of the file from the given offset to its end; empty when the file
// cannot be read that far.
QString checksumOf(QFile *file, qint64 from);
QString checksumOf(const uchar *bytes, qint64 size);
// The same of a read-only mapping of a file, whose pages leave the process's memory as they are
// hashed: a board is read once, and the system's file cache holds it anyway.
QString checksumOfMapping(const uchar *bytes, qint64 size);
// Adds the file's bytes from one offset to another to the hash; false when the file cannot be
// read that far.
bool addToHash(QIODevice *file, qint64 from, qint64 to, QCryptographicHash *hash);

// A QString whose length field claims more bytes than the device still holds is refused before
// the toolkit allocates for it; the stream's status then tells the failure.
bool readString(QDataStream &in, QString *out);

} // namespace SaveFileFormat

#pragma once

#include "picture/jpegdecoder.h"
#include "picture/pictureblock.h"

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <memory>

class SourceFile;

// Where a picture's full pixels can be decoded from again, exactly as they were: encoded bytes
// held in memory (the file the picture came from), a block of a board on disk, or a lossless copy
// in the cache folder. A value; any thread.
//
// Blocks are read, not mapped: a file that another program truncates would take the process
// down with a mapping. Each block carries a checksum of its bytes, so a board changed behind
// our back gives an error instead of another picture's pixels.
class PictureSource {
public:
    enum class Kind { None, Bytes, FileBlock, CacheFile };

    PictureSource() = default;
    static PictureSource fromBytes(const QByteArray &encoded);
    // kind: what the block holds, told by its first bytes when it was read.
    static PictureSource fromFileBlock(std::shared_ptr<SourceFile> file, qint64 start,
        qint64 length, quint32 checksum, PictureBlock::Kind kind);
    // format is what the picture was in memory: the copy keeps the values, not their meaning.
    static PictureSource fromCacheFile(const QString &path, QImage::Format format);

    Kind kind() const { return m_kind; }
    bool isNull() const { return m_kind == Kind::None; }
    const std::shared_ptr<SourceFile> &file() const { return m_file; }
    qint64 start() const { return m_start; }
    qint64 length() const { return m_length; }
    QString cachePath() const { return m_path; }
    // What the encoded stream of a Bytes or FileBlock source is.
    PictureBlock::Kind blockKind() const { return m_blockKind; }

    // The encoded stream of Bytes and FileBlock sources (a PNG, JPEG or WebP stream whose
    // decoding gives the pixels), checked against its checksum; empty on failure or for others.
    // locked: the caller holds the file's write lock.
    QByteArray encodedBytes(
        QString *error = nullptr, bool locked = false, bool *busy = nullptr) const;
    // Decodes the full pixels; null with a reason in error on failure. Blocking; any thread.
    // busy: set when the source's file is being rewritten by a save, which is no failure: the
    // pixels are there to be had again once it has ended.
    // cancel: see PictureBlock::decode.
    QImage decode(QString *error = nullptr, bool *busy = nullptr,
        const std::atomic_bool *cancel = nullptr) const;

    // Whether decodeScaled reduces in the decoder rather than after a full decode.
    bool decodesScaled() const;
    // Decodes the pixels at eighths / 8 of their size (1..8) where the stream allows it (JPEG),
    // at a fraction of a full decode's cost and memory; *gotEighths tells what was decoded: 8
    // when the source could only give the full pixels. Otherwise as decode.
    QImage decodeScaled(int eighths, int *gotEighths, QString *error = nullptr,
        bool *busy = nullptr, const std::atomic_bool *cancel = nullptr) const;

    // Decodes the part of the pixels inside region at full size where the stream allows it
    // (JPEG), skipping what lies above it and beside it; *got tells what was decoded: the whole
    // picture when the source could only give the full pixels. Otherwise as decode.
    QImage decodeRegion(const QRect &region, QRect *got, QString *error = nullptr,
        bool *busy = nullptr, const std::atomic_bool *cancel = nullptr) const;

    static quint32 checksumOf(const uchar *data, qint64 length);
    // The checksum of a Bytes or FileBlock source's stream (checksumOf); 0 for others.
    quint32 checksum() const;

private:
    // A JPEG stream's pixels as part decodes them (reduced, a region), *partial then set; the
    // full pixels when our decoder leaves the stream to the toolkit's reader or finds it damaged.
    QImage decodeJpegPart(
        const std::function<JpegDecoder::Result(const uchar *, qint64, const QSize &, QImage *)>
            &part,
        bool *partial, QString *error, bool *busy, const std::atomic_bool *cancel) const;

    Kind m_kind = Kind::None;
    QByteArray m_bytes;
    std::shared_ptr<SourceFile> m_file;
    qint64 m_start = -1;
    qint64 m_length = 0;
    quint32 m_checksum = 0;
    PictureBlock::Kind m_blockKind = PictureBlock::Kind::Unknown;
    QString m_path;
    QImage::Format m_format = QImage::Format_Invalid;
};

#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>

class QImage;
class QRect;
class QSize;

// Decodes the JPEG blocks of boards with libjpeg, the library behind the toolkit's reader, and
// with the reader's settings (the accurate integer transform, smooth chroma upsampling), so that
// the pixels are the same. The library writes each row straight into the picture as 32 bits,
// which saves the reader's copy of every row through a 24-bit buffer: about a tenth of the
// decoding. Colour and grey pictures only; CMYK and anything else the library cannot turn into
// RGB is left to the toolkit's reader. Reentrant: any thread, no shared state.
//
// Pictures decoded on demand also ask for a reduced copy (the library's scaled transform, which
// never decodes the full pixels) and for a rectangle at full size (the rows and block columns
// around it only), pixel for pixel the same as that rectangle of a full decode.
class JpegDecoder {
public:
    enum class Result {
        Decoded,
        // A stream this decoder leaves to the toolkit's reader.
        Unsupported,
        // The library gave up on the stream.
        Damaged,
        // Stopped by the caller's cancel flag.
        Canceled,
    };

    // Decodes the stream data[0, length) into an RGB32 picture, as the toolkit's reader and
    // PictureFile::toDisplayFormat give it. The header must declare exactly expected, which the
    // caller has checked for plausibility before anything is allocated. A result other than
    // Decoded leaves image null and says why in error.
    // cancel: set from another thread, stops the decoding between rows.
    static Result decode(const uchar *data, qint64 length, const QSize &expected, QImage *image,
        QString *error = nullptr, const std::atomic_bool *cancel = nullptr);

    // The memory the library holds while it decodes the stream, beside the picture it writes:
    // a stream of several scans (progressive ones) keeps the coefficients of the whole picture
    // at every scale, about half the decoded picture's bytes; a single scan needs a few rows.
    // 0 when the header cannot be read.
    static qint64 workingBytes(const uchar *data, qint64 length);

    // The size of a picture of size full decoded at eighths / 8 of it (1..8): the library rounds
    // each side up, so that no pixel of the picture is lost.
    static QSize scaledSize(const QSize &full, int eighths);
    // The smallest scale in eighths whose picture covers wanted in both directions; 8 when only
    // the full size does.
    static int eighthsFor(const QSize &full, const QSize &wanted);
    // Decodes the stream at eighths / 8 of its size (1..8) into an RGB32 picture of
    // scaledSize(expected, eighths). The reduction happens in the library's transform, at a
    // fraction of the cost of a full decode; the pixels are close to, not the same as, a smooth
    // reduction of the full picture. Otherwise as decode.
    static Result decodeScaled(const uchar *data, qint64 length, const QSize &expected, int eighths,
        QImage *image, QString *error = nullptr, const std::atomic_bool *cancel = nullptr);
    // Decodes the part of the stream's picture inside region, clipped to the picture, at full
    // size into an RGB32 picture of the clipped region's size: the same pixels as that rectangle
    // of decode's picture. Rows above it are skipped without their colours being computed, and
    // only the block columns around it are decoded. A region outside the picture is Unsupported.
    // Otherwise as decode.
    static Result decodeRegion(const uchar *data, qint64 length, const QSize &expected,
        const QRect &region, QImage *image, QString *error = nullptr,
        const std::atomic_bool *cancel = nullptr);
};

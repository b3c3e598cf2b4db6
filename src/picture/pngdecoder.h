#pragma once

#include <QSize>
#include <QString>
#include <QtGlobal>

class QImage;

// Decodes the PNG streams boards hold about twice as fast as the toolkit's reader: the image
// data is inflated by libdeflate in one call into a buffer sized from the header, then each row
// is unfiltered in place and converted into the image. It handles what PngEncoder writes and
// most other writers do: 8-bit grey, grey with alpha, RGB and RGBA, not interlaced, any row
// filter, any number of data chunks. Anything else (palettes, other depths, interlacing,
// transparency keys, colour profiles, text) is left to the toolkit's reader, so that such a
// stream decodes exactly as before. Reentrant: any thread, no shared state.
class PngDecoder {
public:
    enum class Result {
        Decoded,
        // A valid stream this decoder leaves to the toolkit's reader.
        Unsupported,
        // A broken stream: bad signature, checksum, layout or image data.
        Damaged,
    };

    // Decodes the complete stream data[0, length). Pictures come out as the program holds them:
    // RGB32 when opaque, ARGB32_Premultiplied with alpha, pixel for pixel what the toolkit's
    // reader and PictureFile::toDisplayFormat give. A result other than Decoded leaves image null
    // and says why in error.
    static Result decode(const uchar *data, qint64 length, QImage *image, QString *error = nullptr);
    // As decode, but pictures with alpha come out as ARGB32 holding the stream's bytes unchanged
    // instead of premultiplied: for streams whose colours are no straight ones, such as the
    // copies of premultiplied pixels PictureCache keeps.
    static Result decodeAsStored(
        const uchar *data, qint64 length, QImage *image, QString *error = nullptr);

    // The length of the PNG stream data starts with, up to its end chunk; -1 when there is none
    // within available bytes.
    static qint64 streamLength(const uchar *data, qint64 available);
    // Whether a stream of length bytes could describe a picture of this size: deflate expands
    // at most about 1032 times, so anything larger is a lie that would only allocate.
    static bool isPlausible(const QSize &size, qint64 length);
};

#pragma once

#include <QString>
#include <QtGlobal>

class QImage;
class QSize;

// Decodes the JPEG blocks of boards with libjpeg, the library behind the toolkit's reader, and
// with the reader's settings (the accurate integer transform, smooth chroma upsampling), so that
// the pixels are the same. The library writes each row straight into the picture as 32 bits,
// which saves the reader's copy of every row through a 24-bit buffer: about a tenth of the
// decoding. Colour and grey pictures only; CMYK and anything else the library cannot turn into
// RGB is left to the toolkit's reader. Reentrant: any thread, no shared state.
class JpegDecoder {
public:
    enum class Result {
        Decoded,
        // A stream this decoder leaves to the toolkit's reader.
        Unsupported,
        // The library gave up on the stream.
        Damaged,
    };

    // Decodes the stream data[0, length) into an RGB32 picture, as the toolkit's reader and
    // PictureFile::toDisplayFormat give it. The header must declare exactly expected, which the
    // caller has checked for plausibility before anything is allocated. A result other than
    // Decoded leaves image null and says why in error.
    static Result decode(const uchar *data, qint64 length, const QSize &expected, QImage *image,
        QString *error = nullptr);
};

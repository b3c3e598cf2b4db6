#pragma once

#include <QByteArray>
#include <QString>

class QImage;

// Encodes images as PNG streams several times faster than the toolkit's writer at its default
// settings, and about as large: each row uses the UP or the SUB filter, whichever leaves bytes
// nearer zero, and the zlib stream comes from libdeflate. Opaque images are written as RGB (or as
// 8-bit grey when every pixel is grey), others as RGBA with straight alpha. Formats with more than
// 8 bits a channel or with a palette go to the toolkit's writer, so every image still encodes. The
// same pixels and level always give the same bytes. Reentrant: any thread, no shared state.
class PngEncoder {
public:
    // "Save Compression" choices: fastest, balanced, smallest.
    enum Compression { Fastest = 0, Balanced = 1, Smallest = 2 };

    // The libdeflate level (1..12) of a "Save Compression" choice; out-of-range choices give the
    // balanced level.
    static int deflateLevel(int compression);

    // Writes the PNG stream of image at the given libdeflate level into png. A null image or a
    // failed allocation returns false with a message in error; png is then left empty.
    static bool encode(
        const QImage &image, int deflateLevel, QByteArray *png, QString *error = nullptr);
};

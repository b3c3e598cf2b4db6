#pragma once

#include "picture/abstractanimationreader.h"

#include <QByteArray>

// The frames of a GIF: each image is cut out of the file as a GIF of one image, the size of its
// rectangle, with the colour table and transparent index it uses, and decoded by the toolkit's
// reader; AnimationDecoder draws it with the disposal the file names. The toolkit's own
// compositing is not used: it fills what a frame without transparency disposes of with the
// background colour, where browsers clear to transparent.
//
// The walk goes block by block, each length checked against the bytes, up to the trailer or
// the first block that does not fit: images whose data ends within the bytes are frames, a file
// cut short loses the image it was cut in, and so does one whose image claims more pixels than
// its data can describe. Frames may reach past the logical screen (what lies outside is not
// drawn), but all of them together must pass PictureFile::checkSize.
class GifReader : public AbstractAnimationReader {
public:
    explicit GifReader(const QByteArray &bytes);

    // A GIF with more than one whole image; walks blocks up to the second one.
    static bool isAnimation(const QByteArray &bytes);

    QImage decodeFrame(int index) const override;

private:
    struct Image {
        // The image descriptor, and the end of the image's data.
        qint64 descriptor;
        qint64 end;
        int transparent;
    };

    GifReader(const QByteArray &bytes, int maximumFrames);
    void walk(int maximumFrames);

    QByteArray m_bytes;
    qint64 m_globalTableEnd = 13;
    QVector<Image> m_images;
};

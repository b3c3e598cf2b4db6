#pragma once

#include "picture/abstractanimationreader.h"

#include <QByteArray>

// The frames of an animated PNG: each frame's rectangle is cut out of the file as a PNG stream of
// its own (the header with the frame's size, the palette and transparency chunks, the frame's
// data as image data) and decoded by PngDecoder or, for what it leaves alone
// (palettes, other depths), by the toolkit's reader. A PNG without animation control reads as
// one frame, its image.
//
// Everything the chunks say is checked before use: chunk lengths against the bytes, frame
// rectangles against the canvas, sequence numbers against their order. The walk keeps the frames
// before the first chunk that fails a check and, of those, only frames whose data is followed by
// another chunk: a file cut short loses the frame it was cut in. Checksums are not checked:
// every chunk handed to the decoder gets a new one, as browsers show such files.
class ApngReader : public AbstractAnimationReader {
public:
    explicit ApngReader(const QByteArray &bytes);

    // A PNG whose animation control chunk precedes the image data and announces more than one
    // frame; looks at chunk headers only.
    static bool isAnimation(const QByteArray &bytes);

    QImage decodeFrame(int index) const override;

private:
    struct Range {
        qint64 offset;
        qint64 length;
    };

    void walk();
    QByteArray frameStream(int index) const;

    QByteArray m_bytes;
    Range m_header { 0, 0 };
    // Palette and transparency: every frame's stream carries them.
    QVector<Range> m_sharedChunks;
    // Each frame's compressed data, one range a chunk, sequence numbers left out.
    QVector<QVector<Range>> m_data;
};

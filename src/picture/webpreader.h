#pragma once

#include "picture/abstractanimationreader.h"

#include <QByteArray>

// The frames of an animated WebP: each frame's bitstream (with its alpha chunk) is cut out of the
// file as a WebP of its own and decoded by the toolkit's reader; AnimationDecoder draws it with
// the frame's blending and disposal. The toolkit's own compositing is not used: it leaves a
// frame without alpha in place when the file says to dispose of it, and refuses a whole file
// cut short. A WebP without animation reads as one frame, the file.
//
// The walk checks each chunk's length against the bytes and each frame's rectangle against the
// canvas, and keeps the frames before the first that fails; a file cut short loses the frame it
// was cut in.
class WebPReader : public AbstractAnimationReader {
public:
    explicit WebPReader(const QByteArray &bytes);

    // A WebP with an animation chunk and more than one whole frame; walks chunk headers up to
    // the second frame.
    static bool isAnimation(const QByteArray &bytes);

    QImage decodeFrame(int index) const override;

private:
    struct Range {
        qint64 offset;
        qint64 length;
    };

    WebPReader(const QByteArray &bytes, int maximumFrames);
    void walk(int maximumFrames);

    QByteArray m_bytes;
    bool m_animated = false;
    // Each frame's chunks: an alpha chunk and a bitstream, or a lossless bitstream.
    QVector<Range> m_data;
};

#pragma once

#include <QImage>
#include <QRect>
#include <QSize>
#include <QVector>

// The frames of one animation file as its blocks or chunks describe them, found by walking the
// file without decoding pixels, and each frame's own pixels on demand. AnimationDecoder draws
// them onto the canvas; a reader only cuts frames out of the file. Every canvas passed
// PictureFile::checkSize; rectangles lie inside it but a GIF's, which are drawn clipped. Readers
// hold the file's bytes (shared) and their index of frames, nothing between calls; decodeFrame may
// be called in any order. One thread at a time.
class AbstractAnimationReader {
public:
    // What becomes of a frame's rectangle before the next frame is drawn.
    enum class Dispose {
        None,
        // Cleared to transparent, as browsers do whatever background the file names.
        Background,
        // Put back as it was before the frame was drawn.
        Previous,
    };
    struct Frame {
        QRect rect;
        // Milliseconds, as the file gives them.
        int delay = 0;
        Dispose dispose = Dispose::None;
        // Drawn over what is there; otherwise it replaces its rectangle.
        bool blendOver = false;
    };

    virtual ~AbstractAnimationReader();

    bool isValid() const { return !m_frames.isEmpty(); }
    QSize size() const { return m_size; }
    int frameCount() const { return m_frames.size(); }
    const Frame &frame(int index) const { return m_frames.at(index); }
    // Repeats after the first play, -1 for ever (QImageReader::loopCount's count).
    int loopCount() const { return m_loopCount; }

    // The frame's own pixels, the size of its rectangle, in RGB32 when opaque (drawing those
    // needs no conversion first) and ARGB32_Premultiplied otherwise; null when they do not
    // decode.
    virtual QImage decodeFrame(int index) const = 0;

    // Frames beyond this are ignored: their index alone would take memory without end.
    static constexpr int MaximumFrames = 100000;

protected:
    QSize m_size;
    int m_loopCount = 0;
    QVector<Frame> m_frames;
};

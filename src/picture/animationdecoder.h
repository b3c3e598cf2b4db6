#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QVector>

#include <memory>

class AbstractAnimationReader;

// Decodes the frames of an animated GIF, WebP or PNG in order, each as the whole canvas shows at
// that moment, in ARGB32_Premultiplied. A reader of the format (GifReader, WebPReader,
// ApngReader) cuts each frame out of the file and decodes its rectangle; the decoder draws it
// with the rules browsers follow for all three: the canvas starts transparent, a frame is drawn
// over what is there or replaces its rectangle, and before the next frame its rectangle stays,
// is cleared to transparent, or is put back as it was before the frame. The toolkit's readers
// composite GIF and WebP themselves, differently (see GifReader and WebPReader), so they only
// decode single frames here. A file of these formats without animation reads as one frame.
//
// The file's bytes are shared, never copied. Frames are decoded on demand: asking for a later
// frame draws forward from the last one drawn; asking for an earlier one starts again from the
// first, unless it is among the few frames returned last, which are kept (setCacheFrames, and
// at most CacheBytes of them). Between calls the decoder holds those frames, its canvas and, while
// a frame that is put back shows, a copy of its rectangle: a long animation takes no more than
// a short one of the same size (heldBytes tells).
//
// Frame count, delays and loop count come from walking the file's blocks or chunks without
// decoding pixels; every offset, length and rectangle in them is checked against the bytes and
// the canvas, and the canvas must pass PictureFile::checkSize. A damaged file: frameCount()
// counts the frames whose data lies whole in the file, before the first block that fails a
// check, so that a file cut short plays the frames before the cut. A frame that is whole but
// still does not decode returns a null image, and so does every frame after it, since they are
// drawn over it; earlier frames keep decoding, and the broken one is not tried again. Counting
// only the frames that decode would need decoding all of them before the first is shown.
//
// Threads: a decoder is used by one thread at a time (the board decodes ahead on a worker); it
// shares no state, so distinct decoders may run on distinct threads at once.
class AnimationDecoder {
public:
    enum class Format { Unknown, Gif, WebP, Png };

    explicit AnimationDecoder(const QByteArray &bytes);
    ~AnimationDecoder();
    AnimationDecoder(const AnimationDecoder &) = delete;
    AnimationDecoder &operator=(const AnimationDecoder &) = delete;

    // A GIF with more than one image, a WebP with an animation chunk and more than one frame, a
    // PNG whose animation control precedes its image data and announces more than one frame.
    // Walks headers and chunks only, stopping as soon as the answer is known.
    static bool isAnimation(const QByteArray &bytes);

    // Delays this short play as DefaultDelay, as browsers play them: files made for old
    // browsers say 0 and mean "as fast as is sensible".
    static constexpr int ShortestDelay = 10;
    static constexpr int DefaultDelay = 100;
    // Frames kept for stepping back unless setCacheFrames says otherwise, and the most memory
    // they may take whatever the count: eight 4K canvases would be a quarter of a gigabyte.
    static constexpr int DefaultCacheFrames = 8;
    static constexpr qint64 CacheBytes = qint64(64) * 1024 * 1024;

    bool isValid() const;
    Format format() const { return m_format; }
    QSize size() const;
    int frameCount() const;
    // In milliseconds, with short delays played as DefaultDelay; 0 for an index out of range.
    int frameDelay(int index) const;
    // Repeats after the first play, -1 for ever, as QImageReader::loopCount counts them: GIF's
    // loop extension count as it stands, WebP's and PNG's play count less one.
    int loopCount() const;

    // The frame composited onto the canvas; null for an index out of range or a frame that does
    // not decode (see above).
    QImage frame(int index);

    void setCacheFrames(int count);
    int cacheFrames() const { return m_cacheFrames; }
    // The bytes of pixels the decoder holds between calls: the kept frames and the canvases.
    qint64 heldBytes() const;

private:
    bool drawNext();
    void restart();
    void remember(int index, const QImage &image);
    void trimCache();

    Format m_format = Format::Unknown;
    std::unique_ptr<AbstractAnimationReader> m_reader;

    // The canvas with frames up to m_position - 1 drawn, and what the last of them covered
    // when it is to be put back.
    int m_position = 0;
    QImage m_canvas;
    QImage m_saved;
    // The first frame that failed to decode; -1 while none has.
    int m_broken = -1;

    struct Cached {
        int index;
        QImage image;
    };
    // Most recently returned last.
    QVector<Cached> m_cache;
    int m_cacheFrames = DefaultCacheFrames;
};

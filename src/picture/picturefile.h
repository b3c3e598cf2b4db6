#pragma once

#include <QImage>
#include <QMetaType>
#include <QSize>
#include <QString>

class QByteArray;

// A picture file read into a picture as the program holds it. The functions are reentrant and
// may be called from any thread; loading blocks until the picture or the error is there.
class PictureFile {
public:
    struct LoadResult {
        // Refused: a picture the readers know, whose pixels would take more memory than a
        // picture may (maximumBytes); it is not decoded at all.
        enum Code { Loaded = 0, NotFound = 1, Unreadable = 2, Refused = 3 };
        int code = Loaded;
        QString message;
    };

    // Reads a picture file with every installed reader, trusting the content over the extension
    // when they disagree, in a decoder helper (DecoderPool). With original, also the file's
    // bytes when they decode to exactly these pixels (see DecoderPool::decodeFile).
    static LoadResult load(const QString &path, bool autoDownscale, const QSize &maxSize,
        QImage *image, QByteArray *original = nullptr);
    // Reduces a picture whose width or height exceeds its maximum, keeping the aspect ratio:
    // a picture at least as wide as high is brought to the maximum width, any other to the
    // maximum height.
    static QImage applyAutoDownscale(const QImage &image, bool autoDownscale, const QSize &maxSize);
    // Whether applyAutoDownscale reduces a picture of this size.
    static bool wouldDownscale(const QSize &size, bool autoDownscale, const QSize &maxSize);
    // The most memory the pixels of one picture may take in this process: what the toolkit's
    // images can address (2 GiB), half the machine's memory, and a third of the address space the
    // process has left under its limit (the pixels, a converted copy, the copy handed over).
    static qint64 maximumBytes();
    // Refused, with the reason, when a picture of this declared size may not be decoded here;
    // Loaded when it may, or when its size is not known before decoding.
    static LoadResult checkSize(const QSize &declared);

    // The pixel format pixmaps are drawn from, so that making the pixmap copies nothing.
    static QImage toDisplayFormat(QImage image);
};

Q_DECLARE_METATYPE(PictureFile::LoadResult)

#pragma once

#include "picture/picturefile.h"

#include <QByteArray>
#include <QImageReader>
#include <QSize>

class QIODevice;

// Decodes one picture with every installed reader, in the calling process: first as its format
// hint says, then, when that fails, by its content alone, since extensions lie. The result is
// turned upright, reduced when auto-downscale asks for it, and in the pixmap format. Used by the
// decoder helpers, and by the program itself for the toolkit's own formats and when no helper can
// be started.
class ImageDecoder {
public:
    enum Readers {
        AnyReader, // the hint's reader first, then whichever reads the content
        ThisFormatOnly, // the hint is the format: no other reader is asked
    };

    ImageDecoder(QIODevice *device, const QByteArray &formatHint, Readers readers = AnyReader);

    // The size the picture says it has, when its reader can tell before decoding; else empty.
    QSize declaredSize();
    // The format it will be decoded in, when its reader can tell; else Format_Invalid.
    QImage::Format declaredFormat();

    // When image holds a picture of the declared size and format on entry, readers that can
    // decode into it; whether one did shows in where the result's pixels are.
    PictureFile::LoadResult read(bool autoDownscale, const QSize &maxSize, QImage *image);
    // After a read: whether the picture is what its bytes hold, neither turned upright nor
    // reduced, so that decoding the same bytes again gives the same pixels.
    bool isAsStored() const { return m_asStored; }

private:
    // Memory for the picture in huge pages, for readers that fill a picture they are given.
    QImage emptyPicture();
    bool readOwnPng(QImage *image);

    QIODevice *m_device;
    QImageReader m_reader;
    // The size a reader of the content found in the header, for formats whose own reader
    // decodes to tell it; invalid otherwise.
    QSize m_headerSize;
    Readers m_readers;
    bool m_asStored = false;
};

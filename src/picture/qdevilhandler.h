#pragma once

#include <QImage>
#include <QImageIOHandler>

class QMutex;

// Decodes one image with DevIL. DevIL keeps one bound image per process and is not reentrant, so
// every DevIL call of every handler runs under one process-wide mutex; toolkit-native formats
// keep decoding in parallel on other threads.
//
// DevIL cannot tell an image's size without decoding it, so the first question about the image
// decodes it and the handler keeps DevIL's pixels until they are read: a caller that knows the
// size and format beforehand can hand in memory of its own, and the pixels are converted into it
// in one pass.
class QDevilHandler : public QImageIOHandler {
public:
    ~QDevilHandler() override;

    bool canRead() const override;
    bool read(QImage *image) override;
    bool supportsOption(ImageOption option) const override;
    QVariant option(ImageOption option) const override;

    static QMutex &devilMutex();

private:
    bool decode() const;
    bool load() const;
    void release() const;

    // DevIL's name of the decoded image, 0 before decoding and after release.
    mutable unsigned m_name = 0;
    mutable bool m_decoded = false;
    mutable bool m_failed = false;
    mutable QSize m_size;
    mutable QImage::Format m_format = QImage::Format_Invalid;
    // DevIL's pixels as the toolkit sees them.
    mutable QImage::Format m_viewFormat = QImage::Format_Invalid;
    mutable int m_bytesPerPixel = 0;
};

#pragma once

#include <QImageIOHandler>

class QMutex;

// Decodes one image with DevIL. DevIL keeps one bound image per process and is not reentrant, so
// every DevIL call of every handler runs under one process-wide mutex; toolkit-native formats
// keep decoding in parallel on other threads.
class QDevilHandler : public QImageIOHandler {
public:
    bool canRead() const override;
    bool read(QImage *image) override;

    static QMutex &devilMutex();
};

#pragma once

#include "scene/graphicsimagegenerator.h"

#include <QRunnable>

// Makes the grey variant of a picture with integer weights close to 0.34 r + 0.5 g + 0.16 b.
// Each pixel keeps its alpha; on premultiplied pixels the grey value never exceeds the alpha, so
// the result stays valid premultiplied data.
class GraphicsImageGrayScaleGenerator : public GraphicsImageGenerator, public QRunnable {
    Q_OBJECT

public:
    explicit GraphicsImageGrayScaleGenerator(GraphicsImageItem *owner);

    void run() override;

    // GUI thread, in state Done: hands the grey image over; the job keeps none.
    QImage takeResult();

    static QImage toGrayscale(const QImage &image);

protected:
    void clearResult() override;

private:
    QImage m_result;
};

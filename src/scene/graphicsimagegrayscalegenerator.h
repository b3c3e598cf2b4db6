#pragma once

#include "scene/graphicsimagegenerator.h"

#include <functional>

// Makes the grey variant of a picture with integer weights close to 0.34 r + 0.5 g + 0.16 b.
// Each pixel keeps its alpha; on premultiplied pixels the grey value never exceeds the alpha, so
// the result stays valid premultiplied data.
class GraphicsImageGrayScaleGenerator : public GraphicsImageGenerator {
    Q_OBJECT

public:
    void run() override;

    // GUI thread, in state Done: hands the grey image over; the job keeps none.
    QImage takeResult();

    // A null image when stop, asked before each line, returns true.
    static QImage toGrayscale(
        const QImage &image, const std::function<bool()> &stop = std::function<bool()>());

private:
    QImage m_result;
};

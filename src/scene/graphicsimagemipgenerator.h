#pragma once

#include "scene/graphicsimagegenerator.h"

#include <QList>
#include <QSize>

// Makes up to three reduced copies of a picture, largest first, each 1.5 times the size it is
// drawn at so that it stays sharp: for the factors 0.4, 0.15 and 0.05 of the full size. Each
// level is scaled from the previous one; no level is made from a copy narrower or lower than
// 10 pixels.
class GraphicsImageMipGenerator : public GraphicsImageGenerator {
    Q_OBJECT

public:
    void run() override;

    // GUI thread, in state Done: hands the levels over; the job keeps none.
    QList<QImage> takeLevels();

private:
    QList<QImage> m_levels;
};

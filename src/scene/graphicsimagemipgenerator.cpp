#include "graphicsimagemipgenerator.h"

#include "picture/picture.h"

void GraphicsImageMipGenerator::run()
{
    if (!beginRun())
        return;
    QImage current = m_source;
    const QSize pictureSize = m_source.size();
    for (float factor : Picture::LevelFactors) {
        // One level is the longest a cancelled run goes on.
        if (isCanceled())
            break;
        if (current.width() < 10 || current.height() < 10)
            break;
        // Premultiplied is what the raster engine blends fastest; a level is drawn on every
        // repaint, so converting a small copy once pays off at once.
        current = current
                      .scaled(Picture::levelSize(pictureSize, factor), Qt::KeepAspectRatio,
                          Qt::SmoothTransformation)
                      .convertToFormat(QImage::Format_ARGB32_Premultiplied);
        m_levels.append(current);
    }
    endRun();
}

QList<QImage> GraphicsImageMipGenerator::takeLevels()
{
    Q_ASSERT(state() == Done);
    QList<QImage> levels;
    levels.swap(m_levels);
    return levels;
}

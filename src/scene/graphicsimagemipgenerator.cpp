#include "graphicsimagemipgenerator.h"

#include <cmath>

const float GraphicsImageMipGenerator::LevelFactors[3] = { 0.4f, 0.15f, 0.05f };

QSize GraphicsImageMipGenerator::levelSize(const QSize &pictureSize, float factor)
{
    // std::lround rounds halves away from zero: 7.5 pixels become 8.
    const auto scaled = [factor](int length) {
        return int(std::lround(double(std::lround(length * double(factor))) * 1.5));
    };
    return QSize(scaled(pictureSize.width()), scaled(pictureSize.height()));
}

void GraphicsImageMipGenerator::run()
{
    if (!beginRun())
        return;
    QImage current = m_source;
    const QSize pictureSize = m_source.size();
    for (float factor : LevelFactors) {
        // One level is the longest a cancelled run goes on.
        if (isCanceled())
            break;
        if (current.width() < 10 || current.height() < 10)
            break;
        // Premultiplied is what the raster engine blends fastest; a level is drawn on every
        // repaint, so converting a small copy once pays off at once.
        current = current
                      .scaled(levelSize(pictureSize, factor), Qt::KeepAspectRatio,
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

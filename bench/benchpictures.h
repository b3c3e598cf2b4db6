#pragma once

// Pictures the benchmarks generate: smooth light, optional hard-edged shapes and mild sensor
// noise, what photos are made of (neither flat colour nor pure noise).

#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>

inline QImage photoLike(int width, int height, quint32 seed, int shapes = 12, int noise = 2)
{
    QRandomGenerator random(seed);
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, width, height);
    sky.setColorAt(0, QColor::fromHsv(int(random.bounded(360)), 120, 230));
    sky.setColorAt(1, QColor::fromHsv(int(random.bounded(360)), 200, 60));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < shapes; ++i) {
        painter.setBrush(QColor::fromHsv(int(random.bounded(360)), 180, 220, 160));
        painter.drawEllipse(QPointF(random.bounded(width), random.bounded(height)),
            50 + random.bounded(width / 4), 50 + random.bounded(height / 4));
    }
    painter.end();
    for (int y = 0; y < height; ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int delta = int(random.bounded(2 * noise + 1)) - noise;
            row[x] = qRgb(qBound(0, qRed(row[x]) + delta, 255),
                qBound(0, qGreen(row[x]) + delta, 255), qBound(0, qBlue(row[x]) + delta, 255));
        }
    }
    return image;
}

inline QImage photoLike(int side, quint32 seed, int shapes = 12, int noise = 2)
{
    return photoLike(side, side, seed, shapes, noise);
}

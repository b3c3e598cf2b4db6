#include "scene/graphicsimagescreencache.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

// The screen copy must never show anything but what drawing the level directly shows: not at a
// sub-pixel offset, not after a pan, not after the level changed, not after eviction.
class TestGraphicsImageScreenCache : public QObject {
    Q_OBJECT

private slots:
    void drawsLikeDirectPainting_data();
    void drawsLikeDirectPainting();
    void followsChanges();
};

namespace {

QPixmap pattern(int width, int height, int seed)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(
                x, y, qRgb((x * 7 + seed) & 0xff, (y * 5 + seed * 3) & 0xff, (x ^ y) & 0xff));
    }
    return QPixmap::fromImage(image);
}

// The filter steps through the picture in fixed point from where each span starts, so a span
// that starts elsewhere (at the copy's edge instead of the clip's) may round a channel apart by
// a level or three. A misplaced copy differs by far more on this pattern.
bool similar(const QImage &actual, const QImage &expected)
{
    int worst = 0;
    for (int y = 0; y < actual.height(); ++y) {
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            worst = std::max({ worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                std::abs(qBlue(a) - qBlue(b)) });
        }
    }
    if (worst > 3)
        qWarning("pixels differ by up to %d", worst);
    return worst <= 3;
}

struct Setup {
    QTransform transform;
    QPoint viewportOffset;
    qreal opacity = 1;
    QPainterPath clip;
    bool smooth = true;
};

QImage paint(const Setup &setup, const QPixmap &source, GraphicsImageScreenCache *cache)
{
    QImage canvas(160, 120, QImage::Format_ARGB32_Premultiplied);
    canvas.fill(qRgb(40, 50, 60));
    QPainter painter(&canvas);
    if (!setup.viewportOffset.isNull()) {
        painter.setViewport(QRect(setup.viewportOffset, canvas.size()));
        painter.setWindow(canvas.rect());
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, setup.smooth);
    painter.setOpacity(setup.opacity);
    if (!setup.clip.isEmpty())
        painter.setClipPath(setup.clip);
    painter.setTransform(setup.transform);
    const QRect target(0, 0, 1000, 800);
    if (cache)
        cache->draw(&painter, target, source);
    else
        painter.drawPixmap(target, source);
    return canvas;
}

} // namespace

Q_DECLARE_METATYPE(Setup)

void TestGraphicsImageScreenCache::drawsLikeDirectPainting_data()
{
    QTest::addColumn<Setup>("setup");

    const QTransform small = QTransform::fromScale(0.1, 0.1);
    QTest::addRow("whole-pixel offset")
        << Setup { small * QTransform::fromTranslate(10, 12), {}, 1, {}, true };
    QTest::addRow("sub-pixel offset")
        << Setup { small * QTransform::fromTranslate(10.37, 12.81), {}, 1, {}, true };
    QTest::addRow("negative offset, partly outside")
        << Setup { small * QTransform::fromTranslate(-30.5, -9.25), {}, 1, {}, true };
    QTest::addRow("flipped") << Setup {
        QTransform::fromScale(-0.1, 0.1) * QTransform::fromTranslate(130.4, 5), {}, 1, {}, true
    };
    QTest::addRow("unequal axes") << Setup {
        QTransform::fromScale(0.13, 0.07) * QTransform::fromTranslate(3.3, 4.6), {}, 1, {}, true
    };
    QTest::addRow("no smoothing") << Setup { small * QTransform::fromTranslate(10.5, 12.5), {}, 1,
        {}, false };
    QTest::addRow("translucent") << Setup { small * QTransform::fromTranslate(10.37, 12.81), {},
        0.4, {}, true };
    QPainterPath ellipse;
    ellipse.addEllipse(QRectF(20, 10, 70, 50));
    QTest::addRow("clipped by a path")
        << Setup { small * QTransform::fromTranslate(10.37, 12.81), {}, 1, ellipse, true };
    QTest::addRow("widget offset in its window")
        << Setup { small * QTransform::fromTranslate(10.37, 12.81), QPoint(5, 7), 1, {}, true };
    QTest::addRow("rotated, drawn directly")
        << Setup { small * QTransform().rotate(30) * QTransform::fromTranslate(60, 10), {}, 1, {},
               true };
}

void TestGraphicsImageScreenCache::drawsLikeDirectPainting()
{
    QFETCH(Setup, setup);
    const QPixmap level = pattern(300, 240, 1);
    const QImage expected = paint(setup, level, nullptr);
    GraphicsImageScreenCache cache;
    // The first draw records the placement, the second makes the copy, the third reuses it.
    for (int round = 0; round < 3; ++round)
        QVERIFY(similar(paint(setup, level, &cache), expected));
}

void TestGraphicsImageScreenCache::followsChanges()
{
    const QPixmap first = pattern(300, 240, 1);
    const QPixmap second = pattern(300, 240, 100);
    Setup setup { QTransform::fromScale(0.1, 0.1) * QTransform::fromTranslate(10.37, 12.81), {}, 1,
        {}, true };
    GraphicsImageScreenCache cache;
    for (int round = 0; round < 3; ++round)
        paint(setup, first, &cache);

    // Panning by whole pixels keeps the sub-pixel offset: the same copy, moved.
    setup.transform *= QTransform::fromTranslate(17, -4);
    QVERIFY(similar(paint(setup, first, &cache), paint(setup, first, nullptr)));
    QVERIFY(similar(paint(setup, first, &cache), paint(setup, first, nullptr)));

    // A new level (levels rebuilt, grey turned on) is never hidden behind the old copy.
    QVERIFY(similar(paint(setup, second, &cache), paint(setup, second, nullptr)));
    QVERIFY(similar(paint(setup, second, &cache), paint(setup, second, nullptr)));

    // A zoom step, then the copy evicted.
    setup.transform = QTransform::fromScale(0.11, 0.11) * QTransform::fromTranslate(2.2, 3.1);
    for (int round = 0; round < 2; ++round)
        QVERIFY(similar(paint(setup, second, &cache), paint(setup, second, nullptr)));
    GraphicsImageScreenCache::clearAll();
    QVERIFY(similar(paint(setup, second, &cache), paint(setup, second, nullptr)));
}

QTEST_MAIN(TestGraphicsImageScreenCache)
#include "tst_graphicsimagescreencache.moc"

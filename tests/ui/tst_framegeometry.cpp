#include "ui/framegeometry.h"

#include <QTest>

using namespace FrameGeometry;

namespace {

// Edges as flags, Left | Top, so that the rows read as what the user grabs.
enum { Left = 1, Right = 2, Top = 4, Bottom = 8 };

int flagsOf(const Edges &edges)
{
    return edges.left * Left | edges.right * Right | edges.top * Top | edges.bottom * Bottom;
}

} // namespace

class tst_FrameGeometry : public QObject {
    Q_OBJECT

private slots:
    void conversions_data();
    void conversions();
    void screenForRect_data();
    void screenForRect();
    void edgesAndCursor_data();
    void edgesAndCursor();
    void resizedRect_data();
    void resizedRect();
    void resizedAboutCentre_data();
    void resizedAboutCentre();
    void keptOnScreens_data();
    void keptOnScreens();
};

void tst_FrameGeometry::conversions_data()
{
    QTest::addColumn<qreal>("factor");
    QTest::addColumn<QPoint>("origin");
    QTest::addColumn<QRect>("input");
    QTest::addColumn<QRect>("device");
    QTest::addColumn<QRect>("logical");
    const auto row = [](const char *name, qreal factor, QPoint origin, QRect input, QRect device,
                         QRect logical) {
        QTest::newRow(name) << factor << origin << input << device << logical;
    };
    // The size scales alone, not as the difference of two converted corners.
    row("after the origin, halves round up", 1.5, { 1000, 200 }, { 1001, 203, 101, 51 },
        { 1002, 205, 152, 77 }, { 1001, 202, 67, 34 });
    row("before the origin, halves round away from zero", 1.5, { 1000, 200 }, { 999, 197, 3, 1 },
        { 998, 195, 5, 2 }, { 999, 198, 2, 1 });
    row("factor 2, halves on the way back", 2.0, {}, { -3, 5, 3, 5 }, { -6, 10, 6, 10 },
        { -2, 3, 2, 3 });
}

void tst_FrameGeometry::conversions()
{
    QFETCH(qreal, factor);
    QFETCH(QPoint, origin);
    QFETCH(QRect, input);
    QFETCH(QRect, device);
    QFETCH(QRect, logical);
    const Scale scale { factor, origin };
    QCOMPARE(toDevice(input, scale), device);
    QCOMPARE(toLogical(input, scale), logical);
    QCOMPARE(toDevice(input.topLeft(), scale), device.topLeft());
    QCOMPARE(toLogical(input.topLeft(), scale), logical.topLeft());
}

void tst_FrameGeometry::screenForRect_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("expected");
    const auto row = [](const char *name, QRect rect, int current, int expected) {
        QTest::newRow(name) << rect << current << expected;
    };
    row("centre on current, an earlier screen also holds it", { 100, 100, 200, 200 }, 2, 2);
    row("centre on two others, the first wins", { 100, 100, 200, 200 }, 1, 0);
    row("centre below all, the last intersecting wins", { 900, 700, 200, 300 }, 0, 2);
    row("nowhere near, current", { 5000, 0, 10, 10 }, 1, 1);
}

void tst_FrameGeometry::screenForRect()
{
    QFETCH(QRect, rect);
    QFETCH(int, current);
    // The third screen mirrors the first.
    const QList<QRect> screens { QRect(0, 0, 1000, 800), QRect(1000, 0, 1000, 800),
        QRect(0, 0, 1000, 800) };
    QTEST(FrameGeometry::screenForRect(rect, screens, current), "expected");
}

void tst_FrameGeometry::edgesAndCursor_data()
{
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QPoint>("pointer");
    QTest::addColumn<int>("edges");
    QTest::addColumn<Qt::CursorShape>("cursor");
    // Border 8; left + width and top + height are both 500. The corners check that the ranges
    // start on the edge itself.
    const auto row = [](const char *name, QPoint pointer, int edges, Qt::CursorShape cursor,
                         QRect frame = { 100, 200, 400, 300 }) {
        QTest::newRow(name) << frame << pointer << edges << cursor;
    };
    row("border inside the left edge", { 108, 350 }, Left, Qt::SizeHorCursor);
    row("border + 1 inside the left edge", { 109, 350 }, 0, Qt::ArrowCursor);
    row("at left + width", { 500, 350 }, Right, Qt::SizeHorCursor);
    row("border below the top edge", { 300, 208 }, Top, Qt::SizeVerCursor);
    row("top-left corner", { 100, 200 }, Left | Top, Qt::SizeFDiagCursor);
    row("bottom-right corner", { 500, 500 }, Right | Bottom, Qt::SizeFDiagCursor);
    row("top-right corner", { 495, 205 }, Right | Top, Qt::SizeBDiagCursor);
    row("frame narrower than two borders: left and top win", { 105, 205 }, Left | Top,
        Qt::SizeFDiagCursor, { 100, 200, 10, 10 });
}

void tst_FrameGeometry::edgesAndCursor()
{
    QFETCH(QRect, frame);
    QFETCH(QPoint, pointer);
    const Edges edges = edgesAt(pointer, frame, 8);
    QTEST(flagsOf(edges), "edges");
    QTEST(cursorFor(edges), "cursor");
}

void tst_FrameGeometry::resizedRect_data()
{
    QTest::addColumn<int>("edges");
    QTest::addColumn<QPoint>("delta");
    QTest::addColumn<QRect>("expected");
    const auto row = [](const char *name, int edges, QPoint delta, QRect expected) {
        QTest::newRow(name) << edges << delta << expected;
    };
    // From (100, 100, 400, 300) with a minimum of 200 × 150.
    row("top-left inward", Left | Top, { 50, 40 }, { 150, 140, 350, 260 });
    row("top-left past the minimum: bottom-right stays", Left | Top, { 300, 250 },
        { 300, 250, 200, 150 });
    row("bottom-right outward", Right | Bottom, { 50, 60 }, { 100, 100, 450, 360 });
    row("bottom-right past the minimum", Right | Bottom, { -300, -250 }, { 100, 100, 200, 150 });
    row("left edge ignores the vertical drag", Left, { 30, 70 }, { 130, 100, 370, 300 });
    row("no edge", 0, { 30, 30 }, { 100, 100, 400, 300 });
}

void tst_FrameGeometry::resizedRect()
{
    QFETCH(int, edges);
    QFETCH(QPoint, delta);
    const Edges dragged { bool(edges & Left), bool(edges & Right), bool(edges & Top),
        bool(edges & Bottom) };
    const QRect start(100, 100, 400, 300);
    QTEST(FrameGeometry::resizedRect(start, delta, QSize(200, 150), dragged), "expected");
}

void tst_FrameGeometry::resizedAboutCentre_data()
{
    QTest::addColumn<QRect>("device");
    QTest::addColumn<QSize>("newSize");
    QTest::addColumn<QRect>("expected");
    QTest::addColumn<QPoint>("offset");
    const auto row
        = [](const char *name, QRect device, QSize newSize, QRect expected, QPoint offset) {
              QTest::newRow(name) << device << newSize << expected << offset;
          };
    // The offset starts at (-50, -20): the pointer is in the title strip.
    row("scale 1 to 1.5", { 100, 100, 400, 300 }, { 600, 450 }, { 0, 25, 600, 450 }, { -151, -96 });
    row("odd shrink truncates towards zero", { 0, 0, 602, 452 }, { 401, 301 },
        { 100, 75, 401, 301 }, { 51, 56 });
    row("equal scales leave the offset", { 10, 20, 400, 300 }, { 400, 300 }, { 10, 20, 400, 300 },
        { -50, -20 });
}

void tst_FrameGeometry::resizedAboutCentre()
{
    QFETCH(QRect, device);
    QFETCH(QSize, newSize);
    QPoint offset(-50, -20);
    QTEST(FrameGeometry::resizedAboutCentre(device, newSize, &offset), "expected");
    QTEST(offset, "offset");
    QTEST(FrameGeometry::resizedAboutCentre(device, newSize, nullptr), "expected");
}

void tst_FrameGeometry::keptOnScreens_data()
{
    QTest::addColumn<QList<QRect>>("available");
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<bool>("isDialog");
    QTest::addColumn<QPoint>("expected");
    const auto row = [](const char *name, const QList<QRect> &available, QRect frame, bool isDialog,
                         QPoint expected) {
        QTest::newRow(name) << available << frame << isDialog << expected;
    };
    const QList<QRect> one { QRect(0, 0, 1920, 1080) };
    const QList<QRect> two { QRect(0, 0, 1920, 1080), QRect(1920, 0, 1920, 1080) };
    // The second screen is shorter: the union has a notch below it.
    const QList<QRect> ell { QRect(0, 0, 2560, 1440), QRect(2560, 0, 1280, 1024) };
    const QList<QRect> gap { QRect(0, 0, 1920, 1080), QRect(2020, 0, 1920, 1080) };
    const bool dialog = true, main = false;

    row("dialog across two screens, corners on the seam", two, { 1910, 100, 800, 600 }, dialog,
        { 1910, 100 });
    row("main window hanging off the right", one, { 1700, 100, 800, 600 }, main, { 1700, 100 });
    row("dialog hanging off the right", one, { 1700, 100, 800, 600 }, dialog, { 1120, 100 });
    row("dialog hanging off the bottom-left", one, { -300, 900, 800, 600 }, dialog, { 0, 480 });
    // A corner of the shrunk frame on the outline of the screens is off them, on either side.
    row("dialog 9 px off the left", one, { -9, 100, 800, 600 }, dialog, { -9, 100 });
    row("dialog 10 px off the left", one, { -10, 100, 800, 600 }, dialog, { 0, 100 });
    row("dialog 10 px off the right", one, { 1130, 100, 800, 600 }, dialog, { 1120, 100 });
    row("dialog taller than the screens", one, { 100, -100, 800, 1400 }, dialog, { 100, -100 });

    row("right of the screens", one, { 2500, 200, 800, 600 }, main, { 1120, 200 });
    row("left of the screens", one, { -1500, 200, 800, 600 }, main, { 0, 200 });
    row("above the screens", one, { 300, -1500, 800, 600 }, main, { 300, 0 });
    row("below the screens", one, { 300, 2000, 800, 600 }, main, { 300, 480 });
    row("right, sharing few rows: pulled in on both axes", one, { 2100, 1060, 300, 200 }, main,
        { 1620, 880 });
    row("beyond the bottom-right corner", one, { 2500, 2000, 800, 600 }, main, { 1120, 480 });
    row("beyond the second screen's top-right corner", two, { 4000, -900, 800, 600 }, main,
        { 3040, 0 });
    row("in the notch, the screen above nearer", ell, { 2700, 1100, 800, 300 }, main,
        { 2700, 724 });
    row("in the notch, the screen beside nearer", ell, { 2580, 1300, 300, 100 }, main,
        { 2260, 1300 });
    row("dialog across the gap between screens", gap, { 1800, 100, 400, 600 }, dialog,
        { 1800, 100 });
    row("inside the gap, the screen to the right first", gap, { 1925, 100, 80, 600 }, main,
        { 2020, 100 });
    row("no screens", {}, { 10, 10, 100, 100 }, main, { 10, 10 });
}

void tst_FrameGeometry::keptOnScreens()
{
    QFETCH(QList<QRect>, available);
    QFETCH(QRect, frame);
    QFETCH(bool, isDialog);
    QFETCH(QPoint, expected);
    QCOMPARE(FrameGeometry::keptOnScreens(frame, available, isDialog), expected);
    // Where the window was put it stays: checking again must not move it on.
    const QRect placed(expected, frame.size());
    QCOMPARE(FrameGeometry::keptOnScreens(placed, available, isDialog), expected);
}

QTEST_GUILESS_MAIN(tst_FrameGeometry)
#include "tst_framegeometry.moc"

#include "ui/popuplabel.h"
#include "ui/popuplabelcontent.h"

#include <QFontMetrics>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// The label's clock is driven by calling tick() directly: one call is 10 ms. Every test gets a
// 1000 x 500 frame with a label in it.
class tst_PopupLabel : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sequencing_data();
    void sequencing();
    void repeatedQueuedNotice_data();
    void repeatedQueuedNotice();
    void untimedNotice_data();
    void untimedNotice();
    void suppressionAndClear();
    void geometry_data();
    void geometry();
    void svgRecolouring_data();
    void svgRecolouring();
    void iconDrawing_data();
    void iconDrawing();

private:
    void show(const QString &category, const QString &heading, int duration,
        const QString &binding = "Ctrl+T", const QString &icon = QString())
    {
        m_label->showNotice(category, heading, binding, icon, duration);
    }
    // Ticks until the heading on display changes; the number of ticks that took, or -1.
    int ticksUntilReplaced()
    {
        const QString heading = m_label->heading();
        for (int ticks = 1; ticks <= 1000; ++ticks) {
            m_label->tick();
            if (m_label->heading() != heading)
                return ticks;
        }
        return -1;
    }

    std::unique_ptr<QWidget> m_frame;
    PopupLabel *m_label = nullptr;
};

void tst_PopupLabel::init()
{
    m_frame = std::make_unique<QWidget>();
    m_frame->resize(1000, 500);
    m_label = new PopupLabel(m_frame.get());
}

void tst_PopupLabel::cleanup()
{
    m_frame.reset();
}

void tst_PopupLabel::sequencing_data()
{
    QTest::addColumn<QString>("category");
    QTest::addColumn<int>("ticksBefore");
    QTest::addColumn<qreal>("opacityBefore");
    QTest::addColumn<int>("waitingTicks");

    // A 2000 ms notice is fully visible for 170 ticks and fades over the last 30.
    QTest::addRow("same category within a second") << "window" << 50 << 0.99 << 0;
    QTest::addRow("same category while fading") << "window" << 185 << 0.49 << 0;
    QTest::addRow("other category waits for the fade") << "zoom" << 170 << 0.99 << 30;
    QTest::addRow("other category arriving while fading") << "zoom" << 185 << 0.49 << 15;
}

void tst_PopupLabel::sequencing()
{
    QFETCH(QString, category);
    QFETCH(int, ticksBefore);
    QFETCH(qreal, opacityBefore);
    QFETCH(int, waitingTicks);

    show("window", "Always on top", 2000);
    for (int i = 0; i < ticksBefore; ++i)
        m_label->tick();
    QCOMPARE(m_label->opacity(), opacityBefore);
    show(category, "Zoom", 2000, "Ctrl+Wheel");
    QCOMPARE(m_label->queuedCount(), waitingTicks ? 1 : 0);
    QCOMPARE(waitingTicks ? ticksUntilReplaced() : 0, waitingTicks);
    QCOMPARE(m_label->heading(), "Zoom");
    QCOMPARE(m_label->remainingTime(), 2000);
    QCOMPARE(m_label->opacity(), 0.99);
    QCOMPARE(m_label->queuedCount(), 0);
    QVERIFY(m_label->isRunning());
}

void tst_PopupLabel::repeatedQueuedNotice_data()
{
    QTest::addColumn<QString>("heading");
    QTest::addColumn<QString>("binding");
    QTest::addColumn<int>("queued");
    QTest::addColumn<int>("nextDuration");

    QTest::addRow("same heading and binding") << "Zoom" << QString("Ctrl+Wheel") << 1 << 1000;
    QTest::addRow("other binding") << "Zoom" << QString("Ctrl+Plus") << 2 << 2000;
    QTest::addRow("other heading") << "Zoom in" << QString("Ctrl+Wheel") << 2 << 2000;
}

void tst_PopupLabel::repeatedQueuedNotice()
{
    QFETCH(QString, heading);
    QFETCH(QString, binding);
    QFETCH(int, queued);
    QFETCH(int, nextDuration);

    show("window", "Always on top", 2000);
    show("zoom", "Zoom", 2000, "Ctrl+Wheel");
    show("zoom", heading, 1000, binding);
    QCOMPARE(m_label->queuedCount(), queued);
    QVERIFY(ticksUntilReplaced() > 0);
    QCOMPARE(m_label->heading(), "Zoom");
    QCOMPARE(m_label->remainingTime(), nextDuration);
}

void tst_PopupLabel::untimedNotice_data()
{
    QTest::addColumn<bool>("timedFirst");
    QTest::addColumn<bool>("followed");
    QTest::addColumn<QString>("shown");

    QTest::addRow("alone, stays until replaced") << false << false << "Recording";
    QTest::addRow("last queued, stays until replaced") << true << false << "Recording";
    QTest::addRow("dropped when another follows") << true << true << "Zoom";
}

void tst_PopupLabel::untimedNotice()
{
    QFETCH(bool, timedFirst);
    QFETCH(bool, followed);
    QFETCH(QString, shown);

    if (timedFirst)
        show("window", "Always on top", 2000);
    show("status", "Recording", -1, QString());
    if (followed)
        show("zoom", "Zoom", 2000, "Ctrl+Wheel");
    if (timedFirst)
        QVERIFY(ticksUntilReplaced() > 0);
    QCOMPARE(m_label->heading(), shown);
    QCOMPARE(m_label->queuedCount(), 0);
    QCOMPARE(m_label->isRunning(), followed);
    if (followed)
        return;
    for (int i = 0; i < 1000; ++i)
        m_label->tick();
    QCOMPARE(m_label->heading(), "Recording");
    QCOMPARE(m_label->opacity(), 0.99);
    // Nothing timed is on display, so another category does not have to wait.
    show("zoom", "Zoom", 2000, "Ctrl+Wheel");
    QCOMPARE(m_label->heading(), "Zoom");
}

void tst_PopupLabel::suppressionAndClear()
{
    m_label->setSuppressed(true);
    show("window", "Always on top", 2000);
    m_label->tick();
    QVERIFY(m_label->isHidden());
    QVERIFY(!m_label->isRunning());
    QCOMPARE(m_label->queuedCount(), 1);

    m_label->setSuppressed(false);
    QCOMPARE(m_label->heading(), "Always on top");
    QVERIFY(!m_label->isHidden());
    m_label->setSuppressed(true);
    QVERIFY(m_label->isHidden());
    QVERIFY(m_label->heading().isEmpty());

    m_label->setSuppressed(false);
    show("window", "Always on top", 2000);
    show("zoom", "Zoom", 2000, "Ctrl+Wheel");
    m_label->clear();
    m_label->tick();
    QVERIFY(m_label->isHidden());
    QVERIFY(!m_label->isRunning());
    QCOMPARE(m_label->queuedCount(), 0);
}

void tst_PopupLabel::geometry_data()
{
    QTest::addColumn<QString>("styleSheet");
    QTest::addColumn<QSize>("frameSize");
    QTest::addColumn<int>("widthBesideText");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("margin");
    QTest::addColumn<QPoint>("centre");

    // 30 spacing + 2 * (15 padding + 10 margin) + 64 circle: texts 200 + 60 px wide give 404.
    // The centre is a fifth of the frame's height above its bottom, truncated.
    QTest::addRow("default metrics")
        << QString() << QSize(1000, 500) << 144 << 84 << 10 << QPoint(500, 400);
    QTest::addRow("odd frame truncates")
        << QString() << QSize(1001, 501) << 144 << 84 << 10 << QPoint(500, 400);
    QTest::addRow("metrics from a style sheet")
        << "PopupLabel { qproperty-labelSpacing: 10; qproperty-labelPadding: 5;"
           " qproperty-margin: 4; qproperty-iconCircleSize: 40; }"
        << QSize(300, 100) << 68 << 48 << 4 << QPoint(150, 80);
}

void tst_PopupLabel::geometry()
{
    QFETCH(QString, styleSheet);
    QFETCH(QSize, frameSize);
    QFETCH(int, widthBesideText);
    QFETCH(int, height);
    QFETCH(int, margin);
    QFETCH(QPoint, centre);

    m_frame->resize(frameSize);
    m_label->setStyleSheet(styleSheet);
    m_label->ensurePolished();
    m_frame->show();
    show("window", "Always on top", 2000);
    // Each text in the font it is drawn in: the heading bold, the binding plain.
    QFont bold = m_label->font();
    bold.setWeight(QFont::Bold);
    const int textWidth = QFontMetrics(bold).horizontalAdvance("Always on top")
        + QFontMetrics(m_label->font()).horizontalAdvance("Ctrl+T");
    QCOMPARE(m_label->size(), QSize(widthBesideText + textWidth, height));
    QCOMPARE(m_label->geometry().center(), centre);
    const auto *content = m_label->findChild<PopupLabelContent *>();
    QCOMPARE(content->geometry(), m_label->rect() - QMargins(margin, margin, margin, margin));
}

void tst_PopupLabel::svgRecolouring_data()
{
    QTest::addColumn<QString>("svg");
    QTest::addColumn<QString>("expected");

    QTest::addRow("fill attribute") << QString("<a fill=\"#f00\"/>") << "<a fill=\"#123456\"/>";
    QTest::addRow("stroke in single quotes")
        << QString("<a stroke='red'/>") << "<a stroke='#123456'/>";
    QTest::addRow("none kept") << QString("<a fill=\"none\" stroke=\"red\"/>")
                               << "<a fill=\"none\" stroke=\"#123456\"/>";
    QTest::addRow("style attribute")
        << QString("<a style=\"fill:red;stroke-width:2;stroke: blue\"/>")
        << "<a style=\"fill:#123456;stroke-width:2;stroke: #123456\"/>";
    QTest::addRow("none kept in a style")
        << QString("<a style='fill:none;stroke:#000'/>") << "<a style='fill:none;stroke:#123456'/>";
    const char *lookAlikes = "<a fill-opacity=\"1\" stroke-width=\"2\" data-fill=\"x\"/>";
    QTest::addRow("look-alike names untouched") << lookAlikes << lookAlikes;
}

void tst_PopupLabel::svgRecolouring()
{
    QFETCH(QString, svg);
    QFETCH(QString, expected);

    const QByteArray recoloured = PopupLabelContent::recolouredSvg(svg.toUtf8(), "#123456");
    QCOMPARE(QString::fromUtf8(recoloured), expected);
}

void tst_PopupLabel::iconDrawing_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QColor>("centre");
    QTest::addColumn<QColor>("surround");

    const QColor white(Qt::white);
    QTest::addRow("svg recoloured") << "icon.svg" << QColor(Qt::blue) << white;
    QTest::addRow("raster tinted") << "icon.png" << QColor(Qt::blue) << QColor(127, 127, 255);
    QTest::addRow("missing file leaves the circle empty") << "missing.png" << white << white;
}

void tst_PopupLabel::iconDrawing()
{
    QFETCH(QString, file);
    QFETCH(QColor, centre);
    QFETCH(QColor, surround);

    // Both icons are a square in the middle of a lighter surround: clear in the SVG, half
    // transparent white in the raster one, which must tint to half the text colour and not to
    // an opaque block.
    QTemporaryDir dir;
    QFile svg(dir.filePath("icon.svg"));
    QVERIFY(svg.open(QIODevice::WriteOnly));
    svg.write(R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">)"
              R"(<rect x="4" y="4" width="8" height="8" fill="#ff0000"/></svg>)");
    svg.close();
    // At the icon's own size (38 px), so that no scaling premultiplies the surround away.
    QImage png(38, 38, QImage::Format_ARGB32);
    png.fill(QColor(255, 255, 255, 128));
    for (int y = 9; y < 29; ++y)
        for (int x = 9; x < 29; ++x)
            png.setPixelColor(x, y, Qt::white);
    QVERIFY(png.save(dir.filePath("icon.png")));

    QPalette palette = m_label->palette();
    palette.setColor(QPalette::WindowText, Qt::blue);
    m_label->setPalette(palette);
    m_label->setBackgroundColor(Qt::white);
    m_frame->show();
    show("window", "Always on top", 2000, "Ctrl+T", dir.filePath(file));
    // The icon circle is centred on (32, 32) of the 64 px high content, the icon's 38 px square
    // starts at (13, 13). The second paint comes from the icon cache, a missing file included.
    auto *content = m_label->findChild<PopupLabelContent *>();
    for (int i = 0; i < 2; ++i) {
        const QImage image = content->grab().toImage();
        QCOMPARE(image.pixelColor(32, 32), centre);
        QCOMPARE(image.pixelColor(16, 16), surround);
    }
}

QTEST_MAIN(tst_PopupLabel)
#include "tst_popuplabel.moc"

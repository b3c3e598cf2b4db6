#include "../picture/gifwriting.h"
#include "export/itempicture.h"
#include "picture/picture.h"
#include "scene/animationplayer.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>
#include <QtTest>

// An animation on the board: which frame shows after playing, stepping and stopping, that it
// moves on only while painted, and that exports take the frame it shows.
class tst_AnimationPlayer : public QObject {
    Q_OBJECT

private slots:
    void steps_data();
    void steps();
    void playsOnlyWhilePainted();
    void exportsTheShownFrame();
    void damagedAnimationPlaysWhatDecodes();
};

namespace {

// Four frames of one solid colour each, told apart by their red.
constexpr int FrameCount = 4;

QImage solid(int index)
{
    QImage image(16, 12, QImage::Format_RGB32);
    image.fill(qRgb(40 + 60 * index, 200, 100));
    return image;
}

QByteArray animation(int delay = 2)
{
    QVector<QImage> frames;
    for (int i = 0; i < FrameCount; ++i)
        frames.append(solid(i));
    return gifOf(frames, delay);
}

// Which frame the item shows, told by the red of its pixels; -1 for none.
int shownIndex(const QImage &image)
{
    if (image.isNull())
        return -1;
    return (qRed(image.pixel(image.width() / 2, image.height() / 2)) - 40 + 30) / 60;
}

struct Board {
    explicit Board(const QByteArray &bytes)
    {
        QBuffer buffer;
        buffer.setData(bytes);
        QImageReader reader(&buffer, "gif");
        item = new GraphicsImageItem(Picture::fromPixels(reader.read()), {}, {}, {});
        scene.addItem(item);
        item->setOriginal(bytes);
    }

    // Paints the scene as a view would, which lets a playing animation move on.
    void paint()
    {
        QImage target(32, 32, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&target);
        scene.render(&painter, QRectF(), item->sceneBoundingRect());
    }

    int frameShown()
    {
        AnimationPlayer *player = item->animation();
        if (!QTest::qWaitFor([player] { return player->isIdle(); }))
            return -2;
        return player->showsCurrentFrame() ? shownIndex(player->currentImage()) : -1;
    }

    GraphicsScene scene { nullptr, nullptr };
    GraphicsImageItem *item;
};

} // namespace

void tst_AnimationPlayer::steps_data()
{
    QTest::addColumn<QString>("actions");
    QTest::addColumn<int>("frame");

    QTest::addRow("opens on the first frame") << "" << 0;
    QTest::addRow("one step") << "+" << 1;
    QTest::addRow("steps forward") << "+++" << 3;
    QTest::addRow("forward wraps to the first") << "++++" << 0;
    QTest::addRow("back from the first wraps to the last") << "-" << 3;
    QTest::addRow("back and forth") << "++-+-" << 1;
    QTest::addRow("first frame after steps") << "++0" << 0;
    QTest::addRow("steps asked faster than they decode") << "+++++++" << 3;
}

void tst_AnimationPlayer::steps()
{
    QFETCH(QString, actions);
    QFETCH(int, frame);

    Board board(animation());
    AnimationPlayer *player = board.item->animation();
    QVERIFY(player);
    QCOMPARE(player->frameCount(), FrameCount);
    player->setPlaying(false);
    for (const QChar action : actions) {
        if (action == QLatin1Char('+'))
            player->step(1);
        else if (action == QLatin1Char('-'))
            player->step(-1);
        else
            player->showFirstFrame();
    }
    QCOMPARE(player->currentFrame(), frame);
    QCOMPARE(board.frameShown(), frame);
    QVERIFY(!player->playback().playing);
    QCOMPARE(board.item->playback()->frame, frame);
}

void tst_AnimationPlayer::playsOnlyWhilePainted()
{
    Board board(animation());
    AnimationPlayer *player = board.item->animation();
    QCOMPARE(board.frameShown(), 0);
    // Never painted, the animation stays where it is however long it waits.
    QTest::qWait(50);
    QCOMPARE(player->currentFrame(), 0);

    // Painted, it goes through every frame and around again.
    QList<int> seen;
    QVERIFY(QTest::qWaitFor([&] {
        board.paint();
        if (player->showsCurrentFrame()
            && (seen.isEmpty() || seen.last() != player->currentFrame()))
            seen.append(player->currentFrame());
        return seen.size() > FrameCount;
    }));
    QCOMPARE(seen.mid(0, FrameCount + 1), (QList<int> { 0, 1, 2, 3, 0 }));

    // Not looping, it stops on its last frame.
    player->setLoops(false);
    QVERIFY(QTest::qWaitFor([&] {
        board.paint();
        return !player->playback().playing;
    }));
    QCOMPARE(player->currentFrame(), FrameCount - 1);
}

void tst_AnimationPlayer::exportsTheShownFrame()
{
    Board board(animation());
    AnimationPlayer *player = board.item->animation();
    player->setPlaying(false);
    for (int frame : { 2, 0, 3 }) {
        player->setPlayback({ frame, 1.0, false, true });
        QCOMPARE(board.frameShown(), frame);
        QCOMPARE(shownIndex(ItemPicture::of(board.item, true).paint()), frame);
        // Grey applies to the frame as to a still.
        board.item->setFilter(GraphicsImageItem::GrayscaleFilter);
        const QImage grey = ItemPicture::of(board.item, true).paint();
        const QRgb middle = grey.pixel(grey.width() / 2, grey.height() / 2);
        QCOMPARE(qRed(middle), qGreen(middle));
        board.item->setFilter(GraphicsImageItem::SmoothFilter);
    }
}

void tst_AnimationPlayer::damagedAnimationPlaysWhatDecodes()
{
    // Cut in the middle of the third frame's image data: two frames play.
    const QByteArray whole = animation();
    const QByteArray control("\x21\xf9\x04", 3);
    const int third
        = whole.indexOf(control, whole.indexOf(control, whole.indexOf(control) + 1) + 1);
    QVERIFY(third > 0);
    Board board(whole.left(third + 100));
    AnimationPlayer *player = board.item->animation();
    QVERIFY(player);
    QCOMPARE(player->frameCount(), 2);
    player->setPlaying(false);
    for (int step = 0; step < 5; ++step) {
        player->step(1);
        QCOMPARE(board.frameShown(), (step + 1) % 2);
    }
    // Opened from a board saved when the file was whole, the frame past the end is the last.
    player->setPlayback({ 3, 1.0, false, true });
    QCOMPARE(board.frameShown(), 1);
}

QTEST_MAIN(tst_AnimationPlayer)
#include "tst_animationplayer.moc"

// Playing an animated PNG of 1920x1080 whose frames after the first change a quarter of the
// canvas: the time a frame takes against decoding that frame's pixels alone (what drawing it on
// the canvas and keeping recent frames add), and the most memory the decoder holds, in canvases.
// Each time figure is the median of three plays.
//
// A board of 50 small GIFs (160 x 120, 12 frames at 20 frames a second) playing in a
// 1600 x 900 view: gifs_gui_thread_share is the processor time the GUI thread takes over the
// time they play, and gifs_frames_over_due the frames the animations showed over those their
// delays call for, which says that they played at all.
//
//   bench_animation

#include "benchmedian.h"
#include "benchpictures.h"

#include "../tests/picture/gifwriting.h"

#include "commands/commandhandler.h"
#include "picture/animationdecoder.h"
#include "picture/picture.h"
#include "picture/pngdecoder.h"
#include "picture/pngencoder.h"
#include "platform/platform.h"
#include "platform/workpools.h"
#include "scene/animationplayer.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "view/graphicsview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QTimer>
#include <QtEndian>

#include <cstdio>
#include <vector>

namespace {

const QSize Canvas(1920, 1080);
const int Frames = 60;

QByteArray be32(quint32 value)
{
    QByteArray out(4, '\0');
    qToBigEndian(value, out.data());
    return out;
}

// The decoder ignores checksums.
QByteArray chunk(const char *type, const QByteArray &body)
{
    return be32(quint32(body.size())) + QByteArray(type, 4) + body + be32(0);
}

QByteArray imageData(const QByteArray &png)
{
    QByteArray data;
    for (int at = 8; at + 12 <= png.size();) {
        const int length = int(qFromBigEndian<quint32>(png.constData() + at));
        if (png.mid(at + 4, 4) == "IDAT")
            data += png.mid(at + 8, length);
        at += length + 12;
    }
    return data;
}

QPoint placeOf(int index)
{
    return QPoint((index * 173) % (Canvas.width() / 2), (index * 97) % (Canvas.height() / 2));
}

// Each frame of the small GIFs shows for 5 hundredths of a second.
constexpr int GifDelay = 5;

QRect squareAt(int seed, int frame)
{
    return QRect(10 * frame, 10 + (seed * 13) % 80, 30, 30);
}

// A square of the animation's colour crossing a striped field, frame after frame: few colours,
// as GIFs have.
QByteArray smallGif(int seed)
{
    const QSize size(160, 120);
    QVector<QImage> frames;
    for (int i = 0; i < 12; ++i) {
        QImage frame(size, QImage::Format_RGB32);
        QPainter painter(&frame);
        for (int stripe = 0; stripe < size.width(); stripe += 20)
            painter.fillRect(stripe, 0, 10, size.height(), QColor(230, 230, 220 - stripe / 2));
        painter.fillRect(squareAt(seed, i), QColor::fromHsv((seed * 37) % 360, 200, 220));
        painter.end();
        frames.append(frame);
    }
    return gifOf(frames, GifDelay);
}

// The GUI thread's share of one core while the board plays, and the frames shown over those due.
bool playGifs(double *share, double *shownOverDue)
{
    constexpr int Count = 50;
    constexpr int WarmUpMilliseconds = 1000;
    constexpr int PlayMilliseconds = 5000;
    CommandHandler commands;
    GraphicsScene scene(nullptr, &commands);
    QList<AnimationPlayer *> players;
    for (int i = 0; i < Count; ++i) {
        const QByteArray bytes = smallGif(i);
        AnimationDecoder decoder(bytes);
        auto *item = new GraphicsImageItem(Picture::fromPixels(decoder.frame(0)), {}, {}, {});
        scene.addItem(item);
        item->setOriginal(bytes);
        item->setPos((i % 10) * 160, (i / 10) * 120);
        if (!item->animation())
            return false;
        players.append(item->animation());
    }
    GraphicsView view(&scene, &commands);
    view.resize(1600, 900);
    view.fitInView(scene.itemsBoundingRect(), Qt::KeepAspectRatio);
    view.show();

    // Every frame shown is counted once; a look every few milliseconds sees each of them.
    QVector<int> last(Count, -1);
    qint64 shown = 0;
    QTimer watch;
    watch.setInterval(5);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        for (int i = 0; i < Count; ++i) {
            const int frame = players.at(i)->currentFrame();
            shown += last.at(i) >= 0 && frame != last.at(i);
            last[i] = frame;
        }
    });
    watch.start();
    QEventLoop loop;
    QTimer::singleShot(WarmUpMilliseconds, &loop, &QEventLoop::quit);
    loop.exec();

    shown = 0;
    const double cpuBefore = Platform::threadCpuSeconds();
    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(PlayMilliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    const double seconds = timer.nsecsElapsed() / 1e9;
    *share = (Platform::threadCpuSeconds() - cpuBefore) / seconds;
    *shownOverDue = double(shown) / (Count * seconds / (GifDelay / 100.0));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    WorkPools::configure();

    const int level = PngEncoder::deflateLevel(PngEncoder::Fastest);
    QVector<QByteArray> streams;
    QByteArray first;
    PngEncoder::encode(photoLike(Canvas.width(), Canvas.height(), 1u), level, &first);
    streams.append(first);
    for (int i = 1; i < Frames; ++i) {
        QByteArray png;
        PngEncoder::encode(
            photoLike(Canvas.width() / 2, Canvas.height() / 2, quint32(i + 1)), level, &png);
        streams.append(png);
    }
    QByteArray apng = first.left(33);
    apng += chunk("acTL", be32(Frames) + be32(0));
    quint32 sequence = 0;
    for (int i = 0; i < Frames; ++i) {
        const QSize size = i == 0 ? Canvas : Canvas / 2;
        const QPoint at = i == 0 ? QPoint() : placeOf(i);
        apng += chunk("fcTL",
            be32(sequence++) + be32(quint32(size.width())) + be32(quint32(size.height()))
                + be32(quint32(at.x())) + be32(quint32(at.y())) + QByteArray("\0\1\0\x1e\0\0", 6));
        apng += i == 0 ? chunk("IDAT", imageData(streams.at(i)))
                       : chunk("fdAT", be32(sequence++) + imageData(streams.at(i)));
    }
    apng += chunk("IEND", QByteArray());

    std::vector<double> playTimes, decodeTimes;
    qint64 most = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer timer;
        timer.start();
        for (const QByteArray &png : qAsConst(streams)) {
            QImage image;
            PngDecoder::decode(
                reinterpret_cast<const uchar *>(png.constData()), png.size(), &image);
        }
        decodeTimes.push_back(double(timer.nsecsElapsed()) / 1e6 / Frames);

        AnimationDecoder decoder(apng);
        if (decoder.frameCount() != Frames) {
            std::fprintf(stderr, "the animation has %d frames\n", decoder.frameCount());
            return 1;
        }
        timer.start();
        for (int i = 0; i < Frames; ++i) {
            if (decoder.frame(i).isNull()) {
                std::fprintf(stderr, "frame %d does not decode\n", i);
                return 1;
            }
            most = qMax(most, decoder.heldBytes());
        }
        playTimes.push_back(double(timer.nsecsElapsed()) / 1e6 / Frames);
    }
    const double canvasBytes = double(Canvas.width()) * Canvas.height() * 4;
    std::printf("figure animation_frame_ms %.2f\n", median(playTimes));
    std::printf(
        "figure animation_frame_over_decode %.3f\n", median(playTimes) / median(decodeTimes));
    std::printf("figure animation_held_canvases %.2f\n", double(most) / canvasBytes);

    double share = 0;
    double shownOverDue = 0;
    if (!playGifs(&share, &shownOverDue)) {
        std::fprintf(stderr, "a GIF of the board does not play\n");
        return 1;
    }
    std::printf("figure gifs_gui_thread_share %.3f\n", share);
    std::printf("figure gifs_frames_over_due %.3f\n", shownOverDue);
    return 0;
}

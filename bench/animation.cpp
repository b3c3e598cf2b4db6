// Playing an animated PNG of 1920x1080 whose frames after the first change a quarter of the
// canvas: the time a frame takes against decoding that frame's pixels alone (what drawing it on
// the canvas and keeping recent frames add), and the most memory the decoder holds, in canvases.
//
//   bench_animation
//
// Each time figure is the median of three plays.

#include "benchmedian.h"
#include "benchpictures.h"

#include "picture/animationdecoder.h"
#include "picture/pngdecoder.h"
#include "picture/pngencoder.h"

#include <QElapsedTimer>
#include <QGuiApplication>
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

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);

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
    return 0;
}

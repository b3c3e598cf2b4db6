#include "animationwriting.h"
#include "picture/animationdecoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>
#include <QTest>
#include <QtEndian>

#include <functional>

// Animations are built here, byte by byte, with every disposal and blend the formats have; the
// expected frames come from a model of each format's rules drawn from the source frames, not from
// the decoder. GIF and WebP frames are also compared with the toolkit's reader read one by one.

namespace {

using namespace AnimationWriting;

// ---- GIF ----------------------------------------------------------------------------------------

struct GifFrame {
    QRect rect;
    // 1 none, 2 background, 3 previous.
    int disposal = 1;
    int transparent = -1;
    int delay = 10; // centiseconds
    // A colour table of its own (the global one reversed), rows stored in interlaced order.
    bool localTable = false;
    bool interlaced = false;
    QVector<uchar> pixels;
};

const int GifTransparent = 255;

QRgb gifColour(int index)
{
    static const QRgb colours[]
        = { qRgb(0, 0, 0), qRgb(220, 30, 30), qRgb(30, 200, 40), qRgb(40, 60, 230),
              qRgb(240, 230, 20), qRgb(255, 255, 255), qRgb(120, 40, 160), qRgb(10, 150, 150) };
    return index < 8 ? colours[index] : qRgb(index, 255 - index, index / 2);
}

// Stripes of colours with a transparent hole in the middle: disposal shows through the hole.
GifFrame gifFrame(const QRect &rect, int first, int disposal, bool hole, int delay = 10)
{
    GifFrame frame;
    frame.rect = rect;
    frame.disposal = disposal;
    frame.delay = delay;
    frame.transparent = hole ? GifTransparent : -1;
    for (int y = 0; y < rect.height(); ++y) {
        for (int x = 0; x < rect.width(); ++x) {
            const bool inHole = hole && x > rect.width() / 4 && x < rect.width() * 3 / 4
                && y > rect.height() / 4 && y < rect.height() * 3 / 4;
            frame.pixels.append(inHole ? GifTransparent : uchar(first + (x / 3 + y / 5) % 3));
        }
    }
    return frame;
}

// LZW with a clear code every 200 symbols: the table never reaches 512 entries, so every code
// has 9 bits. Larger than real encoders write, and what every decoder reads.
QByteArray gifImageData(const QVector<uchar> &pixels)
{
    QByteArray codes;
    quint32 bits = 0;
    int count = 0;
    auto put = [&](int code) {
        bits |= quint32(code) << count;
        count += 9;
        while (count >= 8) {
            codes.append(char(bits & 0xFF));
            bits >>= 8;
            count -= 8;
        }
    };
    for (int i = 0; i < pixels.size(); ++i) {
        if (i % 200 == 0)
            put(256);
        put(pixels.at(i));
    }
    put(257);
    if (count > 0)
        codes.append(char(bits & 0xFF));
    QByteArray blocks;
    blocks.append(char(8));
    for (int at = 0; at < codes.size(); at += 255) {
        const QByteArray block = codes.mid(at, 255);
        blocks.append(char(block.size()));
        blocks.append(block);
    }
    blocks.append(char(0));
    return blocks;
}

// loops: -1 writes no loop extension.
QByteArray encodeGif(const QSize &canvas, const QVector<GifFrame> &frames, int loops = 0)
{
    QByteArray gif("GIF89a");
    appendLe16(gif, canvas.width());
    appendLe16(gif, canvas.height());
    gif.append(char(0xF7));
    gif.append(char(0));
    gif.append(char(0));
    for (int i = 0; i < 256; ++i) {
        const QRgb colour = gifColour(i);
        gif.append(char(qRed(colour)));
        gif.append(char(qGreen(colour)));
        gif.append(char(qBlue(colour)));
    }
    if (loops >= 0) {
        gif.append("\x21\xFF\x0BNETSCAPE2.0\x03\x01", 16);
        appendLe16(gif, loops);
        gif.append(char(0));
    }
    for (const GifFrame &frame : frames) {
        gif.append("\x21\xF9\x04", 3);
        gif.append(char(frame.disposal << 2 | (frame.transparent >= 0 ? 1 : 0)));
        appendLe16(gif, frame.delay);
        gif.append(char(frame.transparent >= 0 ? frame.transparent : 0));
        gif.append(char(0));
        gif.append(char(0x2C));
        appendLe16(gif, frame.rect.x());
        appendLe16(gif, frame.rect.y());
        appendLe16(gif, frame.rect.width());
        appendLe16(gif, frame.rect.height());
        gif.append(char((frame.localTable ? 0x87 : 0) | (frame.interlaced ? 0x40 : 0)));
        for (int i = 0; frame.localTable && i < 256; ++i) {
            const QRgb colour = gifColour(255 - i);
            gif.append(char(qRed(colour)));
            gif.append(char(qGreen(colour)));
            gif.append(char(qBlue(colour)));
        }
        QVector<uchar> rows;
        const int width = frame.rect.width();
        // Every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
        const int passes[4][2] = { { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } };
        for (const auto &pass : passes) {
            for (int y = pass[0]; frame.interlaced && y < frame.rect.height(); y += pass[1])
                rows += frame.pixels.mid(y * width, width);
        }
        gif.append(gifImageData(frame.interlaced ? rows : frame.pixels));
    }
    gif.append(char(0x3B));
    return gif;
}

// How browsers show a GIF: the canvas starts transparent, a frame's transparent pixels leave
// what is under them, disposal clears to transparent or puts back what was there before.
QVector<QImage> composeGif(const QSize &canvas, const QVector<GifFrame> &frames)
{
    QVector<QImage> result;
    QImage picture(canvas, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QImage saved;
    for (int i = 0; i < frames.size(); ++i) {
        const GifFrame &frame = frames.at(i);
        if (i > 0) {
            const GifFrame &previous = frames.at(i - 1);
            QPainter painter(&picture);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            if (previous.disposal == 2)
                painter.fillRect(previous.rect, Qt::transparent);
            else if (previous.disposal == 3)
                painter.drawImage(0, 0, saved);
        }
        if (frame.disposal == 3)
            saved = picture.copy();
        for (int y = 0; y < frame.rect.height(); ++y) {
            for (int x = 0; x < frame.rect.width(); ++x) {
                const int index = frame.pixels.at(y * frame.rect.width() + x);
                if (index != frame.transparent)
                    picture.setPixel(frame.rect.x() + x, frame.rect.y() + y,
                        gifColour(frame.localTable ? 255 - index : index));
            }
        }
        result.append(picture);
    }
    return result;
}

QImage premultiplied(const QImage &image)
{
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QRgb over(QRgb source, QRgb target)
{
    const int inverse = 255 - qAlpha(source);
    auto mix = [&](int s, int t) { return s + (t * inverse + 127) / 255; };
    return qRgba(mix(qRed(source), qRed(target)), mix(qGreen(source), qGreen(target)),
        mix(qBlue(source), qBlue(target)), mix(qAlpha(source), qAlpha(target)));
}

// An animated PNG as its rules draw it, pixel by pixel on premultiplied values.
QVector<QImage> composeApng(const QSize &canvas, const QVector<PngFrame> &frames)
{
    QVector<QImage> result;
    QImage picture(canvas, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QImage saved;
    for (int i = 0; i < frames.size(); ++i) {
        const PngFrame &frame = frames.at(i);
        const QRect rect(frame.offset, frame.image.size());
        if (i > 0) {
            const PngFrame &previous = frames.at(i - 1);
            const QRect previousRect(previous.offset, previous.image.size());
            // A first frame that would restore clears instead.
            const int dispose = i == 1 && previous.dispose == 2 ? 1 : previous.dispose;
            if (dispose == 1) {
                for (int y = previousRect.top(); y <= previousRect.bottom(); ++y)
                    for (int x = previousRect.left(); x <= previousRect.right(); ++x)
                        picture.setPixel(x, y, 0);
            } else if (dispose == 2) {
                picture = saved;
            }
        }
        saved = picture.copy();
        const QImage pixels = premultiplied(frame.image);
        for (int y = 0; y < rect.height(); ++y) {
            for (int x = 0; x < rect.width(); ++x) {
                const QRgb source = pixels.pixel(x, y);
                const QPoint at = rect.topLeft() + QPoint(x, y);
                picture.setPixel(at, frame.blend == 1 ? over(source, picture.pixel(at)) : source);
            }
        }
        result.append(picture);
    }
    return result;
}

QVector<QImage> composeWebP(const QSize &canvas, const QVector<WebPFrame> &frames)
{
    QVector<QImage> result;
    QImage picture(canvas, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    for (int i = 0; i < frames.size(); ++i) {
        const WebPFrame &frame = frames.at(i);
        if (i > 0 && frames.at(i - 1).disposeToBackground) {
            const WebPFrame &previous = frames.at(i - 1);
            const QRect rect(previous.offset, previous.image.size());
            for (int y = rect.top(); y <= rect.bottom(); ++y)
                for (int x = rect.left(); x <= rect.right(); ++x)
                    picture.setPixel(x, y, 0);
        }
        const QImage pixels = premultiplied(frame.image);
        for (int y = 0; y < pixels.height(); ++y) {
            for (int x = 0; x < pixels.width(); ++x) {
                const QRgb source = pixels.pixel(x, y);
                const QPoint at = frame.offset + QPoint(x, y);
                picture.setPixel(at, frame.blend ? over(source, picture.pixel(at)) : source);
            }
        }
        result.append(picture);
    }
    return result;
}

// ---- Pictures -----------------------------------------------------------------------------------

// A frame of solid colour with a transparent window, or fully opaque.
QImage tile(const QSize &size, QRgb colour, bool window, int windowAlpha = 0)
{
    QImage image(size, QImage::Format_ARGB32);
    image.fill(colour);
    if (window) {
        const QRect inner(size.width() / 4, size.height() / 4, size.width() / 2, size.height() / 2);
        for (int y = inner.top(); y <= inner.bottom(); ++y)
            for (int x = inner.left(); x <= inner.right(); ++x)
                image.setPixel(
                    x, y, qRgba(qRed(colour), qGreen(colour), qBlue(colour), windowAlpha));
    }
    return image;
}

QImage indexedTile(const QSize &size, int index, bool window)
{
    QImage image(size, QImage::Format_Indexed8);
    image.setColorTable({ qRgba(0, 0, 0, 0), qRgb(200, 20, 20), qRgb(20, 180, 60),
        qRgb(30, 40, 210), qRgba(250, 250, 0, 255) });
    image.fill(uint(index));
    if (window) {
        for (int y = size.height() / 4; y < size.height() * 3 / 4; ++y)
            for (int x = size.width() / 4; x < size.width() * 3 / 4; ++x)
                image.setPixel(x, y, 0);
    }
    return image;
}

// Largest difference of any channel; -1 when sizes or formats differ.
int difference(const QImage &actual, const QImage &expected)
{
    if (actual.size() != expected.size() || actual.format() != expected.format())
        return -1;
    int worst = 0;
    for (int y = 0; y < actual.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(actual.constScanLine(y));
        const auto *e = reinterpret_cast<const QRgb *>(expected.constScanLine(y));
        for (int x = 0; x < actual.width(); ++x) {
            worst = qMax(worst, qAbs(qRed(a[x]) - qRed(e[x])));
            worst = qMax(worst, qAbs(qGreen(a[x]) - qGreen(e[x])));
            worst = qMax(worst, qAbs(qBlue(a[x]) - qBlue(e[x])));
            worst = qMax(worst, qAbs(qAlpha(a[x]) - qAlpha(e[x])));
        }
    }
    return worst;
}

QVector<QImage> readerFrames(const QByteArray &bytes, int *loopCount)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    QVector<QImage> frames;
    QImage image;
    while (reader.read(&image))
        frames.append(premultiplied(image));
    *loopCount = reader.loopCount();
    return frames;
}

} // namespace

struct Animation {
    QByteArray bytes;
    QVector<QImage> frames;
    QVector<int> delays;
    int loopCount = 0;
    // GIF and WebP: the toolkit's reader gives the same frames.
    bool checkReader = false;
    // Lossy frames differ from their sources: only the reader's frames are compared, allowing
    // for its blending straight colours where the decoder blends premultiplied ones.
    bool lossy = false;
};
Q_DECLARE_METATYPE(Animation)

class tst_AnimationDecoder : public QObject {
    Q_OBJECT

private slots:
    void isAnimation_data();
    void isAnimation();
    void frames_data();
    void frames();
    void brokenFrame_data();
    void brokenFrame();
    void refusedStructure_data();
    void refusedStructure();
    void longAnimationHoldsFewFrames_data();
    void longAnimationHoldsFewFrames();
};

namespace {

const QSize Canvas(24, 18);

QVector<GifFrame> stripedGif(int disposal, bool holes)
{
    return { gifFrame(QRect(QPoint(0, 0), Canvas), 1, disposal, false),
        gifFrame(QRect(4, 3, 12, 10), 3, disposal, holes),
        gifFrame(QRect(8, 6, 14, 10), 5, disposal, holes),
        gifFrame(QRect(2, 2, 8, 8), 0, 1, holes) };
}

Animation gifAnimation(const QVector<GifFrame> &frames, int loops = 0)
{
    Animation animation;
    animation.bytes = encodeGif(Canvas, frames, loops);
    animation.frames = composeGif(Canvas, frames);
    for (const GifFrame &frame : frames)
        animation.delays.append(frame.delay <= 1 ? 100 : frame.delay * 10);
    animation.loopCount = loops == 0 ? -1 : qMax(loops, 0);
    animation.checkReader = true;
    return animation;
}

Animation apngAnimation(const QVector<PngFrame> &frames, const ApngLayout &layout = ApngLayout())
{
    Animation animation;
    animation.bytes = encodeApng(Canvas, frames, layout);
    animation.frames = composeApng(Canvas, frames);
    for (const PngFrame &frame : frames) {
        const int ms = frame.delayNumerator * 1000
            / (frame.delayDenominator == 0 ? 100 : frame.delayDenominator);
        animation.delays.append(ms <= 10 ? 100 : ms);
    }
    animation.loopCount = layout.plays == 0 ? -1 : layout.plays - 1;
    return animation;
}

Animation webpAnimation(const QVector<WebPFrame> &frames, int loops = 0)
{
    Animation animation;
    animation.bytes = encodeWebP(Canvas, frames, loops);
    animation.frames = composeWebP(Canvas, frames);
    for (const WebPFrame &frame : frames)
        animation.delays.append(frame.duration <= 10 ? 100 : frame.duration);
    animation.loopCount = loops == 0 ? -1 : loops - 1;
    animation.checkReader = true;
    return animation;
}

// The toolkit's readers composite these differently from browsers: the GIF reader fills what a
// disposed frame covered with a colour of the palette instead of clearing it (the first frame
// shows black through the next one's hole), the WebP reader leaves a frame without alpha in place
// when it is to be cleared.
Animation composedUnlikeReader(Animation animation)
{
    animation.checkReader = false;
    return animation;
}

// Keeps the frames before `frames` and the bytes up to `cut`.
Animation cutShort(Animation animation, int cut, int frames)
{
    animation.bytes.truncate(cut);
    animation.frames.resize(frames);
    animation.delays.resize(frames);
    animation.checkReader = false;
    return animation;
}

int offsetOf(const QByteArray &bytes, const QByteArray &what, int occurrence)
{
    int at = -1;
    for (int i = 0; i <= occurrence; ++i)
        at = bytes.indexOf(what, at + 1);
    return at;
}

QVector<PngFrame> apngFrames(int dispose, int blend)
{
    QVector<PngFrame> frames(4);
    frames[0].image = tile(Canvas, qRgb(200, 40, 40), false);
    frames[1].image = tile(QSize(12, 10), qRgb(40, 40, 220), true, 128);
    frames[1].offset = QPoint(4, 3);
    frames[2].image = tile(QSize(10, 12), qRgb(30, 200, 60), true);
    frames[2].offset = QPoint(12, 5);
    frames[3].image = tile(QSize(6, 6), qRgb(250, 250, 250), true, 200);
    frames[3].offset = QPoint(1, 1);
    for (PngFrame &frame : frames) {
        frame.dispose = dispose;
        frame.blend = blend;
    }
    return frames;
}

QVector<WebPFrame> webpFrames(bool blend, bool dispose)
{
    QVector<WebPFrame> frames(3);
    frames[0].image = tile(Canvas, qRgb(200, 40, 40), false);
    frames[1].image = tile(QSize(12, 10), qRgb(40, 40, 220), true);
    frames[1].offset = QPoint(4, 2);
    frames[2].image = tile(QSize(10, 12), qRgb(30, 200, 60), true);
    frames[2].offset = QPoint(12, 6);
    for (WebPFrame &frame : frames) {
        frame.blend = blend;
        frame.disposeToBackground = dispose;
    }
    // The first frame fills the canvas; clearing it shows the later ones over nothing.
    frames[1].duration = 0;
    frames[2].duration = 250;
    return frames;
}

} // namespace

void tst_AnimationDecoder::isAnimation_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("animation");

    const QVector<GifFrame> two = stripedGif(1, false).mid(0, 2);
    QTest::addRow("GIF of two frames") << encodeGif(Canvas, two) << true;
    QTest::addRow("GIF of one frame") << encodeGif(Canvas, two.mid(0, 1)) << false;
    QByteArray secondCut = encodeGif(Canvas, two);
    secondCut.chop(20);
    QTest::addRow("GIF whose second frame is cut") << secondCut << false;
    QTest::addRow("GIF header only") << QByteArray("GIF89a\x10\x00") << false;
    QTest::addRow("animated WebP") << encodeWebP(Canvas, webpFrames(true, false)) << true;
    QTest::addRow("WebP of one frame")
        << encodeWebP(Canvas, webpFrames(true, false).mid(0, 1)) << false;
    QTest::addRow("still WebP") << stillWebP(tile(Canvas, qRgb(1, 2, 3), false)) << false;
    const QByteArray apng = encodeApng(Canvas, apngFrames(0, 0));
    QTest::addRow("animated PNG") << apng << true;
    QByteArray oneFrame = apng;
    oneFrame.replace(oneFrame.indexOf("acTL") + 4, 4, be32(1));
    QTest::addRow("PNG announcing one frame") << oneFrame << false;
    QByteArray still;
    {
        QBuffer buffer(&still);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "png").write(tile(Canvas, qRgb(9, 9, 9), false));
    }
    QTest::addRow("still PNG") << still << false;
    // The control chunk counts only before the image data.
    const int control = apng.indexOf("acTL") - 4;
    const QByteArray acTL = apng.mid(control, 20);
    QByteArray late = QByteArray(apng).remove(control, 20);
    late.insert(late.indexOf("IEND") - 4, acTL);
    QTest::addRow("PNG with its control after the image data") << late << false;
    QTest::addRow("nothing") << QByteArray() << false;
    QTest::addRow("text") << QByteArray("GIF89 is what this is not") << false;
}

void tst_AnimationDecoder::isAnimation()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, animation);
    QCOMPARE(AnimationDecoder::isAnimation(bytes), animation);
}

void tst_AnimationDecoder::frames_data()
{
    QTest::addColumn<Animation>("animation");

    QTest::addRow("GIF, disposal none") << gifAnimation(stripedGif(1, true));
    QTest::addRow("GIF, disposal background")
        << composedUnlikeReader(gifAnimation(stripedGif(2, true), 3));
    QTest::addRow("GIF, disposal previous")
        << composedUnlikeReader(gifAnimation(stripedGif(3, true)));
    QTest::addRow("GIF, opaque frames restoring the previous")
        << composedUnlikeReader(gifAnimation(stripedGif(3, false)));
    QVector<GifFrame> tables = stripedGif(2, true);
    tables[1].localTable = true;
    tables[2].interlaced = true;
    tables[3].localTable = true;
    tables[3].interlaced = true;
    QTest::addRow("GIF, local colour tables and interlacing")
        << composedUnlikeReader(gifAnimation(tables));
    QVector<GifFrame> fast = stripedGif(1, true);
    fast[0].delay = 0;
    fast[1].delay = 1;
    fast[2].delay = 2;
    QTest::addRow("GIF, delays of 0 and 10 ms") << gifAnimation(fast, -1);
    QTest::addRow("GIF of one frame") << gifAnimation(stripedGif(1, false).mid(0, 1));
    const Animation gif = gifAnimation(stripedGif(2, true));
    // Without its trailer, the GIF of the first two frames ends where the third starts.
    const int third = encodeGif(Canvas, stripedGif(2, true).mid(0, 2)).size() - 1;
    QTest::addRow("GIF cut in its third frame") << cutShort(gif, third + 40, 2);

    QTest::addRow("WebP, blended, not disposed") << webpAnimation(webpFrames(true, false), 2);
    QTest::addRow("WebP, blended, disposed")
        << composedUnlikeReader(webpAnimation(webpFrames(true, true)));
    QVector<WebPFrame> clearingWebP = webpFrames(true, false);
    clearingWebP[1].disposeToBackground = true;
    QTest::addRow("WebP, a frame with alpha cleared") << webpAnimation(clearingWebP);
    QTest::addRow("WebP, not blended") << webpAnimation(webpFrames(false, false));
    QVector<WebPFrame> lossy = webpFrames(true, false);
    for (WebPFrame &frame : lossy)
        frame.quality = 80;
    Animation lossyAnimation = webpAnimation(lossy);
    lossyAnimation.lossy = true;
    // The frames the decoder must give an extended header of their own.
    QVERIFY(lossyAnimation.bytes.contains("ALPH") && lossyAnimation.bytes.contains("VP8 "));
    QTest::addRow("WebP, lossy frames with alpha") << lossyAnimation;
    const Animation webp = webpAnimation(webpFrames(true, true));
    QTest::addRow("WebP cut in its third frame")
        << cutShort(webp, offsetOf(webp.bytes, "ANMF", 2) + 30, 2);

    QTest::addRow("PNG, source, not disposed") << apngAnimation(apngFrames(0, 0));
    QTest::addRow("PNG, over, not disposed") << apngAnimation(apngFrames(0, 1));
    QTest::addRow("PNG, over, background") << apngAnimation(apngFrames(1, 1));
    // The first frame restoring the previous picture clears it instead.
    QTest::addRow("PNG, over, previous") << apngAnimation(apngFrames(2, 1));
    QTest::addRow("PNG, source, previous") << apngAnimation(apngFrames(2, 0));
    QVector<PngFrame> mixed = apngFrames(0, 1);
    mixed[1].dispose = 2;
    mixed[2].dispose = 1;
    mixed[2].blend = 0;
    mixed[1].delayNumerator = 0;
    mixed[2].delayNumerator = 3;
    mixed[2].delayDenominator = 0; // hundredths
    ApngLayout threePlays;
    threePlays.plays = 3;
    QTest::addRow("PNG, mixed operations and delays") << apngAnimation(mixed, threePlays);
    ApngLayout hidden;
    hidden.defaultIsFrame = false;
    hidden.defaultImage = tile(Canvas, qRgb(255, 0, 255), false);
    QVector<PngFrame> notDefault = apngFrames(1, 1);
    notDefault[0].image = tile(QSize(16, 10), qRgb(10, 120, 250), true);
    notDefault[0].offset = QPoint(2, 4);
    QTest::addRow("PNG whose image is no frame") << apngAnimation(notDefault, hidden);
    QVector<PngFrame> palette = apngFrames(1, 1);
    palette[0].image = indexedTile(Canvas, 1, false);
    palette[1].image = indexedTile(palette[1].image.size(), 2, true);
    palette[2].image = indexedTile(palette[2].image.size(), 3, true);
    palette[3].image = indexedTile(palette[3].image.size(), 4, true);
    QTest::addRow("PNG with a palette") << apngAnimation(palette);
    const Animation apng = apngAnimation(apngFrames(1, 1));
    QTest::addRow("PNG cut in its third frame")
        << cutShort(apng, offsetOf(apng.bytes, "fdAT", 3) + 10, 2);
    QTest::addRow("PNG cut after its last data")
        << cutShort(apng, apng.bytes.indexOf("IEND") - 4, 3);
}

void tst_AnimationDecoder::frames()
{
    QFETCH(Animation, animation);

    AnimationDecoder decoder(animation.bytes);
    QVERIFY(decoder.isValid());
    QCOMPARE(decoder.size(), Canvas);
    QCOMPARE(decoder.frameCount(), animation.frames.size());
    QCOMPARE(decoder.loopCount(), animation.loopCount);
    for (int i = 0; i < animation.delays.size(); ++i)
        QCOMPARE(decoder.frameDelay(i), animation.delays.at(i));

    QVector<QImage> reader;
    if (animation.checkReader) {
        int readerLoops = 0;
        reader = readerFrames(animation.bytes, &readerLoops);
        QCOMPARE(reader.size(), animation.frames.size());
        QCOMPARE(readerLoops, animation.loopCount);
    }
    // Forward, then backward past the kept frames, then forward again.
    decoder.setCacheFrames(1);
    QVector<int> order;
    for (int i = 0; i < animation.frames.size(); ++i)
        order.append(i);
    for (int i = animation.frames.size() - 1; i >= 0; --i)
        order.append(i);
    order.append(order.mid(0, animation.frames.size()));
    for (const int index : qAsConst(order)) {
        const QImage frame = decoder.frame(index);
        QVERIFY2(!frame.isNull(), qPrintable(QString::number(index)));
        // Half-transparent pixels blended by QPainter may round the other way.
        QVERIFY2(animation.lossy || difference(frame, animation.frames.at(index)) <= 1,
            qPrintable(QStringLiteral("frame %1 differs by %2")
                           .arg(index)
                           .arg(difference(frame, animation.frames.at(index)))));
        if (!reader.isEmpty()) {
            const int readerDifference = difference(frame, reader.at(index));
            QVERIFY2(readerDifference >= 0 && readerDifference <= (animation.lossy ? 1 : 0),
                qPrintable(QStringLiteral("frame %1 differs from the reader's by %2")
                               .arg(index)
                               .arg(readerDifference)));
        }
    }
    QVERIFY(decoder.frame(animation.frames.size()).isNull());
    QVERIFY(decoder.frame(-1).isNull());
    QCOMPARE(decoder.frameDelay(animation.frames.size()), 0);
}

void tst_AnimationDecoder::brokenFrame_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("broken");

    // The frame's data is whole but its compressed data is not: the walk cannot tell.
    QByteArray png = encodeApng(Canvas, apngFrames(1, 1));
    const int data = offsetOf(png, "fdAT", 2) + 8;
    for (int i = 0; i < 16; ++i)
        png[data + i] = char(0xFF);
    QTest::addRow("PNG with damaged data in frame 2") << png << 2;

    QByteArray webp = encodeWebP(Canvas, webpFrames(true, false));
    const int bitstream = offsetOf(webp, "VP8L", 1) + 8;
    for (int i = 0; i < 8; ++i)
        webp[bitstream + i] = char(0xFF);
    QTest::addRow("WebP with a damaged frame 1") << webp << 1;
}

void tst_AnimationDecoder::brokenFrame()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, broken);

    AnimationDecoder decoder(bytes);
    QVERIFY(decoder.isValid());
    QVERIFY(decoder.frameCount() > broken);
    for (int i = 0; i < broken; ++i)
        QVERIFY(!decoder.frame(i).isNull());
    QVERIFY(decoder.frame(broken).isNull());
    QVERIFY(decoder.frame(decoder.frameCount() - 1).isNull());
    QVERIFY(decoder.frame(broken).isNull());
    // What came before still decodes, from the start again.
    decoder.setCacheFrames(0);
    for (int i = 0; i < broken; ++i)
        QVERIFY(!decoder.frame(i).isNull());
}

void tst_AnimationDecoder::refusedStructure_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("frames");

    const QByteArray png = encodeApng(Canvas, apngFrames(0, 1));
    auto patchControl = [&](int occurrence, int field, quint32 value) {
        QByteArray bytes = png;
        const int body = offsetOf(bytes, "fcTL", occurrence) + 4;
        bytes.replace(body + field, 4, be32(value));
        return bytes;
    };
    // Fields of a frame control: sequence 0, width 4, height 8, x 12, y 16.
    QTest::addRow("PNG frame reaching past the canvas") << patchControl(2, 12, 20) << 2;
    QTest::addRow("PNG frame of no width") << patchControl(1, 4, 0) << 1;
    QTest::addRow("PNG frame at an offset that wraps") << patchControl(3, 16, 0xFFFFFFF0u) << 3;
    QTest::addRow("PNG frame out of sequence") << patchControl(2, 0, 9) << 2;
    QTest::addRow("PNG first frame smaller than its canvas") << patchControl(0, 4, 5) << 0;
    QByteArray hugeLength = png;
    hugeLength.replace(offsetOf(png, "fdAT", 2) - 4, 4, be32(0x7FFFFFF0u));
    QTest::addRow("PNG chunk longer than the file") << hugeLength << 2;
    QByteArray huge = png;
    huge.replace(16, 8, be32(0x7FFFFFFFu) + be32(0x7FFFFFFFu));
    QTest::addRow("PNG of a canvas too large") << huge << 0;
    QByteArray lying = png;
    lying.replace(16, 8, be32(5000) + be32(5000));
    QTest::addRow("PNG of a canvas larger than its data could fill") << lying << 0;
    QByteArray many = png;
    many.replace(many.indexOf("acTL") + 4, 4, be32(2));
    QTest::addRow("PNG announcing fewer frames than it has") << many << 2;

    QByteArray gif = encodeGif(Canvas, stripedGif(1, false));
    gif[6] = char(0);
    gif[7] = char(0);
    QTest::addRow("GIF of no width") << gif << 0;
    QByteArray claiming = encodeGif(Canvas, stripedGif(1, false));
    const int second = encodeGif(Canvas, stripedGif(1, false).mid(0, 1)).size() - 1 + 8;
    claiming.replace(second + 5, 4, QByteArray("\x40\x1F\x40\x1F", 4)); // 8000 by 8000
    QTest::addRow("GIF frame larger than its data could fill") << claiming << 1;
    QByteArray wide = encodeGif(QSize(60000, 60000), stripedGif(1, false));
    QTest::addRow("GIF of a canvas too large") << wide << 0;

    QByteArray webp = encodeWebP(Canvas, webpFrames(true, false));
    const int frame = offsetOf(webp, "ANMF", 1) + 8;
    webp[frame] = char(20); // x = 40
    QTest::addRow("WebP frame reaching past the canvas") << webp << 1;
}

void tst_AnimationDecoder::refusedStructure()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, frames);

    AnimationDecoder decoder(bytes);
    QCOMPARE(decoder.isValid(), frames > 0);
    QCOMPARE(decoder.frameCount(), frames);
    for (int i = 0; i < frames; ++i)
        QVERIFY(!decoder.frame(i).isNull());
    QVERIFY(decoder.frame(frames).isNull());
}

void tst_AnimationDecoder::longAnimationHoldsFewFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");

    // A full first frame, then a small square wandering over it.
    // A 1080p recording: decoded whole, its 300 frames would take 2.4 GB.
    const QSize canvas(1920, 1080);
    const int count = 300;
    const QSize square(32, 32);
    auto place = [&](int i) { return QPoint((i * 37) % (1920 - 32), (i * 23) % (1080 - 32)); };

    QVector<GifFrame> gif;
    gif.append(gifFrame(QRect(QPoint(0, 0), canvas), 1, 1, false));
    for (int i = 1; i < count; ++i)
        gif.append(gifFrame(QRect(place(i), square), 2 + i % 5, 1, false));
    QTest::addRow("GIF") << encodeGif(canvas, gif);

    QVector<PngFrame> png(count);
    png[0].image = tile(canvas, qRgb(20, 30, 40), false);
    for (int i = 1; i < count; ++i) {
        png[i].image = tile(square, qRgb(i % 256, 100, 200), false);
        png[i].offset = place(i);
    }
    QTest::addRow("PNG") << encodeApng(canvas, png);
}

void tst_AnimationDecoder::longAnimationHoldsFewFrames()
{
    QFETCH(QByteArray, bytes);

    AnimationDecoder decoder(bytes);
    QCOMPARE(decoder.frameCount(), 300);
    const qint64 canvasBytes = qint64(decoder.size().width()) * decoder.size().height() * 4;
    // The kept frames and three canvases: the decoder's, the reader's and the one it restores.
    const qint64 bound = (AnimationDecoder::DefaultCacheFrames + 3) * canvasBytes;
    qint64 most = 0;
    QVector<qint64> keys;
    for (int i = 0; i < decoder.frameCount(); ++i) {
        const QImage frame = decoder.frame(i);
        QVERIFY(!frame.isNull());
        keys.append(frame.cacheKey());
        most = qMax(most, decoder.heldBytes());
    }
    // Stepping back a few frames gives the frames kept, not new ones.
    for (int i = 298; i >= 293; --i) {
        QCOMPARE(decoder.frame(i).cacheKey(), keys.at(i));
        most = qMax(most, decoder.heldBytes());
    }
    const QImage again = decoder.frame(10);
    QVERIFY(!again.isNull());
    QVERIFY(again.cacheKey() != keys.at(10));
    most = qMax(most, decoder.heldBytes());
    qInfo("held at most %lld bytes, %.1f canvases, for 300 frames", most,
        double(most) / double(canvasBytes));
    QVERIFY2(most <= bound, qPrintable(QString::number(most)));
}

QTEST_GUILESS_MAIN(tst_AnimationDecoder)
#include "tst_animationdecoder.moc"

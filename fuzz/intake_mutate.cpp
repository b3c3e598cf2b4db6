// Feeds the intake broken pictures of the formats that come from games and 3D tools, the way a
// drop does, to see that the board survives them once decoding runs in the decoder pool's helpers.
//
// Seeds are made here: DDS (DXT1, DXT5, 3Dc), TGA (plain and run-length) and PSD written by
// DevIL; BLP built by hand in the layouts DevIL reads (BLP2 with a palette, with a palette and
// 1-bit alpha, DXT1 and DXT5; BLP1 with JPEG content); EXR (uncompressed, half floats) and JPEG
// 2000 (a JP2 file and a bare codestream whose packets are all empty) written by hand, because no
// installed image writer makes them; and the files of tests/data/hostile, which crash DevIL.
// Each round writes a batch of mutated copies into a temporary folder and loads them all as one
// drop, waiting for the load to finish.
//
// Built by the main project with -DVELKORA_BUILD_FUZZ_TOOLS=ON; it needs the decoder pool's
// helpers, without which a hostile file ends the run. A mutated header may ask for a picture of
// gigabytes: bound the memory, e.g. `ulimit -v 16000000`, and each such file fails alone.
//
//   build/intake_mutate --count 100000 --seed 7 --batch 500

#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "picture/decoderpool.h"

#include <QBuffer>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFloat16>
#include <QImageWriter>
#include <QLinearGradient>
#include <QLoggingCategory>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QtEndian>

#include <IL/il.h>

#include <cstdio>
#include <iterator>

#ifndef VELKORA_HOSTILE_DIR
#define VELKORA_HOSTILE_DIR ""
#endif

namespace {

struct Seed {
    QString name; // with the extension the copies keep
    QByteArray bytes;
};

QImage seedPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, width, height);
    gradient.setColorAt(0, QColor(230, 120, 40));
    gradient.setColorAt(1, QColor(30, 60, 200));
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(QColor(250, 250, 250, 90));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(width / 4.0, height / 4.0, width / 2.0, height / 2.0));
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.fillRect(QRect(0, 0, width / 8, height / 8), Qt::transparent);
    return image;
}

void appendLe32(QByteArray &bytes, quint32 value)
{
    char raw[4];
    qToLittleEndian(value, raw);
    bytes.append(raw, 4);
}

void appendBe32(QByteArray &bytes, quint32 value)
{
    char raw[4];
    qToBigEndian(value, raw);
    bytes.append(raw, 4);
}

void appendBe16(QByteArray &bytes, quint16 value)
{
    char raw[2];
    qToBigEndian(value, raw);
    bytes.append(raw, 2);
}

// DevIL writes files only, not memory of a size known beforehand: through a file it is.
QByteArray devilBytes(const QImage &picture, ILenum type, const QString &scratch,
    ILenum dxtFormat = IL_DXT5, bool runLength = false)
{
    const QImage rgba = picture.convertToFormat(QImage::Format_RGBA8888);
    QByteArray pixels;
    for (int y = 0; y < rgba.height(); ++y)
        pixels.append(reinterpret_cast<const char *>(rgba.constScanLine(y)), rgba.width() * 4);
    const ILuint name = ilGenImage();
    ilBindImage(name);
    QByteArray bytes;
    if (ilTexImage(ILuint(rgba.width()), ILuint(rgba.height()), 1, 4, IL_RGBA, IL_UNSIGNED_BYTE,
            pixels.data())
        == IL_TRUE) {
        ilSetInteger(IL_DXTC_FORMAT, ILint(dxtFormat));
        ilSetInteger(IL_TGA_RLE, runLength ? IL_TRUE : IL_FALSE);
        QFile::remove(scratch);
        if (ilSave(type, QFile::encodeName(scratch).constData()) == IL_TRUE) {
            QFile file(scratch);
            if (file.open(QIODevice::ReadOnly))
                bytes = file.readAll();
        }
    }
    ilDeleteImage(name);
    return bytes;
}

// BLP2 as DevIL reads it: a 148-byte header (signature, type 1, compression, alpha bits, alpha
// type, mipmap flag, size, 16 mipmap offsets and 16 lengths), a 256-entry BGRA palette, then the
// first mipmap. Only the first level is written and the mipmap flag is off.
QByteArray blp2(int width, int height, quint8 compression, quint8 alphaBits, quint8 alphaType,
    const QByteArray &palette, const QByteArray &mip)
{
    QByteArray bytes("BLP2");
    appendLe32(bytes, 1);
    bytes.append(char(compression)).append(char(alphaBits)).append(char(alphaType)).append('\0');
    appendLe32(bytes, quint32(width));
    appendLe32(bytes, quint32(height));
    const quint32 mipOffset = 148 + 1024;
    appendLe32(bytes, mipOffset);
    for (int i = 1; i < 16; ++i)
        appendLe32(bytes, 0);
    appendLe32(bytes, quint32(mip.size()));
    for (int i = 1; i < 16; ++i)
        appendLe32(bytes, 0);
    bytes.append(palette.leftJustified(1024, '\0', true));
    return bytes + mip;
}

QByteArray blpPalette(const QImage &indexed)
{
    QByteArray palette;
    for (const QRgb colour : indexed.colorTable())
        appendLe32(palette, colour); // BGRA in memory
    return palette;
}

QByteArray blpIndices(const QImage &indexed)
{
    QByteArray indices;
    for (int y = 0; y < indexed.height(); ++y)
        indices.append(reinterpret_cast<const char *>(indexed.constScanLine(y)), indexed.width());
    return indices;
}

// The 1-bit alpha list DevIL expects after the indices: one bit a pixel, lowest bit first,
// the bottom row first.
QByteArray blpAlphaBits(const QImage &picture)
{
    QByteArray bits((picture.width() * picture.height() + 7) / 8, '\0');
    int bit = 0;
    for (int y = picture.height() - 1; y >= 0; --y) {
        for (int x = 0; x < picture.width(); ++x, ++bit) {
            if (qAlpha(picture.pixel(x, y)) >= 128)
                bits[bit / 8] = char(bits.at(bit / 8) | (1 << (bit % 8)));
        }
    }
    return bits;
}

// BLP1 with JPEG content: a 156-byte header, the size of a JPEG header shared by all levels, that
// header, then the first level's remaining JPEG data. DevIL joins the two and decodes a JPEG.
QByteArray blp1Jpeg(const QImage &picture)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "jpeg").write(picture.convertToFormat(QImage::Format_RGB32));
    const int scan = qMax(2, int(jpeg.indexOf("\xff\xda")));
    const QByteArray shared = jpeg.left(scan);
    const QByteArray mip = jpeg.mid(scan);

    QByteArray bytes("BLP1");
    appendLe32(bytes, 0); // JPEG
    appendLe32(bytes, 0); // no alpha
    appendLe32(bytes, quint32(picture.width()));
    appendLe32(bytes, quint32(picture.height()));
    appendLe32(bytes, 5); // picture type DevIL checks for
    appendLe32(bytes, 0);
    appendLe32(bytes, quint32(156 + 4 + shared.size()));
    for (int i = 1; i < 16; ++i)
        appendLe32(bytes, 0);
    appendLe32(bytes, quint32(mip.size()));
    for (int i = 1; i < 16; ++i)
        appendLe32(bytes, 0);
    appendLe32(bytes, quint32(shared.size()));
    return bytes + shared + mip;
}

void appendExrAttribute(
    QByteArray &bytes, const char *name, const char *type, const QByteArray &value)
{
    bytes.append(name).append('\0').append(type).append('\0');
    appendLe32(bytes, quint32(value.size()));
    bytes.append(value);
}

// A single-part scan-line OpenEXR file without compression: the header's attributes, a table of
// one offset a line, then each line as its number, its size and the channels in name order
// (A, B, G, R) as half floats.
QByteArray exr(const QImage &picture)
{
    const int width = picture.width();
    const int height = picture.height();
    QByteArray bytes;
    appendLe32(bytes, 20000630); // magic number
    appendLe32(bytes, 2); // version 2, single part, scan lines

    QByteArray channels;
    for (const char *channel : { "A", "B", "G", "R" }) {
        channels.append(channel).append('\0');
        appendLe32(channels, 1); // half
        channels.append(4, '\0'); // linear flag and reserved bytes
        appendLe32(channels, 1);
        appendLe32(channels, 1);
    }
    channels.append('\0');
    QByteArray window;
    for (const int value : { 0, 0, width - 1, height - 1 })
        appendLe32(window, quint32(value));
    QByteArray one;
    appendLe32(one, 0x3f800000); // 1.0f
    appendExrAttribute(bytes, "channels", "chlist", channels);
    appendExrAttribute(bytes, "compression", "compression", QByteArray(1, '\0'));
    appendExrAttribute(bytes, "dataWindow", "box2i", window);
    appendExrAttribute(bytes, "displayWindow", "box2i", window);
    appendExrAttribute(bytes, "lineOrder", "lineOrder", QByteArray(1, '\0'));
    appendExrAttribute(bytes, "pixelAspectRatio", "float", one);
    appendExrAttribute(bytes, "screenWindowCenter", "v2f", QByteArray(8, '\0'));
    appendExrAttribute(bytes, "screenWindowWidth", "float", one);
    bytes.append('\0');

    const int lineSize = width * 4 * 2;
    const qint64 firstLine = bytes.size() + qint64(height) * 8;
    for (int y = 0; y < height; ++y) {
        const quint64 offset = quint64(firstLine + qint64(y) * (8 + lineSize));
        appendLe32(bytes, quint32(offset));
        appendLe32(bytes, quint32(offset >> 32));
    }
    const auto half = [](int channel) {
        char raw[2];
        qToLittleEndian(qfloat16(float(channel) / 255.0f), raw);
        return QByteArray(raw, 2);
    };
    for (int y = 0; y < height; ++y) {
        appendLe32(bytes, quint32(y));
        appendLe32(bytes, quint32(lineSize));
        // A, B, G and R sit at these bits of a QRgb.
        for (const int shift : { 24, 0, 8, 16 }) {
            for (int x = 0; x < width; ++x)
                bytes.append(half(int(picture.pixel(x, y) >> shift) & 0xff));
        }
    }
    return bytes;
}

// A JPEG 2000 codestream of three 8-bit components, one tile, one quality layer and one
// wavelet level, whose six packets are all empty: every coefficient is zero and the picture is
// flat grey. Real wavelet data needs an arithmetic coder; the headers are what a reader trusts.
QByteArray j2kCodestream(int width, int height)
{
    QByteArray bytes("\xff\x4f", 2); // start of codestream
    appendBe16(bytes, 0xff51); // image and tile size
    appendBe16(bytes, 38 + 3 * 3);
    appendBe16(bytes, 0); // capabilities
    for (const int value : { width, height, 0, 0, width, height, 0, 0 })
        appendBe32(bytes, quint32(value));
    appendBe16(bytes, 3);
    for (int component = 0; component < 3; ++component)
        bytes.append("\x07\x01\x01", 3); // 8 bits unsigned, no subsampling
    appendBe16(bytes, 0xff52); // coding style
    appendBe16(bytes, 12);
    bytes.append('\0'); // no precincts, no SOP or EPH markers
    bytes.append('\0'); // layer-resolution-component-position order
    appendBe16(bytes, 1); // layers
    bytes.append('\0'); // no colour transform
    bytes.append("\x01\x04\x04\x00\x01", 5); // one level, 64x64 blocks, reversible 5-3
    appendBe16(bytes, 0xff5c); // quantization: none; exponents of LL, HL, LH, HH
    appendBe16(bytes, 7);
    bytes.append("\x40\x40\x48\x48\x50", 5);

    const QByteArray packets(2 * 3, '\0');
    appendBe16(bytes, 0xff90); // start of tile
    appendBe16(bytes, 10);
    appendBe16(bytes, 0);
    appendBe32(bytes, quint32(12 + 2 + packets.size()));
    bytes.append('\0').append('\x01');
    appendBe16(bytes, 0xff93); // start of data
    bytes.append(packets);
    appendBe16(bytes, 0xffd9); // end of codestream
    return bytes;
}

void appendBox(QByteArray &bytes, const char *type, const QByteArray &content)
{
    appendBe32(bytes, quint32(8 + content.size()));
    bytes.append(type, 4).append(content);
}

QByteArray jp2(int width, int height)
{
    QByteArray bytes;
    appendBox(bytes, "jP  ", QByteArray("\x0d\x0a\x87\x0a", 4));
    appendBox(bytes, "ftyp", QByteArray("jp2 \0\0\0\0jp2 ", 12));
    QByteArray imageHeader;
    appendBe32(imageHeader, quint32(height));
    appendBe32(imageHeader, quint32(width));
    appendBe16(imageHeader, 3);
    imageHeader.append("\x07\x07\x00\x00", 4); // 8 bits, JPEG 2000 coding, no IPR
    QByteArray colour("\x01\x00\x00", 3);
    appendBe32(colour, 16); // sRGB
    QByteArray header;
    appendBox(header, "ihdr", imageHeader);
    appendBox(header, "colr", colour);
    appendBox(bytes, "jp2h", header);
    appendBox(bytes, "jp2c", j2kCodestream(width, height));
    return bytes;
}

QVector<Seed> makeSeeds(const QString &scratchDir, const QString &hostileDir)
{
    ilInit();
    const QImage picture = seedPicture(64, 48);
    const QString scratch = QDir(scratchDir).filePath(QStringLiteral("seed"));
    QVector<Seed> seeds;
    const auto add = [&seeds](const QString &name, const QByteArray &bytes) {
        if (bytes.isEmpty())
            std::fprintf(stderr, "could not make the seed %s\n", qPrintable(name));
        else
            seeds.append({ name, bytes });
    };

    const QByteArray dxt1 = devilBytes(picture, IL_DDS, scratch, IL_DXT1);
    const QByteArray dxt5 = devilBytes(picture, IL_DDS, scratch, IL_DXT5);
    add(QStringLiteral("dxt1.dds"), dxt1);
    add(QStringLiteral("dxt5.dds"), dxt5);
    add(QStringLiteral("3dc.dds"), devilBytes(picture, IL_DDS, scratch, IL_3DC));
    add(QStringLiteral("plain.tga"), devilBytes(picture, IL_TGA, scratch));
    add(QStringLiteral("rle.tga"), devilBytes(picture, IL_TGA, scratch, IL_DXT5, true));
    add(QStringLiteral("layer.psd"), devilBytes(picture, IL_PSD, scratch));

    const QImage indexed = picture.convertToFormat(QImage::Format_Indexed8);
    const QByteArray indices = blpIndices(indexed);
    add(QStringLiteral("palette.blp"),
        blp2(picture.width(), picture.height(), 1, 0, 0, blpPalette(indexed), indices));
    add(QStringLiteral("palette-alpha.blp"),
        blp2(picture.width(), picture.height(), 1, 1, 1, blpPalette(indexed),
            indices + blpAlphaBits(picture)));
    // The DXT blocks of DevIL's DDS files follow their 128-byte header.
    const int blocks = ((picture.width() + 3) / 4) * ((picture.height() + 3) / 4);
    if (dxt1.size() >= 128 + blocks * 8) {
        add(QStringLiteral("dxt1.blp"),
            blp2(picture.width(), picture.height(), 2, 0, 0, QByteArray(),
                dxt1.mid(128, blocks * 8)));
    }
    if (dxt5.size() >= 128 + blocks * 16) {
        add(QStringLiteral("dxt5.blp"),
            blp2(picture.width(), picture.height(), 2, 8, 7, QByteArray(),
                dxt5.mid(128, blocks * 16)));
    }
    add(QStringLiteral("jpeg.blp"), blp1Jpeg(picture));

    add(QStringLiteral("half.exr"), exr(picture));
    add(QStringLiteral("grey.jp2"), jp2(picture.width(), picture.height()));
    add(QStringLiteral("grey.j2k"), j2kCodestream(picture.width(), picture.height()));

    if (!hostileDir.isEmpty()) {
        const QDir dir(hostileDir);
        for (const QString &name : dir.entryList({ "*.dds", "*.blp" }, QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                add(QStringLiteral("hostile-") + name, file.readAll());
        }
    }
    return seeds;
}

// One to three of: bit flips, random bytes, a boundary value in the first 128 bytes (where the
// headers are), a cut, a repeated chunk.
QByteArray mutate(QByteArray bytes, QRandomGenerator &random)
{
    static const quint32 interesting[]
        = { 0, 0xff, 0x7f, 0x80, 0xffff, 0x8000, 0x7fffffff, 0x80000000, 0xffffffff, 1 };
    const int operations = 1 + int(random.bounded(3));
    for (int i = 0; i < operations && !bytes.isEmpty(); ++i) {
        const int size = bytes.size();
        switch (random.bounded(5)) {
        case 0:
            for (int n = 1 + int(random.bounded(8)); n > 0; --n) {
                const int at = int(random.bounded(size));
                bytes[at] = char(bytes.at(at) ^ (1 << random.bounded(8)));
            }
            break;
        case 1:
            for (int n = 1 + int(random.bounded(8)); n > 0; --n)
                bytes[int(random.bounded(size))] = char(random.bounded(256));
            break;
        case 2: {
            const int width = 1 << random.bounded(3);
            if (size < width)
                break;
            const int at = int(random.bounded(qMin(128, size - width) + 1));
            const quint32 value = interesting[random.bounded(int(std::size(interesting)))];
            char raw[4];
            if (random.bounded(2) == 0)
                qToLittleEndian(value, raw);
            else
                qToBigEndian(value << (8 * (4 - width)), raw);
            for (int b = 0; b < width; ++b)
                bytes[at + b] = raw[b];
            break;
        }
        case 3:
            bytes.truncate(int(random.bounded(size)));
            break;
        case 4: {
            const int length = 1 + int(random.bounded(qMin(size, 1024)));
            const int from = int(random.bounded(size - length + 1));
            bytes.insert(int(random.bounded(size + 1)), bytes.mid(from, length));
            break;
        }
        }
    }
    return bytes;
}

struct Totals {
    qint64 fed = 0;
    qint64 loaded = 0;
};

// Loads the files as one drop on the loader's thread and waits until the load has finished.
int loadAsDrop(ImageLoader *loader, const QList<QUrl> &urls)
{
    ImageLoader::Source source;
    source.urls = urls;
    LoadJob job(loader);
    int loaded = 0;
    QEventLoop loop;
    QObject::connect(&job, &LoadJob::itemGenerated, &loop, [&loaded] { ++loaded; });
    QObject::connect(&job, &LoadJob::finished, &loop, &QEventLoop::quit);
    QMetaObject::invokeMethod(loader, "load", Qt::QueuedConnection,
        Q_ARG(ImageLoader::Source, source), Q_ARG(LoadJob *, &job));
    loop.exec();
    return loaded;
}

void printStatus(const char *label, const Totals &totals)
{
    const DecoderPool::Statistics statistics = DecoderPool::instance().statistics();
    std::printf("%s: %lld files fed, %lld pictures loaded, %lld unreadable; helpers started %d, "
                "died %d, peak busy %d, in process %d\n",
        label, totals.fed, totals.loaded, totals.fed - totals.loaded, statistics.started,
        statistics.died, statistics.peakBusy, statistics.inProcess);
    std::fflush(stdout);
}

bool verbose = false;

// Decoders complain about every broken file; their messages are dropped unless asked for.
void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (verbose || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Feeds mutated DDS, TGA, BLP, PSD, EXR and JPEG 2000 files to the intake."));
    parser.addHelpOption();
    const QCommandLineOption countOption(
        QStringLiteral("count"), QStringLiteral("Files in all (100000)."), QStringLiteral("N"));
    const QCommandLineOption seedOption(QStringLiteral("seed"),
        QStringLiteral("Seed of the mutations (random, printed)."), QStringLiteral("S"));
    const QCommandLineOption batchOption(QStringLiteral("batch"),
        QStringLiteral("Files a round, loaded as one drop (500)."), QStringLiteral("B"));
    const QCommandLineOption hostileOption(QStringLiteral("hostile"),
        QStringLiteral("Folder of the files that crash DevIL, used as seeds."),
        QStringLiteral("DIR"), QStringLiteral(VELKORA_HOSTILE_DIR));
    const QCommandLineOption noHostileOption(QStringLiteral("no-hostile"),
        QStringLiteral("Leave the files that crash DevIL out of the seeds."));
    const QCommandLineOption verboseOption(
        QStringLiteral("verbose"), QStringLiteral("Show the decoders' messages."));
    parser.addOptions(
        { countOption, seedOption, batchOption, hostileOption, noHostileOption, verboseOption });
    parser.process(application);

    bool ok = true;
    const qint64 count
        = parser.isSet(countOption) ? parser.value(countOption).toLongLong(&ok) : 100000;
    bool batchOk = true;
    const int batch = parser.isSet(batchOption) ? parser.value(batchOption).toInt(&batchOk) : 500;
    bool seedOk = true;
    const quint32 seed = parser.isSet(seedOption) ? parser.value(seedOption).toUInt(&seedOk)
                                                  : QRandomGenerator::global()->generate();
    if (!ok || !batchOk || !seedOk || count < 0 || batch <= 0) {
        std::fprintf(stderr, "--count, --batch and --seed take positive whole numbers\n");
        return 2;
    }
    verbose = parser.isSet(verboseOption);
    qInstallMessageHandler(messageHandler);

    QTemporaryDir work;
    if (!work.isValid()) {
        std::fprintf(stderr, "no temporary folder: %s\n", qPrintable(work.errorString()));
        return 1;
    }
    const QVector<Seed> seeds = makeSeeds(
        work.path(), parser.isSet(noHostileOption) ? QString() : parser.value(hostileOption));
    if (seeds.isEmpty())
        return 1;
    std::printf("seed %u, %d seed files:", seed, int(seeds.size()));
    for (const Seed &each : seeds)
        std::printf(" %s", qPrintable(each.name));
    std::printf("\n");

    QThread loaderThread;
    auto *loader = new ImageLoader;
    loader->moveToThread(&loaderThread);
    QObject::connect(&loaderThread, &QThread::finished, loader, &QObject::deleteLater);
    loaderThread.start();

    QRandomGenerator random(seed);
    Totals totals;
    for (int round = 1; totals.fed < count; ++round) {
        const QString folder = QDir(work.path()).filePath(QStringLiteral("round"));
        QDir(folder).removeRecursively();
        QDir().mkpath(folder);
        QList<QUrl> urls;
        const int files = int(qMin<qint64>(batch, count - totals.fed));
        for (int i = 0; i < files; ++i) {
            const Seed &from = seeds.at(int(random.bounded(seeds.size())));
            QString name = from.name;
            // Now and then the extension lies, and the content has to decide.
            if (random.bounded(20) == 0) {
                const QString other = seeds.at(int(random.bounded(seeds.size()))).name;
                name = name.section(QLatin1Char('.'), 0, -2) + QLatin1Char('.')
                    + other.section(QLatin1Char('.'), -1);
            }
            const QString path = QDir(folder).filePath(
                QStringLiteral("%1-%2").arg(totals.fed + i, 6, 10, QLatin1Char('0')).arg(name));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(mutate(from.bytes, random)) < 0) {
                std::fprintf(stderr, "could not write %s\n", qPrintable(path));
                return 1;
            }
            urls.append(QUrl::fromLocalFile(path));
        }
        totals.loaded += loadAsDrop(loader, urls);
        totals.fed += files;
        printStatus(qPrintable(QStringLiteral("round %1").arg(round)), totals);
    }

    loaderThread.quit();
    loaderThread.wait();
    printStatus("done", totals);
    return 0;
}

#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "picture/decoderpool.h"
#include "picture/imagedecoder.h"
#include "picture/qdevilplugin.h"
#include "picturetesting.h"
#include "platform/decoderprotocol.h"
#include "scene/itemrecord.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/resource.h>

namespace {

QImage testPicture(int width, int height, bool alpha)
{
    QImage image(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y,
                qRgba(x * 255 / width, y * 255 / height, (x ^ y) & 0xff,
                    alpha ? 64 + (x + y) % 192 : 255));
    }
    return image;
}

void appendLe16(QByteArray &data, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    data.append(bytes, 2);
}

void appendBe(QByteArray &data, quint32 value, int size)
{
    for (int i = size - 1; i >= 0; --i)
        data.append(char((value >> (8 * i)) & 0xff));
}

// Uncompressed 32-bit TGA, bottom row first.
QByteArray tga(const QImage &image)
{
    QByteArray data;
    data.append(char(0)).append(char(0)).append(char(2));
    data.append(5, char(0));
    appendLe16(data, 0);
    appendLe16(data, 0);
    appendLe16(data, quint16(image.width()));
    appendLe16(data, quint16(image.height()));
    data.append(char(32)).append(char(8));
    for (int y = image.height() - 1; y >= 0; --y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            data.append(char(qBlue(pixel))).append(char(qGreen(pixel)));
            data.append(char(qRed(pixel))).append(char(qAlpha(pixel)));
        }
    }
    return data;
}

// Uncompressed 32-bit DDS, top row first.
QByteArray dds(const QImage &image)
{
    QByteArray data("DDS ");
    const auto le32 = [&data](quint32 value) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        data.append(bytes, 4);
    };
    le32(124);
    le32(0x1 | 0x2 | 0x4 | 0x1000 | 0x8);
    le32(quint32(image.height()));
    le32(quint32(image.width()));
    le32(quint32(image.width() * 4));
    le32(0);
    le32(0);
    data.append(11 * 4, char(0));
    for (quint32 value : { 32u, 0x41u, 0u, 32u, 0x00ff0000u, 0x0000ff00u, 0x000000ffu, 0xff000000u,
             0x1000u, 0u, 0u, 0u, 0u })
        le32(value);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            le32(image.pixel(x, y));
    }
    return data;
}

// Uncompressed 8-bit RGB Photoshop file, one plane a channel.
QByteArray psd(const QImage &image)
{
    QByteArray data("8BPS");
    appendBe(data, 1, 2);
    data.append(6, char(0));
    appendBe(data, 3, 2);
    appendBe(data, quint32(image.height()), 4);
    appendBe(data, quint32(image.width()), 4);
    appendBe(data, 8, 2);
    appendBe(data, 3, 2); // RGB
    appendBe(data, 0, 4); // colour mode data
    appendBe(data, 0, 4); // resources
    appendBe(data, 0, 4); // layers and masks
    appendBe(data, 0, 2); // raw
    for (int shift : { 16, 8, 0 }) {
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x)
                data.append(char((image.pixel(x, y) >> shift) & 0xff));
        }
    }
    return data;
}

// Uncompressed scan-line OpenEXR with float B, G, R channels.
QByteArray exr(const QImage &image)
{
    QByteArray data;
    const auto le32 = [&data](quint32 value) {
        char bytes[4];
        qToLittleEndian(value, bytes);
        data.append(bytes, 4);
    };
    const auto attribute = [&data, &le32](const char *name, const char *type, int size) {
        data.append(name).append('\0').append(type).append('\0');
        le32(quint32(size));
    };
    const auto real = [&le32](float value) {
        quint32 bits;
        std::memcpy(&bits, &value, sizeof bits);
        le32(bits);
    };
    le32(20000630);
    le32(2);
    attribute("channels", "chlist", 3 * 18 + 1);
    for (const char *channel : { "B", "G", "R" }) {
        data.append(channel).append('\0');
        le32(2); // float
        le32(0); // linear: no
        le32(1);
        le32(1);
    }
    data.append('\0');
    attribute("compression", "compression", 1);
    data.append('\0');
    for (const char *window : { "dataWindow", "displayWindow" }) {
        attribute(window, "box2i", 16);
        for (quint32 value : { 0u, 0u, quint32(image.width() - 1), quint32(image.height() - 1) })
            le32(value);
    }
    attribute("lineOrder", "lineOrder", 1);
    data.append('\0');
    attribute("pixelAspectRatio", "float", 4);
    real(1);
    attribute("screenWindowCenter", "v2f", 8);
    real(0);
    real(0);
    attribute("screenWindowWidth", "float", 4);
    real(1);
    data.append('\0');
    const int lineSize = 3 * 4 * image.width();
    const qint64 firstLine = data.size() + 8 * qint64(image.height());
    for (int y = 0; y < image.height(); ++y) {
        const quint64 offset = quint64(firstLine + qint64(y) * (8 + lineSize));
        le32(quint32(offset));
        le32(quint32(offset >> 32));
    }
    for (int y = 0; y < image.height(); ++y) {
        le32(quint32(y));
        le32(quint32(lineSize));
        for (int shift : { 0, 8, 16 }) {
            for (int x = 0; x < image.width(); ++x)
                real(float((image.pixel(x, y) >> shift) & 0xff) / 255.0f);
        }
    }
    return data;
}

QByteArray written(const QImage &image, const QByteArray &format)
{
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    return writer.write(image) ? data : QByteArray();
}

QByteArray marker(const QByteArray &word)
{
    return "VELKORA-TEST:" + word + '\n';
}

// A reply as the lying helper sends it: header, kind of region, region size, message.
QByteArray told(const DecoderProtocol::Reply &reply, quint32 regionKind, quint32 regionSize,
    const QByteArray &message = QByteArray())
{
    QByteArray data = marker("reply");
    data.chop(1);
    data.append(reinterpret_cast<const char *>(&reply), sizeof reply);
    data.append(reinterpret_cast<const char *>(&regionKind), sizeof regionKind);
    data.append(reinterpret_cast<const char *>(&regionSize), sizeof regionSize);
    return data + message;
}

DecoderProtocol::Reply pixelsReply(int width, int height, int bytesPerLine)
{
    DecoderProtocol::Reply reply;
    reply.status = DecoderProtocol::Status::Decoded;
    reply.width = width;
    reply.height = height;
    reply.bytesPerLine = bytesPerLine;
    reply.format = QImage::Format_RGB32;
    reply.regionSize = quint64(bytesPerLine) * quint64(height);
    return reply;
}

// An uncompressed grey TIFF of this size with one strip of 16 bytes.
QByteArray hugeTiff(quint32 width, quint32 height)
{
    QByteArray data("II*\0", 4);
    const auto le = [&data](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            data.append(char((value >> (8 * i)) & 0xff));
    };
    le(8, 4);
    const quint32 entries[][3]
        = { { 256, 4, width }, { 257, 4, height }, { 258, 3, 8 }, { 259, 3, 1 }, { 262, 3, 1 },
              { 273, 4, 8 + 2 + 9 * 12 + 4 }, { 277, 3, 1 }, { 278, 4, height }, { 279, 4, 16 } };
    le(9, 2);
    for (const auto &entry : entries) {
        le(entry[0], 2);
        le(entry[1], 2);
        le(1, 4);
        le(entry[2], 4);
    }
    le(0, 4);
    return data + QByteArray(16, '\0');
}

// A lossless WebP of this size (at most 16384 a side) with a few bytes of data.
QByteArray hugeWebp(quint32 width, quint32 height)
{
    QByteArray payload(1, char(0x2f));
    const quint32 bits = (width - 1) | ((height - 1) << 14);
    for (int i = 0; i < 4; ++i)
        payload.append(char((bits >> (8 * i)) & 0xff));
    payload.append(11, '\0');
    QByteArray data("RIFF");
    const quint32 riff = quint32(4 + 8 + payload.size());
    for (int i = 0; i < 4; ++i)
        data.append(char((riff >> (8 * i)) & 0xff));
    data += "WEBPVP8L";
    for (int i = 0; i < 4; ++i)
        data.append(char((payload.size() >> (8 * i)) & 0xff));
    return data + payload;
}

// The address space this process maps now.
qint64 addressSpaceInUse()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    return status.readLine().split(' ').value(0).toLongLong() * 4096;
}

// The helper that misbehaves as told. A sanitized build's cannot run inside its sandbox, which
// refuses the sanitizers' own calls: scripts/test-sanitized.sh names the normal build's instead.
QString testDecoder()
{
    const QString chosen = qEnvironmentVariable("VELKORA_TEST_DECODER");
    return chosen.isEmpty() ? QStringLiteral(VELKORA_TEST_DECODER) : chosen;
}

} // namespace

// The program's side of the decoder helpers, against the test helper that misbehaves on
// purpose: whatever a helper does costs at most its own picture.
class tst_DecoderPool : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void misbehavingHelperCostsOnePicture_data();
    void misbehavingHelperCostsOnePicture();
    void sandboxRefuses_data();
    void sandboxRefuses();
    void samePixelsAsInProcess_data();
    void samePixelsAsInProcess();
    void foreignFilesDecodeInParallel();
    void droppedPictureDataDecodesInAHelper();
    void withoutHelpersPicturesDecodeHere();
    void helperThatNoLongerStartsCostsItsPicture();
    void hugePicturesAreRefused_data();
    void hugePicturesAreRefused();

private:
    QString write(const QString &name, const QByteArray &data);
    // Loads the files as a drop does; the names of the pictures that arrived.
    QStringList load(const QStringList &paths);

    std::unique_ptr<QTemporaryDir> m_dir;
    // The message and details the last load finished with.
    QStringList m_finished;
};

void tst_DecoderPool::initTestCase()
{
    QVERIFY(QFileInfo(testDecoder()).isExecutable());
    QDevilPlugin::registerStatically();
}

void tst_DecoderPool::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    DecoderPool &pool = DecoderPool::instance();
    pool.setHelperPath(testDecoder());
    pool.setTimeout(3000);
    pool.setMaxHelpers(QThread::idealThreadCount());
}

QString tst_DecoderPool::write(const QString &name, const QByteArray &data)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size())
        return QString();
    return path;
}

QStringList tst_DecoderPool::load(const QStringList &paths)
{
    ImageLoader loader;
    QStringList names;
    connect(&loader, &BaseLoader::itemGenerated, this,
        [&names](const ItemRecord &record) { names << record.name; });
    ImageLoader::Source source;
    for (const QString &path : paths)
        source.urls << QUrl::fromLocalFile(path);
    LoadJob job(&loader);
    connect(&job, &LoadJob::finished, this, [this](const QString &message, const QString &details) {
        m_finished = QStringList { message, details };
    });
    loader.load(source, &job);
    return names;
}

void tst_DecoderPool::misbehavingHelperCostsOnePicture_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("why");

    const QString died = QStringLiteral("it ended without an answer");
    for (const char *file : { "ati2-decompress3dc.dds", "blp-ireadlump.blp" }) {
        QFile hostile(QStringLiteral(VELKORA_TEST_DATA_DIR "/hostile/") + file);
        QVERIFY(hostile.open(QIODevice::ReadOnly));
        QTest::newRow(file) << QString::fromLatin1(file) << hostile.readAll() << died;
    }
    QTest::newRow("crashes") << "bad.png" << marker("crash") << died;
    QTest::newRow("hangs") << "bad.png" << marker("hang") << "it took longer than 3 s";
    QTest::newRow("allocates past its limit") << "bad.png" << marker("alloc") << died;

    const QString nonsense = QStringLiteral("its answer made no sense");
    QTest::newRow("region smaller than the picture")
        << "bad.png" << told(pixelsReply(64, 64, 256), 1, 256) << nonsense;
    QTest::newRow("lines shorter than the width")
        << "bad.png" << told(pixelsReply(64, 1, 128), 1, 128) << nonsense;
    QTest::newRow("picture larger than any image")
        << "bad.png" << told(pixelsReply(65536, 65536, 262144), 1, 4096) << nonsense;
    QTest::newRow("negative height")
        << "bad.png" << told(pixelsReply(4, -4, 16), 1, 64) << nonsense;
    QTest::newRow("region it can still shrink")
        << "bad.png" << told(pixelsReply(4, 4, 16), 2, 64) << nonsense;
    QTest::newRow("no region") << "bad.png" << told(pixelsReply(4, 4, 16), 0, 0) << nonsense;
    DecoderProtocol::Reply otherFormat = pixelsReply(4, 4, 16);
    otherFormat.format = QImage::Format_Indexed8;
    QTest::newRow("format it may not use") << "bad.png" << told(otherFormat, 1, 64) << nonsense;
    DecoderProtocol::Reply wrongMagic = pixelsReply(4, 4, 16);
    wrongMagic.magic = 0xdeadbeef;
    QTest::newRow("not a reply") << "bad.png" << told(wrongMagic, 1, 64) << nonsense;
    DecoderProtocol::Reply longer;
    longer.messageSize = 100;
    QTest::newRow("message shorter than said")
        << "bad.png" << told(longer, 0, 0, "short") << nonsense;
    DecoderProtocol::Reply status;
    status.status = DecoderProtocol::Status(7);
    QTest::newRow("unknown status") << "bad.png" << told(status, 0, 0) << nonsense;
}

// The misbehaving picture comes out unreadable with the reason, the pictures around it arrive,
// and the next load finds a working helper again.
void tst_DecoderPool::misbehavingHelperCostsOnePicture()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, why);

    const QString before = write("before.png", written(testPicture(8, 6, false), "png"));
    const QString bad = write(name, content);
    const QString after = write("after.png", written(testPicture(5, 7, true), "png"));
    const int died = DecoderPool::instance().statistics().died;

    QCOMPARE(load({ before, bad, after }), QStringList({ "before", "after" }));
    QCOMPARE(DecoderPool::instance().statistics().died, died + 1);

    QImage image;
    const ImageLoader::LoadImageResult result = PictureFile::load(bad, false, QSize(), &image);
    QCOMPARE(result.code, int(ImageLoader::LoadImageResult::Unreadable));
    QCOMPARE(result.message, QStringLiteral("The decoder failed on %1: %2").arg(bad, why));
    QVERIFY(image.isNull());

    QCOMPARE(load({ after }), QStringList({ "after" }));
}

void tst_DecoderPool::sandboxRefuses_data()
{
    QTest::addColumn<QByteArray>("call");
    QTest::newRow("network") << QByteArray("socket");
    QTest::newRow("files") << QByteArray("open");
    QTest::newRow("processes") << QByteArray("fork");
}

void tst_DecoderPool::sandboxRefuses()
{
    QFETCH(QByteArray, call);
    QImage image;
    const ImageLoader::LoadImageResult result
        = PictureFile::load(write("probe.png", marker(call)), false, QSize(), &image);
    QCOMPARE(result.code, int(ImageLoader::LoadImageResult::Unreadable));
    QCOMPARE(result.message,
        QString::fromLatin1(call) + QStringLiteral(": ") + QString::fromLocal8Bit(strerror(EPERM)));
}

void tst_DecoderPool::samePixelsAsInProcess_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");

    const QImage opaque = testPicture(37, 23, false);
    const QImage translucent = testPicture(29, 31, true);
    QTest::newRow("TGA") << "picture.tga" << tga(translucent);
    QTest::newRow("DDS") << "picture.dds" << dds(translucent);
    QTest::newRow("PSD") << "picture.psd" << psd(opaque);
    QTest::newRow("JPEG") << "picture.jpg" << written(opaque, "jpg");
    QTest::newRow("PNG, extension that lies") << "picture.dds" << written(translucent, "png");
    // PNG files go through our own decoder where it can, to the reader where it cannot.
    QTest::newRow("PNG, opaque") << "picture.png" << written(opaque, "png");
    QTest::newRow("PNG, grey") << "picture.png"
                               << written(opaque.convertToFormat(QImage::Format_Grayscale8), "png");
    QTest::newRow("PNG, palette") << "picture.png"
                                  << written(
                                         opaque.convertToFormat(QImage::Format_Indexed8), "png");
    QTest::newRow("EXR") << "picture.exr" << exr(opaque);
}

void tst_DecoderPool::samePixelsAsInProcess()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QVERIFY(!content.isEmpty());
    const QString path = write(name, content);

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QImage here;
    QCOMPARE(
        ImageDecoder(&file, QFileInfo(path).suffix().toLatin1()).read(false, QSize(), &here).code,
        int(ImageLoader::LoadImageResult::Loaded));

    const int started = DecoderPool::instance().statistics().started;
    QImage fromHelper;
    QCOMPARE(PictureFile::load(path, false, QSize(), &fromHelper).code,
        int(ImageLoader::LoadImageResult::Loaded));
    QCOMPARE(fromHelper.format(), here.format());
    QCOMPARE(fromHelper, here);
    QVERIFY(DecoderPool::instance().statistics().started >= started);
    QCOMPARE(DecoderPool::instance().statistics().inProcess, 0);

    // Data, reduced on the way.
    QBuffer buffer(&content);
    buffer.open(QIODevice::ReadOnly);
    QImage reducedHere;
    ImageDecoder(&buffer, QFileInfo(path).suffix().toLatin1())
        .read(true, QSize(16, 16), &reducedHere);
    QImage fromData;
    QCOMPARE(DecoderPool::instance()
                 .decodeData(
                     content, QFileInfo(path).suffix().toLatin1(), true, QSize(16, 16), &fromData)
                 .code,
        int(ImageLoader::LoadImageResult::Loaded));
    QCOMPARE(fromData, reducedHere);
}

void tst_DecoderPool::foreignFilesDecodeInParallel()
{
    if (QThread::idealThreadCount() < 2)
        QSKIP("one core: nothing can run in parallel");
    QStringList paths;
    const QImage picture = testPicture(512, 384, true);
    for (int i = 0; i < 50; ++i) {
        paths << write(QStringLiteral("%1.%2").arg(i).arg(i % 2 ? "tga" : "dds"),
            i % 2 ? tga(picture) : dds(picture));
    }
    DecoderPool::instance().resetStatistics();
    QCOMPARE(load(paths).size(), 50);
    QVERIFY(DecoderPool::instance().statistics().peakBusy > 1);
}

// What another program drops or pastes comes as bytes, as untrusted as any file.
void tst_DecoderPool::droppedPictureDataDecodesInAHelper()
{
    ImageLoader loader;
    QList<QImage> pictures;
    connect(&loader, &BaseLoader::itemGenerated, this,
        [&pictures](const ItemRecord &record) { pictures << record.image; });
    DecoderPool::instance().resetStatistics();
    ImageLoader::Source source;
    source.imageBytes = tga(testPicture(6, 5, true));
    source.imageFormat = "x-tga";
    LoadJob job(&loader);
    loader.load(source, &job);
    QCOMPARE(pictures.size(), 1);
    QCOMPARE(pictures.first().size(), QSize(6, 5));
    QCOMPARE(DecoderPool::instance().statistics().inProcess, 0);
    QVERIFY(DecoderPool::instance().statistics().peakBusy > 0);
}

void tst_DecoderPool::withoutHelpersPicturesDecodeHere()
{
    DecoderPool &pool = DecoderPool::instance();
    pool.setHelperPath(m_dir->filePath("no-such-helper"));
    const int here = pool.statistics().inProcess;
    const QString path = write("here.tga", tga(testPicture(9, 4, true)));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("could not be started"));
    QCOMPARE(load({ path }), QStringList({ "here" }));
    QCOMPARE(pool.statistics().inProcess, here + 1);
}

// Once helpers have worked, decoding here would expose the program to the faults they keep away.
void tst_DecoderPool::helperThatNoLongerStartsCostsItsPicture()
{
    const QString helper = m_dir->filePath("decoder");
    QVERIFY(QFile::copy(testDecoder(), helper));
    DecoderPool &pool = DecoderPool::instance();
    pool.setHelperPath(helper);
    const QString path = write("picture.tga", tga(testPicture(9, 4, true)));
    QCOMPARE(load({ path }), QStringList({ "picture" }));

    pool.stopHelpers();
    QFile::setPermissions(helper, QFile::ReadOwner);
    const int here = pool.statistics().inProcess;
    QImage image;
    const ImageLoader::LoadImageResult result = PictureFile::load(path, false, QSize(), &image);
    QCOMPARE(result.code, int(ImageLoader::LoadImageResult::Unreadable));
    QVERIFY2(result.message.startsWith("The decoder could not be started: "),
        qPrintable(result.message));
    QCOMPARE(pool.statistics().inProcess, here);

    QFile::setPermissions(helper, QFile::ReadOwner | QFile::ExeOwner);
    QCOMPARE(load({ path }), QStringList({ "picture" }));
}

void tst_DecoderPool::hugePicturesAreRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    // The address space the program has left while it loads; 0: as much as it has.
    QTest::addColumn<qint64>("addressSpace");
    QTest::addColumn<QString>("size");

    QTest::newRow("PNG of 60000 × 60000")
        << "huge.png" << hugePng(60000, 60000) << qint64(0) << QStringLiteral("60000 × 60000");
    QTest::newRow("TIFF of 100000 × 100000, decoded in a helper")
        << "huge.tif" << hugeTiff(100000, 100000) << qint64(0) << QStringLiteral("100000 × 100000");
    // 1.6 GB: more than a helper's address space holds three times.
    QTest::newRow("TIFF of 20000 × 20000, beyond the helper's address space")
        << "large.tif" << hugeTiff(20000, 20000) << qint64(0) << QStringLiteral("20000 × 20000");
    // 1.07 GB, decoded in the program.
    QTest::newRow("WebP of 16383 × 16383, beyond the program's address space")
        << "large.webp" << hugeWebp(16383, 16383) << (qint64(768) << 20)
        << QStringLiteral("16383 × 16383");
}

// Refused before decoding, the reason told with the file's name, and the files around it
// arrive.
void tst_DecoderPool::hugePicturesAreRefused()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(qint64, addressSpace);
    QFETCH(QString, size);

    const QString before = write("before.png", written(testPicture(8, 6, false), "png"));
    const QString huge = write(name, content);
    const QString after = write("after.png", written(testPicture(5, 7, true), "png"));
    rlimit limit {};
    QVERIFY(::getrlimit(RLIMIT_AS, &limit) == 0);
    const rlimit unlimited = limit;
    if (addressSpace > 0) {
        const qint64 inUse = addressSpaceInUse();
        QVERIFY(inUse > 0);
        limit.rlim_cur = rlim_t(inUse + addressSpace);
        QVERIFY(::setrlimit(RLIMIT_AS, &limit) == 0);
    }
    const QStringList names = load({ before, huge, after });
    QImage image;
    const PictureFile::LoadResult result = PictureFile::load(huge, false, QSize(), &image);
    QVERIFY(::setrlimit(RLIMIT_AS, &unlimited) == 0);

    QCOMPARE(names, QStringList({ "before", "after" }));
    QCOMPARE(m_finished.value(0), QStringLiteral("Some pictures are too large to load."));
    QVERIFY2(m_finished.value(1).startsWith(huge + QStringLiteral(": The picture is too large: ")
                 + size + QStringLiteral(" pixels would take ")),
        qPrintable(m_finished.value(1)));
    QCOMPARE(result.code, int(PictureFile::LoadResult::Refused));
    QVERIFY(image.isNull());
}

QTEST_MAIN(tst_DecoderPool)
#include "tst_decoderpool.moc"

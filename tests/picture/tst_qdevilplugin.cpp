#include "picture/qdevilhandler.h"
#include "picture/qdevilplugin.h"

#include <QBuffer>
#include <QImage>
#include <QImageReader>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>
#include <QtEndian>

#include <memory>

namespace {

// A 2 by 2 picture: red, green on the top row, blue, white on the bottom one.
const QRgb topLeft = qRgba(255, 0, 0, 255);
const QRgb topRight = qRgba(0, 255, 0, 255);
const QRgb bottomLeft = qRgba(0, 0, 255, 128);
const QRgb bottomRight = qRgba(255, 255, 255, 255);

void appendLe16(QByteArray &data, quint16 value)
{
    char bytes[2];
    qToLittleEndian(value, bytes);
    data.append(bytes, 2);
}

void appendLe32(QByteArray &data, quint32 value)
{
    char bytes[4];
    qToLittleEndian(value, bytes);
    data.append(bytes, 4);
}

void appendBgra(QByteArray &data, QRgb pixel)
{
    data.append(char(qBlue(pixel)))
        .append(char(qGreen(pixel)))
        .append(char(qRed(pixel)))
        .append(char(qAlpha(pixel)));
}

// Uncompressed 32-bit TGA stored bottom row first, as most TGA writers do.
QByteArray bottomOriginTga()
{
    QByteArray data;
    data.append(char(0)).append(char(0)).append(char(2)); // no id, no palette, true colour
    data.append(5, char(0)); // palette description
    appendLe16(data, 0);
    appendLe16(data, 0);
    appendLe16(data, 2);
    appendLe16(data, 2);
    data.append(char(32)).append(char(8)); // 32 bits, 8 alpha bits, origin bottom left
    for (QRgb pixel : { bottomLeft, bottomRight, topLeft, topRight })
        appendBgra(data, pixel);
    return data;
}

// Uncompressed 32-bit DDS, top row first.
QByteArray dds()
{
    QByteArray data("DDS ");
    appendLe32(data, 124);
    appendLe32(data, 0x1 | 0x2 | 0x4 | 0x1000 | 0x8); // caps, height, width, pixel format, pitch
    appendLe32(data, 2); // height
    appendLe32(data, 2); // width
    appendLe32(data, 8); // pitch
    appendLe32(data, 0); // depth
    appendLe32(data, 0); // levels
    data.append(11 * 4, char(0));
    appendLe32(data, 32); // pixel format size
    appendLe32(data, 0x41); // RGB with alpha
    appendLe32(data, 0);
    appendLe32(data, 32);
    appendLe32(data, 0x00ff0000);
    appendLe32(data, 0x0000ff00);
    appendLe32(data, 0x000000ff);
    appendLe32(data, 0xff000000);
    appendLe32(data, 0x1000); // texture
    data.append(4 * 4, char(0));
    for (QRgb pixel : { topLeft, topRight, bottomLeft, bottomRight })
        appendBgra(data, pixel);
    return data;
}

bool decode(const QByteArray &data, const QByteArray &format, QImage *image)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QDevilPlugin plugin;
    std::unique_ptr<QImageIOHandler> handler(plugin.create(&buffer, format));
    return handler->read(image);
}

bool isTheTestPicture(const QImage &image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    return argb.size() == QSize(2, 2) && argb.pixel(0, 0) == topLeft && argb.pixel(1, 0) == topRight
        && argb.pixel(0, 1) == bottomLeft && argb.pixel(1, 1) == bottomRight;
}

} // namespace

class tst_QDevilPlugin : public QObject {
    Q_OBJECT

private slots:
    void capabilities_data();
    void capabilities();
    void decodesUpright_data();
    void decodesUpright();
    void refusesBrokenData_data();
    void refusesBrokenData();
    void imageReaderUsesPlugin();
    void threadsDecodeAtOnce();
};

void tst_QDevilPlugin::capabilities_data()
{
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<bool>("canRead");

    QTest::addRow("tga") << QByteArray("tga") << true;
    QTest::addRow("dds") << QByteArray("dds") << true;
    QTest::addRow("tiff, left to the plugin order") << QByteArray("tiff") << true;
    QTest::addRow("last of the list") << QByteArray("wbmp") << true;
    QTest::addRow("upper case") << QByteArray("TGA") << false;
    QTest::addRow("leading dot") << QByteArray(".tga") << false;
    QTest::addRow("toolkit's own") << QByteArray("png") << false;
    QTest::addRow("empty") << QByteArray() << false;
}

void tst_QDevilPlugin::capabilities()
{
    QFETCH(QByteArray, format);
    QFETCH(bool, canRead);
    QDevilPlugin plugin;
    QBuffer device;
    const QImageIOPlugin::Capabilities capabilities = plugin.capabilities(&device, format);
    QCOMPARE(bool(capabilities & QImageIOPlugin::CanRead), canRead);
    QVERIFY(!(capabilities & QImageIOPlugin::CanWrite));
    QCOMPARE(QDevilPlugin::formats().size(), 55);
}

void tst_QDevilPlugin::decodesUpright_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("format");

    QTest::addRow("tga stored bottom row first") << bottomOriginTga() << QByteArray("tga");
    QTest::addRow("dds stored top row first") << dds() << QByteArray("dds");
}

void tst_QDevilPlugin::decodesUpright()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, format);
    QImage image;
    QVERIFY(decode(data, format, &image));
    QVERIFY(isTheTestPicture(image));

    // Told the size and format first, a caller can have the pixels written into its own memory.
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QDevilPlugin plugin;
    std::unique_ptr<QImageIOHandler> handler(plugin.create(&buffer, format));
    QCOMPARE(handler->option(QImageIOHandler::Size).toSize(), QSize(2, 2));
    const auto declared = QImage::Format(handler->option(QImageIOHandler::ImageFormat).toInt());
    QCOMPARE(declared, QImage::Format_ARGB32_Premultiplied);
    uchar memory[2 * 2 * 4] = {};
    QImage provided(memory, 2, 2, 2 * 4, declared);
    QVERIFY(handler->read(&provided));
    QCOMPARE(provided.constBits(), memory);
    QVERIFY(isTheTestPicture(provided));
}

void tst_QDevilPlugin::refusesBrokenData_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("format");

    QTest::addRow("empty tga") << QByteArray() << QByteArray("tga");
    QTest::addRow("dds header only") << dds().left(128) << QByteArray("dds");
    QTest::addRow("dds cut in the pixels") << dds().left(130) << QByteArray("dds");
    QTest::addRow("noise as dds") << QByteArray(300, '\x5a') << QByteArray("dds");
    QTest::addRow("format DevIL does not know") << dds() << QByteArray("nosuchformat");
}

void tst_QDevilPlugin::refusesBrokenData()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, format);
    QImage image(1, 1, QImage::Format_ARGB32);
    image.fill(Qt::black);
    QVERIFY(!decode(data, format, &image));
    // No partial picture is delivered.
    QCOMPARE(image.size(), QSize(1, 1));
}

void tst_QDevilPlugin::imageReaderUsesPlugin()
{
    QDevilPlugin::registerStatically();
    QDevilPlugin::registerStatically(); // a second registration changes nothing
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("texture.dds"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(dds());
    file.close();

    QImageReader reader(path);
    const QImage image = reader.read();
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    QVERIFY(isTheTestPicture(image));
}

void tst_QDevilPlugin::threadsDecodeAtOnce()
{
    QThreadPool pool;
    pool.setMaxThreadCount(4);
    QVector<QFuture<bool>> jobs;
    for (int job = 0; job < 64; ++job) {
        jobs.append(QtConcurrent::run(&pool, [job] {
            QImage image;
            const bool tga = job % 2 == 0;
            return decode(tga ? bottomOriginTga() : dds(), tga ? "tga" : "dds", &image)
                && isTheTestPicture(image);
        }));
    }
    int decoded = 0;
    for (QFuture<bool> &job : jobs)
        decoded += job.result() ? 1 : 0;
    QCOMPARE(decoded, jobs.size());
}

QTEST_GUILESS_MAIN(tst_QDevilPlugin)
#include "tst_qdevilplugin.moc"

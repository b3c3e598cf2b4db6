#include "../persistence/beeboards.h"
#include "../picture/animationwriting.h"
#include "../picture/gifwriting.h"
#include "app/mainwindow.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "settings/settingshandler.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

void writePng(const QString &path, const QSize &size, const QColor &color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    image.save(path, "PNG");
}

// Frames big enough that decoding the next one takes a while: the ending must come while one
// decodes.
QVector<QImage> animationFrames(int count)
{
    QVector<QImage> frames;
    for (int i = 0; i < count; ++i) {
        QImage frame = fewColours(96, 64);
        frame.setPixel(i, i, qRgb(255, 255, 255));
        frames.append(frame);
    }
    return frames;
}

QByteArray animatedPng()
{
    QVector<AnimationWriting::PngFrame> frames;
    for (const QImage &image : animationFrames(6)) {
        AnimationWriting::PngFrame frame;
        frame.image = image;
        frame.delayNumerator = 2;
        frame.delayDenominator = 100;
        frames.append(frame);
    }
    return AnimationWriting::encodeApng(QSize(96, 64), frames);
}

QByteArray animatedWebP()
{
    QVector<AnimationWriting::WebPFrame> frames;
    for (const QImage &image : animationFrames(6)) {
        AnimationWriting::WebPFrame frame;
        frame.image = image;
        frame.duration = 20;
        frames.append(frame);
    }
    return AnimationWriting::encodeWebP(QSize(96, 64), frames);
}

// A still whose full pixels take long to decode: noise keeps the PNG from compressing.
QByteArray largeStill()
{
    QImage image(3000, 2000, QImage::Format_RGB32);
    quint32 state = 12345;
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = 0xff000000u | (state >> 8);
        }
    }
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG", 100);
    return buffer.data();
}

} // namespace

// Named commands as a script uses them: the program run headless with -c options. Each check is
// "file" (written), "!file" (not written), "file=WxH" (an image of that size) or "a==b" (two
// images with the same pixels).
class tst_NamedCommands : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void script_data();
    void script();
    void loadCentresImages();
    void endings_data();
    void endings();
    void loadsCoverTheScene_data();
    void loadsCoverTheScene();

private:
    QTemporaryDir m_settingsDir;
};

void tst_NamedCommands::initTestCase()
{
    QVERIFY(m_settingsDir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
}

void tst_NamedCommands::script_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("checks");
    QTest::addColumn<QByteArrayList>("output");

    QTest::addRow("load, save, export, exit")
        << QStringList { "load;a.png,b.png;100;50", "save;board.vlk", "exportScene;board.png",
               "exit" }
        << 0 << QStringList { "board.vlk", "board.png" } << QByteArrayList();
    QTest::addRow("a scene file is exported once it has been read")
        << QStringList { "load;a.png,b.png", "save;one.vlk", "exportScene;before.png", "clearScene",
               "load;one.vlk", "exportScene;after.png", "exit" }
        << 0 << QStringList { "after.png==before.png" } << QByteArrayList();
    QTest::addRow("width -1 takes the scene's size") << QStringList {
        "load;a.png", "exportScene;full.png", "exportScene;minus.png;-1;7", "exit"
    } << 0 << QStringList { "minus.png==full.png" } << QByteArrayList();
    QTest::addRow("sides are limited to 20000")
        << QStringList { "load;a.png", "exportScene;wide.png;30000;10", "exit" } << 0
        << QStringList { "wide.png=20000x10" } << QByteArrayList();
    QTest::addRow("part of the board at a scale, the selection at half size") << QStringList {
        "load;a.png", "exportScene;part.webp;-1;-1;false;false;90;-20,-15,20,10;200",
        "exportScene;selection.png;-1;-1;true;true;100;selection;50", "exit"
    } << 0 << QStringList { "part.webp=40x20", "selection.png=20x15" } << QByteArrayList();
    QTest::addRow("images under a name pattern")
        << QStringList { "load;a.png", "exportImages;.;false;img_%0", "exit" } << 0
        << QStringList { "img_1.png=40x30", "!img_2.png" } << QByteArrayList();
    QTest::addRow("exit code") << QStringList { "exit;3" } << 3 << QStringList()
                               << QByteArrayList();
    QTest::addRow("failures are logged and the script goes on")
        << QStringList { "foo", "save", "exportScene;x.png;;;false", "exportScene;empty.png",
               "exit;4" }
        << 4 << QStringList { "!x.png", "!empty.png" }
        << QByteArrayList { R"(No method named "foo" found.)",
               "Nothing saved: no path was given and the board has none yet.",
               "Failed to parse argument 'false'",
               "Encountered error while invoking method: exportScene: Failed to export "
               "image.: Image is empty" };
}

void tst_NamedCommands::script()
{
    QFETCH(QStringList, commands);
    QFETCH(int, exitCode);
    QFETCH(QStringList, checks);
    QFETCH(QByteArrayList, output);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    dir.setAutoRemove(!QTest::currentTestFailed());
    writePng(dir.filePath("a.png"), { 40, 30 }, Qt::red);
    writePng(dir.filePath("b.png"), { 20, 60 }, Qt::blue);

    QStringList arguments { "--settings", dir.filePath("settings") + QLatin1Char('/') };
    for (const QString &command : commands)
        arguments << "-c" << command;
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(VELKORA_BINARY), arguments);
    QVERIFY(process.waitForFinished(120000));
    const QByteArray log = process.readAllStandardOutput() + process.readAllStandardError();
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QVERIFY2(process.exitCode() == exitCode, log.constData());
    for (const QByteArray &text : output)
        QVERIFY2(log.contains(text), QByteArray(text + "\nnot in\n" + log).constData());

    const QDir folder(dir.path());
    for (const QString &check : checks) {
        if (check.startsWith(QLatin1Char('!'))) {
            QVERIFY2(!folder.exists(check.mid(1)), qPrintable(check));
        } else if (check.contains(QLatin1String("=="))) {
            const QImage first(folder.filePath(check.section(QLatin1String("=="), 0, 0)));
            const QImage second(folder.filePath(check.section(QLatin1String("=="), 1)));
            QVERIFY2(!first.isNull() && first.size() == second.size() && first == second,
                qPrintable(check));
        } else if (check.contains(QLatin1Char('='))) {
            const QImage image(folder.filePath(check.section(QLatin1Char('='), 0, 0)));
            const QStringList size = check.section(QLatin1Char('='), 1).split(QLatin1Char('x'));
            QCOMPARE(image.size(), QSize(size.at(0).toInt(), size.at(1).toInt()));
        } else {
            QVERIFY2(folder.exists(check), qPrintable(check));
        }
    }
}

void tst_NamedCommands::loadCentresImages()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    writePng(dir.filePath("a.png"), { 40, 30 }, Qt::red);
    writePng(dir.filePath("b.png"), { 20, 60 }, Qt::blue);
    SettingsHandler handler(QStringLiteral("Centre"));
    auto window = std::make_unique<MainWindow>();

    window->load(QStringList { dir.filePath("a.png"), dir.filePath("b.png") }, 100, 50);
    QTRY_VERIFY(window->isIdle());
    const QList<GraphicsItem *> items = window->scene()->addedItems();
    QCOMPARE(items.size(), 2);
    const QRectF bounds = items.at(0)->sceneBounds() | items.at(1)->sceneBounds();
    QVERIFY2(qAbs(bounds.center().x() - 100) <= 1 && qAbs(bounds.center().y() - 50) <= 1,
        qPrintable(
            QStringLiteral("centre %1, %2").arg(bounds.center().x()).arg(bounds.center().y())));
}

// Every way the process ends while pictures still decode on the pool: exit status 0, no crash as
// the toolkit's globals go.
void tst_NamedCommands::endings_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("bytes");

    const QList<QPair<QString, QByteArray>> contents {
        { "animated.gif", gifOf(animationFrames(6), 2) }, { "animated.webp", animatedWebP() },
        { "animated.png", animatedPng() }, { "large.png", largeStill() }
    };
    for (const char *ending : { "exit", "terminate", "hang up" }) {
        for (const auto &content : contents)
            QTest::addRow("%s, %s", ending, qPrintable(content.first))
                << QString::fromLatin1(ending) << content.first << content.second;
    }
}

void tst_NamedCommands::endings()
{
    QFETCH(QString, ending);
    QFETCH(QString, fileName);
    QFETCH(QByteArray, bytes);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    dir.setAutoRemove(!QTest::currentTestFailed());
    QFile file(dir.filePath(fileName));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();

    // Twice: the ending races the decoding, and the race is lost most times, not every time.
    for (int round = 0; round < 2; ++round) {
        const QString exported = QStringLiteral("shown%1.png").arg(round);
        QStringList arguments { "--settings", dir.filePath("settings") + QLatin1Char('/'), "-c",
            "load;" + fileName, "-c", "exportScene;" + exported };
        if (ending == QLatin1String("exit"))
            arguments << "-c"
                      << "exit";
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir.path());
        process.start(QStringLiteral(VELKORA_BINARY), arguments);
        QVERIFY(process.waitForStarted());
        if (ending != QLatin1String("exit")) {
            // Signalled once the picture has been painted, its next frame decoding.
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(dir.filePath(exported)).size() > 0, 60000);
            ::kill(pid_t(process.processId()),
                ending == QLatin1String("terminate") ? SIGTERM : SIGHUP);
        }
        QVERIFY(process.waitForFinished(120000));
        const QByteArray log = process.readAllStandardOutput() + process.readAllStandardError();
        QVERIFY2(process.exitStatus() == QProcess::NormalExit, log.constData());
        QVERIFY2(process.exitCode() == 0, log.constData());
        QVERIFY2(QFileInfo(dir.filePath(exported)).size() > 0, log.constData());
    }
}

// Whatever was loaded, the next command or action finds the scene rectangle over all of it,
// though no view has painted since: a script's export at the scene's size shows every picture.
// The rectangle grows from the origin symmetrically.
void tst_NamedCommands::loadsCoverTheScene_data()
{
    QTest::addColumn<QString>("load");
    QTest::addColumn<QRectF>("sceneRect");

    // a.png (40 x 30) centred at (100, 50) spans x 80..120, y 35..65.
    QTest::addRow("pictures") << "a.png" << QRectF(-120, -65, 240, 130);
    QTest::addRow("a board") << "one.vlk" << QRectF(-120, -65, 240, 130);
    // Top-left corners: a.png at (100, 50) spans x 100..140, y 50..80; b.png (20 x 60) at
    // (-300, 0) spans x -300..-280.
    QTest::addRow("a BeeRef board") << "board.bee" << QRectF(-300, -80, 600, 160);
}

void tst_NamedCommands::loadsCoverTheScene()
{
    QFETCH(QString, load);
    QFETCH(QRectF, sceneRect);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    dir.setAutoRemove(!QTest::currentTestFailed());
    writePng(dir.filePath("a.png"), { 40, 30 }, Qt::red);
    auto pngBytes = [](const QSize &pictureSize, const QColor &color) {
        QImage image(pictureSize, QImage::Format_RGB32);
        image.fill(color);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return buffer.data();
    };
    BeeBoards::Item first;
    first.x = 100;
    first.y = 50;
    first.data = R"({"filename": "a.png"})";
    first.blob = pngBytes({ 40, 30 }, Qt::red);
    BeeBoards::Item second = first;
    second.x = -300;
    second.y = 0;
    second.z = 1;
    second.blob = pngBytes({ 20, 60 }, Qt::blue);
    QVERIFY(BeeBoards::write(dir.filePath("board.bee"), { first, second }));

    SettingsHandler handler(QStringLiteral("Cover"));
    // Hidden windows paint nothing: only the end of the load can grow the rectangle.
    {
        auto window = std::make_unique<MainWindow>();
        window->hide();
        window->load(QStringList { dir.filePath("a.png") }, 100, 50);
        QTRY_VERIFY(window->isIdle());
        window->saveQuiet(dir.filePath("one.vlk"));
        QTRY_VERIFY(window->isIdle() && QFileInfo::exists(dir.filePath("one.vlk")));
        if (load == QLatin1String("a.png")) {
            QCOMPARE(window->scene()->sceneRect(), sceneRect);
            return;
        }
    }
    auto window = std::make_unique<MainWindow>();
    window->hide();
    window->load(dir.filePath(load));
    QTRY_VERIFY(window->isIdle() && !window->scene()->addedItems().isEmpty());
    QCOMPARE(window->scene()->sceneRect(), sceneRect);
}

QTEST_MAIN(tst_NamedCommands)
#include "tst_namedcommands.moc"

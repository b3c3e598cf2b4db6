#include "app/mainwindow.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "settings/settingshandler.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

void writePng(const QString &path, const QSize &size, const QColor &color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    image.save(path, "PNG");
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

QTEST_MAIN(tst_NamedCommands)
#include "tst_namedcommands.moc"

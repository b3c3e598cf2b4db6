#include "app/mainwindow.h"
#include "commands/addcommand.h"
#include "commands/commandhandler.h"
#include "dialoganswerer.h"
#include "persistence/autosavefile.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "settings/settingshandler.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_AutoSave : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void newBoardAutoSavesIntoItsOwnFile();
    void savedBoardAutoSavesInPlace();
    void nothingToAutoSave_data();
    void nothingToAutoSave();
    void restoredAutoSaveCarriesOn();
    void unreadableAutoSaveIsKept();

private:
    QStringList autoSaves() const;
    void addPicture(MainWindow *window, QRgb colour = qRgb(255, 0, 0));
    void autoSaveAndWait(MainWindow *window);

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    MainWindow *m_window = nullptr;
    int m_run = 0;
};

void tst_AutoSave::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
    AutoSaveFile::setFolderForTesting(m_dir.filePath(QStringLiteral("autosave")));
}

void tst_AutoSave::init()
{
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Settings%1").arg(++m_run));
    m_window = new MainWindow;
}

void tst_AutoSave::cleanup()
{
    m_window->forceClear();
    delete m_window;
    m_handler.reset();
    QDir(AutoSaveFile::folder()).removeRecursively();
}

QStringList tst_AutoSave::autoSaves() const
{
    const QDir folder(AutoSaveFile::folder());
    QStringList paths;
    for (const QString &name : folder.entryList({ QStringLiteral("*.vlk") }, QDir::Files))
        paths << folder.filePath(name);
    return paths;
}

void tst_AutoSave::addPicture(MainWindow *window, QRgb colour)
{
    QPixmap pixmap(40, 30);
    pixmap.fill(QColor(colour));
    auto *item = new GraphicsImageItem(Picture::fromPixels(pixmap.toImage()), QString(),
        QStringLiteral("picture"), QPointF(window->scene()->addedItems().size() * 50, 0));
    window->commandHandler()->push(new AddCommand(window->scene(), item));
}

void tst_AutoSave::autoSaveAndWait(MainWindow *window)
{
    window->autoSave();
    QTRY_VERIFY(window->isIdle());
}

// A board without a file autosaves into a file of its own, stays unsaved under its old title,
// writes nothing while unchanged, and loses the autosave once saved for real.
void tst_AutoSave::newBoardAutoSavesIntoItsOwnFile()
{
    DialogAnswerer answerer({});
    addPicture(m_window);
    autoSaveAndWait(m_window);
    QCOMPARE(autoSaves().size(), 1);
    const QString autoSave = autoSaves().first();
    QVERIFY2(QRegularExpression(QStringLiteral("/Velkora-AutoSave-\\d{14}-\\w{6}\\.vlk$"))
                 .match(autoSave)
                 .hasMatch(),
        qPrintable(autoSave));
    QVERIFY(QFileInfo(autoSave).size() > 0);
    QCOMPARE(QFile::permissions(AutoSaveFile::folder()) & 0x0077, QFileDevice::Permissions());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Velkora"));
    QVERIFY(m_window->hasUnsavedChanges());
    QVERIFY(m_window->currentPath().isEmpty());

    // Dated back by an hour, the file would show any rewrite whatever the clock's resolution.
    const QDateTime written = QFileInfo(autoSave).lastModified().addSecs(-3600);
    {
        QFile file(autoSave);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(written, QFileDevice::FileModificationTime));
    }
    autoSaveAndWait(m_window);
    QCOMPARE(QFileInfo(autoSave).lastModified(), written);

    addPicture(m_window);
    autoSaveAndWait(m_window);
    QCOMPARE(autoSaves(), QStringList { autoSave });
    QVERIFY(!QFile::exists(autoSave + QLatin1String(".old")));

    m_window->save(m_dir.filePath(QStringLiteral("board.vlk")), MainWindow::NoBackup);
    QTRY_VERIFY(m_window->isIdle());
    QVERIFY(autoSaves().isEmpty());
    QVERIFY2(answerer.questions.isEmpty(), qPrintable(answerer.questions.join('|')));
}

void tst_AutoSave::savedBoardAutoSavesInPlace()
{
    const QString board = m_dir.filePath(QStringLiteral("inplace.vlk"));
    addPicture(m_window);
    m_window->save(board, MainWindow::NoBackup);
    QTRY_VERIFY(m_window->isIdle());
    addPicture(m_window);
    QVERIFY(m_window->hasUnsavedChanges());
    autoSaveAndWait(m_window);
    QVERIFY(!m_window->hasUnsavedChanges());
    QVERIFY(autoSaves().isEmpty());

    m_window->forceClear();
    m_window->load(board);
    QTRY_VERIFY(m_window->isIdle());
    QCOMPARE(m_window->scene()->addedItems().size(), 2);
}

void tst_AutoSave::nothingToAutoSave_data()
{
    QTest::addColumn<QString>("state");
    QTest::newRow("new board, no edit") << "untouched";
    QTest::newRow("edited, then cleared") << "cleared";
    QTest::newRow("command-line mode") << "command line";
}

void tst_AutoSave::nothingToAutoSave()
{
    QFETCH(QString, state);
    if (state == QLatin1String("cleared")) {
        addPicture(m_window);
        m_window->forceClear();
    } else if (state == QLatin1String("command line")) {
        addPicture(m_window);
        m_window->setCommandLineMode(true);
    }
    m_window->autoSave();
    QVERIFY(m_window->isIdle());
    QVERIFY(autoSaves().isEmpty());
}

// A left-over autosave, taken over by another window, comes back whole and unsaved, goes on
// autosaving into the same file, and goes away once the board is saved.
void tst_AutoSave::restoredAutoSaveCarriesOn()
{
    addPicture(m_window, qRgb(0, 128, 255));
    addPicture(m_window, qRgb(10, 20, 30));
    autoSaveAndWait(m_window);
    QCOMPARE(autoSaves().size(), 1);
    // What a killed process leaves: the file without an owner.
    const QString leftOver
        = QDir(AutoSaveFile::folder())
              .filePath(QStringLiteral("Velkora-AutoSave-07122026185039-abcdef.vlk"));
    QVERIFY(QFile::copy(autoSaves().first(), leftOver));

    std::unique_ptr<MainWindow> restoring(new MainWindow);
    restoring->setAttribute(Qt::WA_DeleteOnClose, false);
    QVERIFY(restoring->document()->restoreAutoSave(leftOver));
    // Claimed: nobody else can take it now.
    QVERIFY(!AutoSaveFile().takeOver(leftOver));
    restoring->load(leftOver, MainWindow::RestoreAutoSave);
    QTRY_VERIFY(restoring->isIdle());
    QCOMPARE(restoring->scene()->addedItems().size(), 2);
    QSet<QRgb> colours;
    for (GraphicsItem *item : restoring->scene()->addedItems()) {
        auto *picture = dynamic_cast<GraphicsImageItem *>(item);
        QVERIFY(picture);
        colours << picture->pixels().pixel(5, 5);
    }
    QCOMPARE(colours, (QSet<QRgb> { qRgb(0, 128, 255), qRgb(10, 20, 30) }));
    QVERIFY(restoring->hasUnsavedChanges());
    QVERIFY(restoring->currentPath().isEmpty());
    QCOMPARE(restoring->windowTitle(), QStringLiteral("Velkora"));

    addPicture(restoring.get());
    autoSaveAndWait(restoring.get());
    QCOMPARE(autoSaves().size(), 2);
    QVERIFY(autoSaves().contains(leftOver));

    restoring->save(m_dir.filePath(QStringLiteral("restored.vlk")), MainWindow::NoBackup);
    QTRY_VERIFY(restoring->isIdle());
    QVERIFY(!QFile::exists(leftOver));
    restoring->forceClear();
}

void tst_AutoSave::unreadableAutoSaveIsKept()
{
    DialogAnswerer answerer({});
    QDir().mkpath(AutoSaveFile::folder());
    const QString leftOver
        = QDir(AutoSaveFile::folder())
              .filePath(QStringLiteral("Velkora-AutoSave-07122026185039-zzzzzz.vlk"));
    QFile file(leftOver);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a board at all");
    file.close();
    {
        MainWindow restoring;
        restoring.setAttribute(Qt::WA_DeleteOnClose, false);
        QVERIFY(restoring.document()->restoreAutoSave(leftOver));
        restoring.load(leftOver, MainWindow::RestoreAutoSave);
        QTRY_VERIFY(restoring.isIdle());
        QVERIFY(!restoring.document()->autoSaveFile());
    }
    QVERIFY(QFile::exists(leftOver));
}

QTEST_MAIN(tst_AutoSave)
#include "tst_autosave.moc"

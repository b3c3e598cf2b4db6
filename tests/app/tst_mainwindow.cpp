#include "app/commandlineexecutor.h"
#include "app/jobcontroller.h"
#include "app/mainwindow.h"
#include "commands/commandhandler.h"
#include "dialoganswerer.h"
#include "input/action.h"
#include "input/actionhandler.h"
#include "jobs/loadjob.h"
#include "picture/picture.h"
#include "picture/picturebudget.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settings.h"
#include "settings/settingshandler.h"
#include "ui/progressdialog.h"
#include "view/graphicsview.h"

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QMimeData>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

QString writePng(const QString &path, const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    image.save(path, "PNG");
    return path;
}

QList<ProgressDialog *> progressDisplays()
{
    QList<ProgressDialog *> displays;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *display = qobject_cast<ProgressDialog *>(widget))
            displays.append(display);
    }
    return displays;
}

} // namespace

// The main window's side of load jobs: items appear, become one undoable addition, are selected
// and packed; notes stick to the selected image; the canvas stays locked while jobs run; drops
// load where they fell, or are refused while the canvas is locked.
class tst_MainWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void droppedFilesAreOneUndoStep();
    void textAttachesToSelectedImage();
    void overlappingJobsKeepTheLock();
    void progressDisplayGoesWithTheLastJob();
    void clearWithoutQuestion();
    void commandsOutsideScriptsAsk_data();
    void commandsOutsideScriptsAsk();
    void dropOnCanvas_data();
    void dropOnCanvas();
    void everyKeyIsUsed();
    void pictureMemoryIsTheBudgetsLimit_data();
    void pictureMemoryIsTheBudgetsLimit();
    void firstTimeSetupAskedOnce();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    MainWindow *m_window = nullptr;
    int m_run = 0;
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_MainWindow::init()
{
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Settings%1").arg(++m_run));
    m_window = new MainWindow;
}

void tst_MainWindow::cleanup()
{
    m_window->generalSettings()->setting(QStringLiteral("Hide Unsaved Warning"))->setValue(true);
    delete m_window;
    m_handler.reset();
}

void tst_MainWindow::droppedFilesAreOneUndoStep()
{
    const QList<QUrl> urls { QUrl::fromLocalFile(writePng(m_dir.filePath("one.png"), { 100, 80 })),
        QUrl::fromLocalFile(writePng(m_dir.filePath("two.png"), { 60, 120 })),
        QUrl::fromLocalFile(writePng(m_dir.filePath("three.png"), { 90, 90 })) };
    m_window->handleOpenFileRequest(urls);
    QTRY_VERIFY(m_window->isIdle());

    GraphicsScene *scene = m_window->scene();
    // Each item is on the scene once, although it arrived before the load became an addition.
    QCOMPARE(scene->addedItems().size(), 3);
    QCOMPARE(scene->graphicsItems().size(), 3);
    QCOMPARE(scene->selectedGraphicsItems().size(), 3);
    // Packed: no two pictures overlap any more, although all were created at one point.
    const QList<GraphicsItem *> items = scene->addedItems();
    for (int i = 0; i < items.size(); ++i)
        for (int j = i + 1; j < items.size(); ++j)
            QVERIFY(!items.at(i)->sceneBounds().intersects(items.at(j)->sceneBounds()));
    QVERIFY(m_window->hasUnsavedChanges());

    m_window->undo();
    QVERIFY(scene->addedItems().isEmpty());
    QVERIFY(!m_window->hasUnsavedChanges());
    m_window->redo();
    QCOMPARE(scene->addedItems().size(), 3);
}

void tst_MainWindow::textAttachesToSelectedImage()
{
    auto *image = new GraphicsImageItem(Picture::fromPixels(QImage(50, 50, QImage::Format_RGB32)),
        QString(), QStringLiteral("image"), QPointF(0, 0));
    m_window->scene()->addItem(image);
    image->setSelected(true);

    ImageLoader::Source source;
    source.text = QStringLiteral("reminder");
    source.position = QPointF(200, 0);
    m_window->loadSource(source);
    QTRY_VERIFY(m_window->isIdle());

    const QList<GraphicsItem *> children = image->childGraphicsItems();
    QCOMPARE(children.size(), 1);
    QCOMPARE(children.first()->text(), QStringLiteral("reminder"));
    // It keeps its place when attached, and follows its image afterwards.
    QCOMPARE(children.first()->scenePosition(), QPointF(200, 0));
    image->moveBy(10, 5);
    QCOMPARE(children.first()->scenePosition(), QPointF(210, 5));
}

void tst_MainWindow::overlappingJobsKeepTheLock()
{
    GraphicsView *view = m_window->view();
    Setting *userLock = m_window->generalSettings()->setting(QStringLiteral("CanvasLocked"));
    QVERIFY(!view->isCanvasLocked());

    LoadJob first;
    LoadJob second;
    m_window->jobs()->jobStarted(QStringLiteral("first"), &first);
    m_window->jobs()->jobStarted(QStringLiteral("second"), &second);
    m_window->jobs()->jobFinished(QString(), QString(), &first);
    QVERIFY(view->isCanvasLocked());
    // The user locks the canvas meanwhile: the end of the jobs must not undo that.
    userLock->setValue(true);
    m_window->jobs()->jobFinished(QString(), QString(), &second);
    QVERIFY(view->isCanvasLocked());
    userLock->setValue(false);
    QVERIFY(!view->isCanvasLocked());
    QCOMPARE(userLock->value(), QVariant(false));
}

// A display left hidden kept the keyboard it took when it appeared: on X11 the window answered no
// key after a long paste or load until something outside activated it.
void tst_MainWindow::progressDisplayGoesWithTheLastJob()
{
    m_window->show();
    JobController *jobs = m_window->jobs();
    // The window's own jobs, which it shows and deletes when they have ended.
    LoadJob *first = jobs->createJob(nullptr);
    LoadJob *second = jobs->createJob(nullptr);
    jobs->jobStarted(QStringLiteral("first"), first);
    jobs->jobStarted(QStringLiteral("second"), second);
    QTRY_COMPARE(progressDisplays().size(), 1);
    QTRY_VERIFY(progressDisplays().first()->isVisible());
    jobs->jobFinished(QString(), QString(), first);
    QVERIFY(progressDisplays().first()->isVisible());
    jobs->jobFinished(QString(), QString(), second);
    QTRY_VERIFY(progressDisplays().isEmpty());

    // The next job that makes the user wait has a display again.
    LoadJob *third = jobs->createJob(nullptr);
    jobs->jobStarted(QStringLiteral("third"), third);
    QTRY_COMPARE(progressDisplays().size(), 1);
    QTRY_VERIFY(progressDisplays().first()->isVisible());
    jobs->jobFinished(QString(), QString(), third);
    QTRY_VERIFY(progressDisplays().isEmpty());
}

void tst_MainWindow::clearWithoutQuestion()
{
    m_window->handleOpenFileRequest(
        { QUrl::fromLocalFile(writePng(m_dir.filePath("c.png"), { 10, 10 })) });
    QTRY_VERIFY(m_window->isIdle());
    QVERIFY(m_window->hasUnsavedChanges());

    // While a job runs, clearing is refused.
    LoadJob running;
    m_window->jobs()->jobStarted(QStringLiteral("busy"), &running);
    m_window->forceClear();
    QCOMPARE(m_window->scene()->addedItems().size(), 1);
    m_window->jobs()->jobFinished(QString(), QString(), &running);

    m_window->generalSettings()->setting(QStringLiteral("Hide Unsaved Warning"))->setValue(true);
    m_window->clearScene();
    QVERIFY(m_window->scene()->addedItems().isEmpty());
    QCOMPARE(m_window->commandHandler()->count(), 0);
    QVERIFY(!m_window->hasUnsavedChanges());
}

void tst_MainWindow::commandsOutsideScriptsAsk_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<bool>("afterScript");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("cleared");
    QTest::addRow("clearScene on a key, cancelled") << "clearScene" << false << "Cancel" << false;
    QTest::addRow("clearScene on a key, not saved")
        << "clearScene" << false << "Don't Save" << true;
    QTest::addRow("exit on a key, cancelled") << "exit" << false << "Cancel" << false;
    QTest::addRow("New after a script that left the window open")
        << "New Scene" << true << "Cancel" << false;
}

// A user at the keys is asked before the board goes, even by the commands scripts use; a script
// that hands the window over leaves it asking too.
void tst_MainWindow::commandsOutsideScriptsAsk()
{
    QFETCH(QString, command);
    QFETCH(bool, afterScript);
    QFETCH(QString, answer);
    QFETCH(bool, cleared);

    const QString png = writePng(m_dir.filePath("kept.png"), { 10, 10 });
    if (afterScript) {
        m_window->setCommandLineMode(true);
        QSignalSpy done(m_window->commandLineExecutor(), &CommandLineExecutor::finished);
        m_window->commandLineExecutor()->execute({ QStringLiteral("load;") + png });
        QVERIFY(done.wait(30000));
        QVERIFY(!m_window->isCommandLineMode());
    } else {
        m_window->handleOpenFileRequest({ QUrl::fromLocalFile(png) });
        QTRY_VERIFY(m_window->isIdle());
    }
    QVERIFY(m_window->hasUnsavedChanges());

    DialogAnswerer answerer({ answer });
    QPointer<MainWindow> window = m_window;
    ActionHandler::instance()->action(command)->trigger();
    // Named commands run from the event loop.
    QCoreApplication::processEvents();
    QVERIFY(window);
    QCOMPARE(answerer.questions.size(), 1);
    QCOMPARE(m_window->scene()->addedItems().isEmpty(), cleared);
}

void tst_MainWindow::dropOnCanvas_data()
{
    QTest::addColumn<bool>("locked");

    QTest::addRow("loads at the drop point") << false;
    QTest::addRow("locked canvas refuses") << true;
}

void tst_MainWindow::dropOnCanvas()
{
    QFETCH(bool, locked);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->generalSettings()->setting(QStringLiteral("CanvasLocked"))->setValue(locked);
    QSignalSpy popups(m_window, &MainWindow::popupRequested);
    QMimeData mime;
    mime.setUrls({ QUrl::fromLocalFile(writePng(m_dir.filePath("dropped.png"), { 60, 40 })) });

    GraphicsView *view = m_window->view();
    const QPoint at(view->viewport()->width() / 3, view->viewport()->height() / 3);
    const QPointF sceneAt = view->mapToScene(at);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &drop);
    QTRY_VERIFY(m_window->isIdle());

    const QList<GraphicsItem *> items = m_window->scene()->graphicsItems();
    if (locked) {
        QVERIFY(items.isEmpty());
        QCOMPARE(popups.count(), 1);
    } else {
        QCOMPARE(items.size(), 1);
        QVERIFY(QLineF(items.first()->sceneBounds().center(), sceneAt).length() < 1.0);
        QCOMPARE(m_window->commandHandler()->count(), 1);
    }
}

void tst_MainWindow::everyKeyIsUsed()
{
    const QSet<QString> used = m_window->generalSettings()->usedNames();
    QStringList unused;
    for (const GeneralSettings::Definition &entry : GeneralSettings::definitions()) {
        if (!used.contains(entry.name))
            unused.append(entry.name);
    }
    QVERIFY2(unused.isEmpty(), qPrintable(unused.join(", ")));
}

void tst_MainWindow::pictureMemoryIsTheBudgetsLimit_data()
{
    QTest::addColumn<QString>("stored"); // empty: nothing stored
    QTest::addColumn<int>("changedTo"); // 0: not changed
    QTest::addColumn<qint64>("megabytes");

    QTest::addRow("nothing stored")
        << QString() << 0 << PictureBudget::defaultLimit() / (qint64(1024) * 1024);
    // 3000 MB is more bytes than an int holds.
    QTest::addRow("stored, applied at start") << "3000" << 0 << qint64(3000);
    QTest::addRow("stored below the range") << "10" << 0 << qint64(256);
    QTest::addRow("changed while running") << QString() << 2500 << qint64(2500);
}

void tst_MainWindow::pictureMemoryIsTheBudgetsLimit()
{
    QFETCH(QString, stored);
    QFETCH(int, changedTo);
    QFETCH(qint64, megabytes);

    PictureBudget::instance().setLimit(1);
    delete m_window;
    if (!stored.isEmpty())
        m_handler->store()->setValue(QStringLiteral("General_Settings/Picture_Memory"), stored);
    m_window = new MainWindow;
    if (changedTo != 0)
        m_window->generalSettings()->setting(QStringLiteral("Picture Memory"))->setValue(changedTo);
    const qint64 machine
        = qint64(GeneralSettings::definition(QStringLiteral("Picture Memory"))->maximum);
    QCOMPARE(PictureBudget::instance().limit(), std::min(megabytes, machine) * 1024 * 1024);
}

void tst_MainWindow::firstTimeSetupAskedOnce()
{
    SettingsHandler *handler = SettingsHandler::instance();
    const QString firstTime = GeneralSettings::key(QStringLiteral("FirstTimeSetup"));
    m_window->setCommandLineMode(true);
    QVERIFY(!m_window->offerFirstTimeSetup());
    QVERIFY(!handler->hasStoredValue(firstTime));
    m_window->setCommandLineMode(false);

    QString title;
    QTimer::singleShot(0, this, [&title] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        title = dialog->windowTitle();
        const QList<QCheckBox *> boxes = dialog->findChildren<QCheckBox *>();
        for (QCheckBox *box : boxes) {
            if (box->text() == QLatin1String("Auto Save"))
                box->setChecked(true);
        }
        dialog->accept();
    });
    QVERIFY(m_window->offerFirstTimeSetup());
    QCOMPARE(title, QStringLiteral("First Time Setup"));
    QSettings file(handler->store()->fileName(), QSettings::IniFormat);
    QCOMPARE(file.value(QStringLiteral("General_Settings/Auto_Save")).toBool(), true);
    QCOMPARE(file.value(QStringLiteral("General_Settings/Embed_Local_Files")).toBool(), true);
    QCOMPARE(file.value(QStringLiteral("General_Settings/FirstTimeSetup")).toBool(), true);
    QVERIFY(!m_window->offerFirstTimeSetup());
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"

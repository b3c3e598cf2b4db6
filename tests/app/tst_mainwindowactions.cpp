#include "app/mainwindow.h"
#include "app/mainwindowactions.h"
#include "commands/addcommand.h"
#include "commands/commandhandler.h"
#include "dialoganswerer.h"
#include "input/action.h"
#include "input/keybinder.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "ui/contextmenuentry.h"
#include "ui/contextmenuhandler.h"
#include "ui/mainframe.h"
#include "ui/popuplabel.h"
#include "ui/preferenceswindow.h"
#include "update/updateservice.h"
#include "view/graphicsview.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <memory>

namespace {

QStringList s_warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        s_warnings.append(message);
}

// Answers the next file dialog with path, as a user typing it would. The whole path goes into
// the name field: selecting the file instead races the dialog's listing of its new folder.
void answerFileDialog(const QString &path)
{
    auto *poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, path] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        auto *name
            = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!name)
            return;
        poll->deleteLater();
        name->setText(path);
        QMetaObject::invokeMethod(dialog, "accept");
    });
    poll->start();
}

// The actions behind the entries of a menu and of its submenus.
QList<QAction *> entriesOf(const QList<QAction *> &actions)
{
    QList<QAction *> found;
    for (QAction *action : actions) {
        auto *entry = qobject_cast<ContextMenuEntry *>(action);
        found.append(entry ? entry->action() : action);
        if (action->menu())
            found += entriesOf(action->menu()->actions());
    }
    return found;
}

// The names of the pictures from the bottom of the stack to its top.
QString stacking(GraphicsScene *scene)
{
    QString names;
    const QList<GraphicsItem *> items = scene->topLevelItems(Qt::AscendingOrder);
    for (const GraphicsItem *item : items)
        names += item->text();
    return names;
}

// Stands in for the browser: the desktop services hand it every web address they would open.
class Browser : public QObject {
    Q_OBJECT

public:
    Browser()
    {
        for (const char *scheme : { "http", "https" })
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~Browser() override
    {
        for (const char *scheme : { "http", "https" })
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }

    QStringList opened;

public slots:
    void open(const QUrl &url) { opened.append(url.toString()); }
};

} // namespace

// Every command within reach of the window alone: the main window's actions, their keys and
// their entries in the context menu.
class tst_MainWindowActions : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void defaultBindingsDoNotConflict();
    void menuEntries_data();
    void menuEntries();
    void roundTripThroughKeysAlone();
    void preferencesOpenAtTheirPage_data();
    void preferencesOpenAtTheirPage();
    void checkForUpdatesSaysWhyNot();
    void stackingKeys_data();
    void stackingKeys();
    void smoothPicturesSwitch();
    void sourceOfPicture_data();
    void sourceOfPicture();

private:
    // A picture on top of the others, at the same place; its name is the source given.
    GraphicsImageItem *addPicture(const QString &source);
    void saveAndReopen(const QString &name);
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier);
    QString writePng(const QString &name, const QSize &size);

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    MainWindow *m_window = nullptr;
    int m_run = 0;
};

void tst_MainWindowActions::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_MainWindowActions::init()
{
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Actions%1").arg(++m_run));
    s_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(collectWarnings);
    m_window = new MainWindow;
    qInstallMessageHandler(previous);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->activateWindow();
}

void tst_MainWindowActions::cleanup()
{
    m_window->generalSettings()->setting(QStringLiteral("Hide Unsaved Warning"))->setValue(true);
    delete m_window;
    m_handler.reset();
}

void tst_MainWindowActions::press(int key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(m_window->windowHandle(), Qt::Key(key), modifiers);
    QCoreApplication::processEvents();
}

GraphicsImageItem *tst_MainWindowActions::addPicture(const QString &source)
{
    QPixmap pixmap(40, 30);
    pixmap.fill(Qt::darkCyan);
    auto *item
        = new GraphicsImageItem(Picture::fromPixels(pixmap.toImage()), source, source, QPointF());
    m_window->commandHandler()->push(new AddCommand(m_window->scene(), item));
    return item;
}

void tst_MainWindowActions::saveAndReopen(const QString &name)
{
    const QString board = m_dir.filePath(name);
    m_window->save(board, MainWindow::NoBackup);
    QTRY_VERIFY(m_window->isIdle());
    m_window->forceClear();
    m_window->load(board);
    QTRY_VERIFY(m_window->isIdle());
}

QString tst_MainWindowActions::writePng(const QString &name, const QSize &size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = m_dir.filePath(name);
    image.save(path, "PNG");
    return path;
}

void tst_MainWindowActions::defaultBindingsDoNotConflict()
{
    const QStringList conflicts = s_warnings.filter(QStringLiteral("conflicts with"));
    QVERIFY2(conflicts.isEmpty(), qPrintable(conflicts.join(QLatin1Char('\n'))));
}

void tst_MainWindowActions::menuEntries_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("enabledOnEmptyBoard");
    QTest::addColumn<bool>("enabledWithSelection");

    QTest::addRow("new") << "New Scene" << true << true;
    QTest::addRow("save") << "Save Scene" << true << true;
    QTest::addRow("undo, nothing done yet") << "Undo" << false << true;
    QTest::addRow("redo") << "Redo" << false << false;
    QTest::addRow("delete") << "Delete Images" << false << true;
    QTest::addRow("select all") << "Select All" << false << true;
    QTest::addRow("new note") << "New Note" << true << true;
    QTest::addRow("align left") << "Align Left" << false << true;
    QTest::addRow("bring forward") << "Bring Forward" << false << true;
    QTest::addRow("smooth pictures") << "Smooth Pictures" << false << true;
    QTest::addRow("arrange optimally (the view's)") << "Arrange Optimally" << false << true;
    QTest::addRow("reset crop") << "Reset Crop" << false << true;
    QTest::addRow("export scene") << "Export Scene" << false << true;
    QTest::addRow("export selected images") << "Export Selected Images" << false << true;
    QTest::addRow("always on top (the frame's)") << "Always On Top" << true << true;
    QTest::addRow("close (the frame's)") << "Close Window" << true << true;
    QTest::addRow("open source") << "Open Image Source" << false << true;
    QTest::addRow("copy source address") << "Copy Source Address" << false << true;
    QTest::addRow("settings") << "Open Settings" << true << true;
    QTest::addRow("about") << "About" << true << true;
    QTest::addRow("check for updates") << "Check For Updates" << true << true;
}

void tst_MainWindowActions::menuEntries()
{
    QFETCH(QString, name);
    QFETCH(bool, enabledOnEmptyBoard);
    QFETCH(bool, enabledWithSelection);

    const auto entry = [this, &name]() -> Action * {
        const QList<QAction *> entries
            = entriesOf(ContextMenuHandler::instance()->build(m_window->geometry().center()));
        for (QAction *candidate : entries) {
            auto *action = qobject_cast<Action *>(candidate);
            if (action && action->name() == name)
                return action;
        }
        return nullptr;
    };
    Action *empty = entry();
    QVERIFY2(empty, "no such entry");
    QCOMPARE(empty->isEnabled(), enabledOnEmptyBoard);

    m_window->handleOpenFileRequest({ QUrl::fromLocalFile(writePng("a.png", { 40, 30 })),
        QUrl::fromLocalFile(writePng("b.png", { 20, 50 })) });
    QTRY_VERIFY(m_window->isIdle());
    QTRY_COMPARE(m_window->scene()->selectedGraphicsItems().size(), 2);
    QCOMPARE(entry()->isEnabled(), enabledWithSelection);
}

void tst_MainWindowActions::preferencesOpenAtTheirPage_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("page");
    QTest::addColumn<QString>("pageClass");
    QTest::addRow("settings") << "Open Settings" << int(MainWindow::SettingsPage)
                              << "CustomizeSettings";
    QTest::addRow("colours") << "Open Colors" << int(MainWindow::ColorsPage) << "ColorCustomizer";
    QTest::addRow("key bindings") << "Open Key Bindings" << int(MainWindow::KeyBindingsPage)
                                  << "KeyBinder";
}

void tst_MainWindowActions::preferencesOpenAtTheirPage()
{
    QFETCH(QString, name);
    QFETCH(int, page);
    QFETCH(QString, pageClass);
    m_window->actions()->action(name)->trigger();
    PreferencesWindow *preferences = m_window->preferencesWindow();
    QVERIFY(preferences && preferences->isVisible());
    QCOMPARE(preferences->currentPage(), page);
    const auto *tabs = preferences->findChild<QTabWidget *>();
    QCOMPARE(tabs->currentWidget()->metaObject()->className(), pageClass.toLatin1());
    // The others are hidden: pages paint no background, one left visible shows through.
    for (int other = 0; other < tabs->count(); ++other)
        QCOMPARE(tabs->widget(other)->isVisible(), other == page);
    // The binder outlives the window that showed it: actions made later still find their row.
    delete m_window;
    m_window = nullptr;
    QVERIFY(KeyBinder::instance());
    m_window = new MainWindow;
}

void tst_MainWindowActions::checkForUpdatesSaysWhyNot()
{
    if (UpdateService::builtIn().isConfigured())
        QSKIP("This build asks a real update service.");
    DialogAnswerer answerer({ QStringLiteral("OK") });
    m_window->actions()->action(QStringLiteral("Check For Updates"))->trigger();
    QTRY_COMPARE(answerer.questions.size(), 1);
    QVERIFY2(answerer.questions.first().contains(
                 QStringLiteral("No update service is configured for this build.")),
        qPrintable(answerer.questions.first()));
}

void tst_MainWindowActions::roundTripThroughKeysAlone()
{
    m_window->handleOpenFileRequest({ QUrl::fromLocalFile(writePng("one.png", { 64, 48 })),
        QUrl::fromLocalFile(writePng("two.png", { 32, 80 })) });
    QTRY_VERIFY(m_window->isIdle());
    GraphicsScene *scene = m_window->scene();
    QCOMPARE(scene->topLevelItems().size(), 2);

    scene->clearSelection();
    press(Qt::Key_A);
    QCOMPARE(scene->selectedGraphicsItems().size(), 2);
    press(Qt::Key_Delete, Qt::NoModifier);
    QCOMPARE(scene->topLevelItems().size(), 0);
    press(Qt::Key_Z);
    QCOMPARE(scene->topLevelItems().size(), 2);

    const QString board = m_dir.filePath(QStringLiteral("round trip.vlk"));
    answerFileDialog(board);
    press(Qt::Key_S);
    QTRY_VERIFY(QFile::exists(board));
    QTRY_VERIFY(m_window->isIdle());
    QVERIFY(!m_window->hasUnsavedChanges());

    press(Qt::Key_N);
    QCOMPARE(scene->topLevelItems().size(), 0);

    answerFileDialog(board);
    press(Qt::Key_O);
    QTRY_VERIFY(m_window->isIdle());
    QTRY_COMPARE(scene->topLevelItems().size(), 2);
    QCOMPARE(m_window->currentPath(), board);
}

void tst_MainWindowActions::stackingKeys_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("shift");
    QTest::addColumn<QString>("expected");

    // Pictures a, b and c on top of one another, c on top.
    QTest::addRow("bring forward") << "a" << int(Qt::Key_PageUp) << false << "bac";
    QTest::addRow("send backward") << "c" << int(Qt::Key_PageDown) << false << "acb";
    QTest::addRow("bring to front") << "a" << int(Qt::Key_PageUp) << true << "bca";
    QTest::addRow("send to back") << "c" << int(Qt::Key_PageDown) << true << "cab";
}

void tst_MainWindowActions::stackingKeys()
{
    QFETCH(QString, selected);
    QFETCH(int, key);
    QFETCH(bool, shift);
    QFETCH(QString, expected);

    for (const QString &name : { QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c") })
        addPicture(name)->setSelected(name == selected);
    press(key, shift ? Qt::ControlModifier | Qt::ShiftModifier : Qt::ControlModifier);
    QCOMPARE(stacking(m_window->scene()), expected);
    press(Qt::Key_Z);
    QCOMPARE(stacking(m_window->scene()), QStringLiteral("abc"));
    press(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    saveAndReopen(QStringLiteral("stacking %1.vlk").arg(QLatin1String(QTest::currentDataTag())));
    QCOMPARE(stacking(m_window->scene()), expected);

    m_window->scene()->topLevelItems().first()->setSelected(true);
    m_window->setCanvasLocked(true);
    QVERIFY(!m_window->actions()->action(QStringLiteral("Send Backward"))->isEnabled());
    m_window->setCanvasLocked(false);
}

void tst_MainWindowActions::smoothPicturesSwitch()
{
    const int on = GraphicsImageItem::SmoothFilter;
    const auto filters = [this] {
        QList<int> result;
        const QList<GraphicsItem *> items = m_window->scene()->topLevelItems(Qt::AscendingOrder);
        for (GraphicsItem *item : items)
            result.append(static_cast<GraphicsImageItem *>(item)->filter());
        return result;
    };
    Action *selectAll = m_window->actions()->action(QStringLiteral("Select All"));
    Action *smooth = m_window->actions()->action(QStringLiteral("Smooth Pictures"));
    addPicture(QStringLiteral("a"));
    addPicture(QStringLiteral("b"))->setFilter(0);
    selectAll->trigger();
    QVERIFY(!smooth->isChecked());

    // A mixed selection becomes smooth, then all of it hard: one step each.
    const int steps = m_window->commandHandler()->count();
    smooth->trigger();
    QCOMPARE(filters(), (QList<int> { on, on }));
    QVERIFY(smooth->isChecked());
    smooth->trigger();
    QCOMPARE(filters(), (QList<int> { 0, 0 }));
    QVERIFY(!smooth->isChecked());
    QCOMPARE(m_window->commandHandler()->count(), steps + 2);

    saveAndReopen(QStringLiteral("smoothing.vlk"));
    QCOMPARE(filters(), (QList<int> { 0, 0 }));
    selectAll->trigger();
    QVERIFY(!smooth->isChecked());
}

void tst_MainWindowActions::sourceOfPicture_data()
{
    QTest::addColumn<QString>("pictureAddress");
    QTest::addColumn<QString>("pageAddress");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<bool>("inBrowser");

    const QString picture = QStringLiteral("https://example.com/cats/1.jpg");
    const QString page = QStringLiteral("https://example.com/cats.html?sort=new");
    QTest::addRow("found on a page: the page") << picture << page << page << true;
    QTest::addRow("downloaded: the picture") << picture << QString() << picture << true;
    QTest::addRow("a file: not for the browser")
        << QString() << QString() << QDir::toNativeSeparators(m_dir.filePath("cat.png")) << false;
}

void tst_MainWindowActions::sourceOfPicture()
{
    QFETCH(QString, pictureAddress);
    QFETCH(QString, pageAddress);
    QFETCH(QString, origin);
    QFETCH(bool, inBrowser);

    Browser browser;
    GraphicsImageItem *item = addPicture(m_dir.filePath("cat.png"));
    item->setAddresses(pictureAddress, pageAddress);
    item->setSelected(true);
    // A local file is shown by the file manager; an address goes to the browser.
    m_window->actions()->action(QStringLiteral("Open Image Source"))->trigger();
    QCOMPARE(browser.opened, inBrowser ? QStringList { origin } : QStringList());
    m_window->actions()->action(QStringLiteral("Copy Source Address"))->trigger();
    QCOMPARE(QDir::toNativeSeparators(QGuiApplication::clipboard()->text()), origin);

    // Hovered with the keys held, the picture tells where it came from.
    GraphicsView *view = m_window->view();
    const QPoint over
        = view->viewport()->mapToGlobal(view->mapFromScene(item->sceneBoundingRect().center()));
    Action *hover = m_window->actions()->action(QStringLiteral("Show Image Source"));
    QVERIFY(hover);
    emit hover->continuousBegin(over, nullptr);
    QTRY_COMPARE(m_window->frame()->popupLabel()->heading(), origin);
    emit hover->continuousEnd({ over, over, over }, nullptr);
}

QTEST_MAIN(tst_MainWindowActions)
#include "tst_mainwindowactions.moc"

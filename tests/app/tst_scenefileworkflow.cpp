#include "../persistence/beeboards.h"
#include "app/mainwindow.h"
#include "commands/addcommand.h"
#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "commands/cropcommand.h"
#include "commands/deletecommand.h"
#include "commands/depthchangecommand.h"
#include "dialoganswerer.h"
#include "picture/picture.h"
#include "picture/picturebudget.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"

#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// The names of the items from the bottom of the stack to its top.
QStringList stacking(GraphicsScene *scene)
{
    QList<GraphicsItem *> items = scene->graphicsItems();
    std::stable_sort(items.begin(), items.end(),
        [](GraphicsItem *a, GraphicsItem *b) { return a->zValue() < b->zValue(); });
    QStringList names;
    for (GraphicsItem *item : qAsConst(items))
        names << item->text();
    return names;
}

} // namespace

class tst_SceneFileWorkflow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void secondSaveMakesAndDropsBackup();
    void loadingIsNotAnEdit_data();
    void loadingIsNotAnEdit();
    void backupLoadedAndSaved();
    void checksumMismatchIsAsked_data();
    void checksumMismatchIsAsked();
    void recentFilesStayShortAndUnique();
    void closeWaitsForTheChosenSave();
    void closingWhileAJobRuns_data();
    void closingWhileAJobRuns();
    void savingKeepsWhatUndoRestores_data();
    void savingKeepsWhatUndoRestores();
    void closedBoardLetsItsPicturesGo_data();
    void closedBoardLetsItsPicturesGo();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }
    // A red picture beside the others; its name is the source given.
    GraphicsImageItem *addPicture(const QString &source = QString());
    void saveAndWait(const QString &file = QString());
    void loadAndWait(const QString &file);

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    MainWindow *m_window = nullptr;
    int m_run = 0;
};

void tst_SceneFileWorkflow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_SceneFileWorkflow::init()
{
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Settings%1").arg(++m_run));
    m_window = new MainWindow;
}

void tst_SceneFileWorkflow::cleanup()
{
    if (m_window)
        m_window->forceClear();
    delete m_window;
    m_handler.reset();
    for (const QString &name : QDir(m_dir.path()).entryList({ "*.vlk*" }))
        QFile::remove(path(name));
}

GraphicsImageItem *tst_SceneFileWorkflow::addPicture(const QString &source)
{
    QPixmap pixmap(40, 30);
    pixmap.fill(Qt::red);
    auto *item = new GraphicsImageItem(Picture::fromPixels(pixmap.toImage()), source,
        QStringLiteral("red"), QPointF(m_window->scene()->addedItems().size() * 50, 0));
    m_window->commandHandler()->push(new AddCommand(m_window->scene(), item));
    return item;
}

void tst_SceneFileWorkflow::saveAndWait(const QString &file)
{
    if (file.isEmpty())
        m_window->save();
    else
        m_window->save(file, MainWindow::NoBackup);
    QTRY_VERIFY(m_window->isIdle());
}

void tst_SceneFileWorkflow::loadAndWait(const QString &file)
{
    m_window->load(file);
    QTRY_VERIFY(m_window->isIdle());
}

void tst_SceneFileWorkflow::secondSaveMakesAndDropsBackup()
{
    DialogAnswerer answerer({});
    addPicture();
    saveAndWait(path("board.vlk"));
    QVERIFY(QFile::exists(path("board.vlk")));
    QVERIFY(!m_window->hasUnsavedChanges());
    QCOMPARE(m_window->windowTitle(), QStringLiteral("board.vlk - Velkora"));
    QCOMPARE(m_window->recentFiles(), QStringList { path("board.vlk") });

    addPicture();
    QVERIFY(m_window->hasUnsavedChanges());
    saveAndWait();
    // The second save of the same file asks nothing: it knows the file it wrote.
    QVERIFY2(answerer.questions.isEmpty(), qPrintable(answerer.questions.join('|')));
    QVERIFY(!QFile::exists(path("board.vlk.old")));
    QVERIFY(!m_window->hasUnsavedChanges());
    QCOMPARE(m_window->recentFiles(), QStringList { path("board.vlk") });

    m_window->forceClear();
    loadAndWait(path("board.vlk"));
    QCOMPARE(m_window->scene()->addedItems().size(), 2);
}

void tst_SceneFileWorkflow::loadingIsNotAnEdit_data()
{
    QTest::addColumn<QString>("file");
    QTest::addRow("a board of ours") << "two.vlk";
    // Another program's board opens as a new board, which is saved as one of ours.
    QTest::addRow("a BeeRef board") << "two.bee";
}

void tst_SceneFileWorkflow::loadingIsNotAnEdit()
{
    QFETCH(QString, file);
    const bool ours = file.endsWith(QLatin1String(".vlk"));
    QBuffer jpeg;
    if (ours) {
        addPicture();
        addPicture();
        saveAndWait(path(file));
        m_window->forceClear();
    } else {
        jpeg.open(QIODevice::WriteOnly);
        QImage red(40, 30, QImage::Format_RGB32);
        red.fill(Qt::red);
        red.save(&jpeg, "jpeg");
        BeeBoards::Item picture;
        picture.blob = jpeg.data();
        QVERIFY(BeeBoards::write(path(file), { picture, picture }));
    }
    const QDateTime written = QFileInfo(path(file)).lastModified();
    loadAndWait(path(file));
    QCOMPARE(m_window->scene()->addedItems().size(), 2);
    QCOMPARE(m_window->commandHandler()->count(), 0);
    QCOMPARE(m_window->hasUnsavedChanges(), !ours);
    QCOMPARE(m_window->currentPath(), ours ? path(file) : QString());
    if (ours)
        return;

    // Save asks where to write a board of ours.
    QString proposed;
    QString fileType;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        auto *name
            = dialog ? dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")) : nullptr;
        if (!name || !proposed.isEmpty())
            return;
        proposed = name->text();
        fileType = dialog->selectedNameFilter();
        name->setText(path("saved.vlk"));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    poll.start(20);
    saveAndWait();
    QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("two.vlk"));
    QCOMPARE(fileType, QStringLiteral("Velkora Scene (*.vlk)"));
    QCOMPARE(m_window->currentPath(), path("saved.vlk"));
    QVERIFY(!m_window->hasUnsavedChanges());
    QCOMPARE(QFileInfo(path(file)).lastModified(), written);
    // The stored JPEG is what the board of ours holds: nothing was encoded again.
    QFile saved(path("saved.vlk"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QVERIFY(saved.readAll().contains(jpeg.data()));
}

void tst_SceneFileWorkflow::backupLoadedAndSaved()
{
    addPicture();
    saveAndWait(path("x.vlk"));
    QVERIFY(QFile::copy(path("x.vlk"), path("x.vlk.old")));
    m_window->forceClear();

    // Opening a file with a backup beside it asks which to open.
    DialogAnswerer answerer({ QStringLiteral("Load Backup") });
    loadAndWait(path("x.vlk"));
    QCOMPARE(answerer.questions.size(), 1);
    QCOMPARE(m_window->currentPath(), path("x.vlk.old"));
    QCOMPARE(m_window->recentFiles().first(), path("x.vlk"));

    // Saving a loaded backup writes the file it backs up, without a backup of its own.
    addPicture();
    saveAndWait();
    QCOMPARE(answerer.questions.size(), 1);
    QCOMPARE(m_window->currentPath(), path("x.vlk"));
    m_window->forceClear();
    QFile::remove(path("x.vlk.old"));
    loadAndWait(path("x.vlk"));
    QCOMPARE(m_window->scene()->addedItems().size(), 2);
}

void tst_SceneFileWorkflow::checksumMismatchIsAsked_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("items");
    QTest::addRow("cancel") << QString() << 0;
    QTest::addRow("force open") << "Force Open" << 1;
}

void tst_SceneFileWorkflow::checksumMismatchIsAsked()
{
    QFETCH(QString, answer);
    QFETCH(int, items);
    addPicture();
    // A free note has no block to wait for: it reaches the board before the checksum is known.
    m_window->commandHandler()->push(
        new AddCommand(m_window->scene(), new GraphicsTextItem(QPointF(0, 80), "note")));
    saveAndWait(path("m.vlk"));
    m_window->forceClear();

    // The first character of the stored checksum (UTF-16 at offset 44) no longer matches. The
    // pictures go on the board while the checksum is computed; what came before the question
    // leaves with the load, and only what the answer asks for comes back.
    QFile file(path("m.vlk"));
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.seek(45));
    const char stored = file.peek(1).at(0);
    file.write(QByteArray(1, stored == '0' ? '1' : '0'));
    file.close();

    DialogAnswerer answerer({ answer });
    loadAndWait(path("m.vlk"));
    QCOMPARE(answerer.questions.size(), 1);
    QVERIFY(answerer.questions.first().contains(QLatin1String("might be corrupt")));
    // Forcing the file open loads it again by recovery, after the first load ended.
    QTRY_COMPARE(m_window->scene()->addedItems().size(), items);
    QTRY_VERIFY(m_window->isIdle());
    QCOMPARE(m_window->scene()->addedItems().size(), items);
}

void tst_SceneFileWorkflow::recentFilesStayShortAndUnique()
{
    m_window->generalSettings()->setting(QStringLiteral("NumOfRecentFiles"))->setValue(2);
    addPicture();
    for (const char *name : { "a.vlk", "b.vlk", "a.vlk", "c.vlk" })
        saveAndWait(path(name));
    QCOMPARE(m_window->recentFiles(), QStringList({ path("c.vlk"), path("a.vlk") }));

    // The list is kept in the settings, slot by slot.
    delete m_window;
    m_window = new MainWindow;
    QCOMPARE(m_window->recentFiles(), QStringList({ path("c.vlk"), path("a.vlk") }));
}

void tst_SceneFileWorkflow::closeWaitsForTheChosenSave()
{
    addPicture();
    saveAndWait(path("closing.vlk"));
    addPicture();

    // Choosing to save in the close question keeps the window open until the save has ended.
    DialogAnswerer answerer({ QStringLiteral("Save") });
    QPointer<MainWindow> window = m_window;
    QVERIFY(!window->close());
    QTRY_VERIFY(!window);
    m_window = nullptr;
    QCOMPARE(answerer.questions.size(), 1);

    m_window = new MainWindow;
    loadAndWait(path("closing.vlk"));
    QCOMPARE(m_window->scene()->addedItems().size(), 2);
}

void tst_SceneFileWorkflow::closingWhileAJobRuns_data()
{
    QTest::addColumn<QString>("job");
    QTest::addRow("save in place") << "save";
    QTest::addRow("load") << "load";
}

// Closing never cuts a job's end short: a save finishes, backup removed, before the window goes;
// a load is cancelled. Either way the board on disk stays whole.
void tst_SceneFileWorkflow::closingWhileAJobRuns()
{
    QFETCH(QString, job);
    const QString board = path("large.vlk");
    // Noise does not compress: each picture takes the writer a while.
    QRandomGenerator random(7);
    for (int i = 0; i < 12; ++i) {
        QImage noise(700, 700, QImage::Format_RGB32);
        for (int y = 0; y < noise.height(); ++y) {
            auto *line = reinterpret_cast<quint32 *>(noise.scanLine(y));
            random.fillRange(line, noise.width());
        }
        auto *item = new GraphicsImageItem(
            Picture::fromPixels(noise), QString(), QStringLiteral("noise"), QPointF(i * 710, 0));
        m_window->commandHandler()->push(new AddCommand(m_window->scene(), item));
    }
    saveAndWait(board);
    addPicture();
    const int saved = m_window->scene()->addedItems().size();
    QByteArray before;
    if (job == QLatin1String("save")) {
        m_window->save();
    } else {
        QFile file(board);
        QVERIFY(file.open(QIODevice::ReadOnly));
        before = file.readAll();
        m_window->forceClear();
        m_window->load(board);
    }

    DialogAnswerer answerer({});
    QPointer<MainWindow> window = m_window;
    QVERIFY(!m_window->isIdle());
    m_window->close();
    QTRY_VERIFY_WITH_TIMEOUT(!window, 60000);
    m_window = nullptr;
    QCOMPARE(answerer.questions, QStringList());
    QVERIFY(!QFile::exists(board + QLatin1String(".old")));

    m_window = new MainWindow;
    loadAndWait(board);
    if (job == QLatin1String("save")) {
        QCOMPARE(m_window->scene()->addedItems().size(), saved);
    } else {
        QFile file(board);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll() == before);
    }
}

void tst_SceneFileWorkflow::savingKeepsWhatUndoRestores_data()
{
    QTest::addColumn<QString>("edit");
    for (const char *edit : { "depth", "delete", "add", "paste", "crop", "arrange" })
        QTest::addRow("%s", edit) << QString::fromLatin1(edit);
}

void tst_SceneFileWorkflow::savingKeepsWhatUndoRestores()
{
    QFETCH(QString, edit);
    // The same edit on the same board, once without and once with a save after it: undo and redo
    // must stack the items alike.
    QList<QStringList> outcomes;
    for (const bool save : { false, true }) {
        m_window->forceClear();
        GraphicsScene *scene = m_window->scene();
        CommandHandler *commands = m_window->commandHandler();
        GraphicsImageItem *a = addPicture(QStringLiteral("a"));
        GraphicsImageItem *b = addPicture(QStringLiteral("b"));
        GraphicsImageItem *c = addPicture(QStringLiteral("c"));
        // Depths with gaps, as a long session leaves them.
        commands->push(new DepthChangeCommand(scene, a, DepthChangeCommand::ToFront));
        commands->push(new DepthChangeCommand(scene, c, DepthChangeCommand::ToBack));

        if (edit == QLatin1String("depth")) {
            commands->push(new DepthChangeCommand(scene, b, DepthChangeCommand::ToFront));
        } else if (edit == QLatin1String("delete")) {
            commands->push(new DeleteCommand(scene, { b }));
        } else if (edit == QLatin1String("add")) {
            addPicture(QStringLiteral("d"));
        } else if (edit == QLatin1String("paste")) {
            ImageLoader::Source source;
            source.image = QImage(12, 12, QImage::Format_RGB32);
            source.image.fill(Qt::green);
            source.position = QPointF(5, 5);
            m_window->loadSource(source);
            QTRY_VERIFY(m_window->isIdle());
        } else if (edit == QLatin1String("crop")) {
            auto *crop = new CropCommand({ b }, b->sceneBounds().topLeft() + QPointF(2, 2));
            crop->update(b->sceneBounds().center());
            crop->finish();
            commands->push(crop);
        } else {
            auto *arrange = new AlignCommand({ a, b, c }, AlignCommand::Pack, 4, 1.5f);
            arrange->finish();
            commands->push(arrange);
        }
        const QStringList edited = stacking(scene);
        if (save) {
            saveAndWait(path(edit + QLatin1String(".vlk")));
            QVERIFY(!m_window->hasUnsavedChanges());
        }
        QCOMPARE(stacking(scene), edited);
        m_window->undo();
        const QStringList undone = stacking(scene);
        m_window->redo();
        outcomes << (QStringList() << undone << QStringLiteral("|") << stacking(scene));
    }
    QCOMPARE(outcomes.at(1), outcomes.at(0));
}

void tst_SceneFileWorkflow::closedBoardLetsItsPicturesGo_data()
{
    QTest::addColumn<QString>("next");
    QTest::addColumn<bool>("nextHasPictures");
    QTest::addRow("cleared") << QString() << false;
    QTest::addRow("another board opened") << "notes.vlk" << false;
    QTest::addRow("the same board opened again") << "pictures.vlk" << true;
}

// Returning to a board again and again must not hold more memory each time: whatever still
// refers to a closed board's pictures (the undo stack, the decoded pixels charged to the budget,
// the view's caches) keeps their pixels alive.
void tst_SceneFileWorkflow::closedBoardLetsItsPicturesGo()
{
    QFETCH(QString, next);
    QFETCH(bool, nextHasPictures);
    // The deletion below is an unsaved change, which opening another board asks about.
    DialogAnswerer answerer({ QStringLiteral("Don't Save") });
    m_window->commandHandler()->push(
        new AddCommand(m_window->scene(), new GraphicsTextItem(QPointF(), QStringLiteral("n"))));
    saveAndWait(path("notes.vlk"));
    m_window->forceClear();
    const qint64 chargedBefore = PictureBudget::instance().chargedBytes();

    for (int i = 0; i < 3; ++i)
        addPicture();
    saveAndWait(path("pictures.vlk"));
    m_window->forceClear();
    loadAndWait(path("pictures.vlk"));
    // Pictures in every place a board keeps them: on the board, in the undo stack, with their
    // full pixels in memory.
    std::vector<std::weak_ptr<Picture>> pictures;
    QList<GraphicsItem *> deleted;
    const QList<GraphicsItem *> items = m_window->scene()->graphicsItems();
    for (GraphicsItem *item : items) {
        if (auto *image = dynamic_cast<GraphicsImageItem *>(item)) {
            image->picture()->setFull(image->picture()->pixels());
            pictures.push_back(image->picture());
            if (deleted.isEmpty())
                deleted << item;
        }
    }
    QCOMPARE(int(pictures.size()), 3);
    QVERIFY(PictureBudget::instance().chargedBytes() > chargedBefore);
    m_window->commandHandler()->push(new DeleteCommand(m_window->scene(), deleted));

    if (next.isEmpty()) {
        m_window->forceClear();
    } else {
        loadAndWait(path(next));
        QCOMPARE(m_window->currentPath(), path(next));
    }
    // Items go by deleteLater.
    QTRY_VERIFY(std::all_of(pictures.cbegin(), pictures.cend(),
        [](const std::weak_ptr<Picture> &picture) { return picture.expired(); }));
    if (!nextHasPictures)
        QCOMPARE(PictureBudget::instance().chargedBytes(), chargedBefore);
}

QTEST_MAIN(tst_SceneFileWorkflow)
#include "tst_scenefileworkflow.moc"

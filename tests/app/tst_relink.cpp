#include "app/mainwindow.h"
#include "app/relinkcontroller.h"
#include "commands/commandhandler.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "ui/relinkdialog.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class tst_Relink : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void folderRelinkFindsWhatMoved();
    void oneFileForAllItsItems();

private:
    QString path(const QString &name) const { return m_dir.filePath(name); }
    void writePicture(const QString &file, QColor colour);
    // A board linking old/a.png, old/sub/b.png, old/c.png and old/d.png, saved and reopened after
    // old/ moved to new/ (where c.png went missing and d.png is no picture).
    void openMovedBoard();
    QList<GraphicsImageItem *> pictures() const;
    GraphicsImageItem *picture(const QString &name) const;

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    MainWindow *m_window = nullptr;
    int m_run = 0;
};

void tst_Relink::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_Relink::init()
{
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Settings%1").arg(++m_run));
    m_window = new MainWindow;
    m_window->generalSettings()->setting(QStringLiteral("Embed Local Files"))->setValue(false);
}

void tst_Relink::cleanup()
{
    m_window->forceClear();
    delete m_window;
    m_handler.reset();
    QDir(path(QStringLiteral("old"))).removeRecursively();
    QDir(path(QStringLiteral("new"))).removeRecursively();
}

void tst_Relink::writePicture(const QString &file, QColor colour)
{
    QDir().mkpath(QFileInfo(file).absolutePath());
    QImage image(20, 10, QImage::Format_RGB32);
    image.fill(colour);
    QVERIFY(image.save(file, "PNG"));
}

QList<GraphicsImageItem *> tst_Relink::pictures() const
{
    QList<GraphicsImageItem *> found;
    for (GraphicsItem *item : m_window->scene()->graphicsItems()) {
        if (auto *image = dynamic_cast<GraphicsImageItem *>(item))
            found.append(image);
    }
    return found;
}

GraphicsImageItem *tst_Relink::picture(const QString &name) const
{
    for (GraphicsImageItem *image : pictures()) {
        if (image->source().endsWith(QLatin1Char('/') + name))
            return image;
    }
    return nullptr;
}

void tst_Relink::openMovedBoard()
{
    const QStringList names { "a.png", "sub/b.png", "c.png", "d.png" };
    QStringList files;
    for (const QString &name : names) {
        files << path(QStringLiteral("old/") + name);
        writePicture(files.last(), Qt::red);
    }
    m_window->load(files, 0, 0);
    QTRY_VERIFY(m_window->isIdle());
    QCOMPARE(pictures().size(), 4);
    m_window->save(path(QStringLiteral("board.vlk")), MainWindow::NoBackup);
    QTRY_VERIFY(m_window->isIdle());

    QVERIFY(QDir().rename(path(QStringLiteral("old")), path(QStringLiteral("new"))));
    QVERIFY(QFile::remove(path(QStringLiteral("new/c.png"))));
    QFile notAPicture(path(QStringLiteral("new/d.png")));
    QVERIFY(notAPicture.open(QIODevice::WriteOnly | QIODevice::Truncate));
    notAPicture.write("not a picture");
    notAPicture.close();

    m_window->forceClear();
    m_window->load(path(QStringLiteral("board.vlk")));
    QTRY_VERIFY(m_window->isIdle());
    for (GraphicsImageItem *image : pictures())
        QVERIFY(!image->picture());
}

// The board's folder moved: the dialog opens by itself, one folder relink finds what is there,
// each row says how it went, closing makes one undoable step, and the board saves the new paths.
void tst_Relink::folderRelinkFindsWhatMoved()
{
    openMovedBoard();
    RelinkController *relink = m_window->relinkController();
    QTRY_VERIFY(relink->dialog() && relink->dialog()->isVisible());
    relink->setChoosers(
        {}, [this](const QString &, const QString &) { return path(QStringLiteral("new")); });
    RelinkTree::Group old;
    old.path = path(QStringLiteral("old/"));
    for (GraphicsImageItem *image : pictures()) {
        // The group as the dialog hands it over: every missing file below old/.
        RelinkTree::MissingImage missing;
        missing.path = image->source();
        missing.itemIds = { image->id() };
        old.images.append(missing);
    }
    const int commandsBefore = m_window->commandHandler()->count();
    relink->relinkFolder(old);
    QTRY_VERIFY(m_window->isIdle());

    RelinkDialog *dialog = relink->dialog();
    QVERIFY(picture("a.png")->picture());
    QVERIFY(picture("b.png")->picture());
    QCOMPARE(picture("b.png")->source(), path(QStringLiteral("new/sub/b.png")));
    QVERIFY(!picture("c.png")->picture());
    QVERIFY(!picture("d.png")->picture());
    QCOMPARE(dialog->status(picture("a.png")->id()), int(RelinkDialog::Relinked));
    QCOMPARE(dialog->statusText(picture("c.png")->id()),
        QStringLiteral("Could not find image on disk."));
    QVERIFY(dialog->statusText(picture("d.png")->id()).startsWith("Failed to load file: "));
    // Nothing is recorded while the dialog is open.
    QCOMPARE(m_window->commandHandler()->count(), commandsBefore);

    dialog->accept();
    QCOMPARE(m_window->commandHandler()->count(), commandsBefore + 1);
    m_window->undo();
    QVERIFY(!picture("a.png")->picture());
    QCOMPARE(picture("a.png")->source(), path(QStringLiteral("old/a.png")));
    m_window->redo();
    QVERIFY(picture("a.png")->picture());

    m_window->save();
    QTRY_VERIFY(m_window->isIdle());
    m_window->forceClear();
    m_window->load(path(QStringLiteral("board.vlk")));
    QTRY_VERIFY(m_window->isIdle());
    QVERIFY(picture("a.png")->picture());
    QCOMPARE(picture("a.png")->source(), path(QStringLiteral("new/a.png")));
}

// Several items missing the same file: one choice relinks them all at once, without a dialog
// as one undoable step; an item deleted meanwhile is left alone.
void tst_Relink::oneFileForAllItsItems()
{
    m_window->generalSettings()->setting(QStringLiteral("ShowRelinkOnLoad"))->setValue(false);
    const QString file = path(QStringLiteral("old/same.png"));
    writePicture(file, Qt::blue);
    m_window->load(QStringList { file, file, file }, 0, 0);
    QTRY_VERIFY(m_window->isIdle());
    m_window->save(path(QStringLiteral("same.vlk")), MainWindow::NoBackup);
    QTRY_VERIFY(m_window->isIdle());
    QVERIFY(QDir().rename(path(QStringLiteral("old")), path(QStringLiteral("new"))));
    m_window->forceClear();
    m_window->load(path(QStringLiteral("same.vlk")));
    QTRY_VERIFY(m_window->isIdle());
    QCOMPARE(pictures().size(), 3);
    QVERIFY(!m_window->relinkController()->dialog());

    const int commandsBefore = m_window->commandHandler()->count();
    RelinkController *relink = m_window->relinkController();
    relink->setChoosers(
        [this](const QString &, const QString &) { return path(QStringLiteral("new/same.png")); },
        {});
    QVERIFY(m_window->relinkMissingImages(pictures()));
    QTRY_VERIFY(m_window->isIdle());
    for (GraphicsImageItem *image : pictures()) {
        QVERIFY(image->picture());
        QCOMPARE(image->pixels().pixel(1, 1), QColor(Qt::blue).rgb());
    }
    QCOMPARE(m_window->commandHandler()->count(), commandsBefore + 1);

    relink->setChoosers([](const QString &, const QString &) { return QString(); }, {});
    QVERIFY(!m_window->relinkMissingImages(pictures()));
}

QTEST_MAIN(tst_Relink)
#include "tst_relink.moc"

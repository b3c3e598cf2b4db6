#include "app/mainwindow.h"
#include "commands/addcommand.h"
#include "commands/aligncommand.h"
#include "commands/commandhandler.h"
#include "commands/cropcommand.h"
#include "commands/deletecommand.h"
#include "commands/depthchangecommand.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace {

QImage picture(const QSize &size, quint32 seed)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(
                x, y, qRgb((x * 7 + int(seed) * 40) & 0xff, (y * 13) & 0xff, int(seed & 0xff)));
    return image;
}

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

// What the window does with the records loaders hand over, and what saving leaves of the live
// board: a saved and reloaded board is the same board, and saving changes nothing that undo
// restores.
class tst_BoardHandover : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void savingKeepsWhatUndoRestores_data();
    void savingKeepsWhatUndoRestores();
    void reloadedBoardIsTheSame();

private:
    GraphicsImageItem *addImage(const QString &source, quint32 seed, const QPointF &at);
    void saveAndWait(const QString &file);

    QTemporaryDir m_dir;
    std::unique_ptr<SettingsHandler> m_handler;
    MainWindow *m_window = nullptr;
    int m_run = 0;
};

void tst_BoardHandover::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_BoardHandover::init()
{
    m_handler = std::make_unique<SettingsHandler>(QStringLiteral("Settings%1").arg(++m_run));
    m_window = new MainWindow;
}

void tst_BoardHandover::cleanup()
{
    m_window->generalSettings()->setting(QStringLiteral("Hide Unsaved Warning"))->setValue(true);
    m_window->forceClear();
    delete m_window;
    m_handler.reset();
}

GraphicsImageItem *tst_BoardHandover::addImage(
    const QString &source, quint32 seed, const QPointF &at)
{
    auto *item = new GraphicsImageItem(
        new QPixmap(QPixmap::fromImage(picture({ 24, 16 }, seed))), source, source, at);
    m_window->commandHandler()->push(new AddCommand(m_window->scene(), item));
    return item;
}

void tst_BoardHandover::saveAndWait(const QString &file)
{
    m_window->save(file, MainWindow::NoBackup);
    QTRY_VERIFY(m_window->isIdle());
    QVERIFY(!m_window->hasUnsavedChanges());
}

void tst_BoardHandover::savingKeepsWhatUndoRestores_data()
{
    QTest::addColumn<QString>("edit");
    for (const char *edit : { "depth", "delete", "add", "paste", "crop", "arrange" })
        QTest::addRow("%s", edit) << QString::fromLatin1(edit);
}

void tst_BoardHandover::savingKeepsWhatUndoRestores()
{
    QFETCH(QString, edit);
    // The same edit on the same board, once without and once with a save after it: undo and redo
    // must stack the items alike.
    QList<QStringList> outcomes;
    for (const bool save : { false, true }) {
        m_window->forceClear();
        GraphicsScene *scene = m_window->scene();
        CommandHandler *commands = m_window->commandHandler();
        GraphicsImageItem *a = addImage(QStringLiteral("a"), 1, { 0, 0 });
        GraphicsImageItem *b = addImage(QStringLiteral("b"), 2, { 10, 5 });
        GraphicsImageItem *c = addImage(QStringLiteral("c"), 3, { 20, 10 });
        // Depths with gaps, as a long session leaves them.
        commands->push(new DepthChangeCommand(scene, a, DepthChangeCommand::ToFront));
        commands->push(new DepthChangeCommand(scene, c, DepthChangeCommand::ToBack));

        if (edit == QLatin1String("depth")) {
            commands->push(new DepthChangeCommand(scene, b, DepthChangeCommand::ToFront));
        } else if (edit == QLatin1String("delete")) {
            commands->push(new DeleteCommand(scene, { b }));
        } else if (edit == QLatin1String("add")) {
            addImage(QStringLiteral("d"), 4, { 30, 0 });
        } else if (edit == QLatin1String("paste")) {
            ImageLoader::Source source;
            source.image = picture({ 12, 12 }, 5);
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
        if (save)
            saveAndWait(m_dir.filePath(QStringLiteral("%1.vlk").arg(edit)));
        QCOMPARE(stacking(scene), edited);
        m_window->undo();
        const QStringList undone = stacking(scene);
        m_window->redo();
        outcomes << (QStringList() << undone << QStringLiteral("|") << stacking(scene));
    }
    QCOMPARE(outcomes.at(1), outcomes.at(0));
}

void tst_BoardHandover::reloadedBoardIsTheSame()
{
    GraphicsScene *scene = m_window->scene();
    GraphicsImageItem *a = addImage(QStringLiteral("a"), 1, { 0, 0 });
    GraphicsImageItem *b = addImage(QStringLiteral("b"), 2, { 40, 0 });
    // Same pixels as a (a pasted copy): one shared block, and one shared pixmap once loaded
    // again.
    auto *copy = new GraphicsImageItem(
        new QPixmap(*a->image()), QStringLiteral("a"), QStringLiteral("copy"), QPointF(0, 40));
    m_window->commandHandler()->push(new AddCommand(scene, copy));
    auto *note = new GraphicsTextItem(QPointF(3, 4), QStringLiteral("on b"), b);
    note->setTextColor(Qt::red);
    m_window->commandHandler()->push(new AddCommand(scene, note));
    auto *inner = new GraphicsTextItem(QPointF(1, 1), QStringLiteral("on the note"), note);
    m_window->commandHandler()->push(new AddCommand(scene, inner));
    b->setTransform(QTransform(0, 2, -2, 0, 40, 0));
    m_window->commandHandler()->push(new DepthChangeCommand(scene, a, DepthChangeCommand::ToFront));

    struct Seen {
        QString text;
        int id;
        int parentId;
        QTransform transform;
        QImage pixels;
    };
    const auto board = [scene] {
        QList<Seen> seen;
        for (GraphicsItem *item : scene->graphicsItems(Qt::AscendingOrder)) {
            auto *image = dynamic_cast<GraphicsImageItem *>(item);
            seen.append({ item->text(), item->id(),
                item->parentGraphicsItem() ? item->parentGraphicsItem()->id() : -1,
                item->transform(),
                image && image->image() ? image->image()->toImage() : QImage() });
        }
        return seen;
    };
    const QList<Seen> before = board();
    const QString file = m_dir.filePath(QStringLiteral("board.vlk"));
    saveAndWait(file);
    QCOMPARE(board().size(), before.size());

    m_window->forceClear();
    m_window->load(file);
    QTRY_VERIFY(m_window->isIdle());
    const QList<Seen> after = board();
    QCOMPARE(after.size(), before.size());
    for (int i = 0; i < before.size(); ++i) {
        QCOMPARE(after.at(i).text, before.at(i).text);
        QCOMPARE(after.at(i).id, before.at(i).id);
        QCOMPARE(after.at(i).parentId, before.at(i).parentId);
        QCOMPARE(after.at(i).transform, before.at(i).transform);
        QCOMPARE(after.at(i).pixels, before.at(i).pixels);
    }
    GraphicsItem *loadedA = scene->itemById(0);
    GraphicsItem *loadedCopy = scene->itemById(2);
    QVERIFY(loadedA && loadedCopy);
    QCOMPARE(static_cast<GraphicsImageItem *>(loadedCopy)->image()->cacheKey(),
        static_cast<GraphicsImageItem *>(loadedA)->image()->cacheKey());
    // A scene file replaces the board; it is no edit to undo.
    QVERIFY(!m_window->hasUnsavedChanges());
    QCOMPARE(m_window->commandHandler()->count(), 0);

    // A picture added to the loaded board goes on top of it.
    GraphicsImageItem *added = addImage(QStringLiteral("new"), 9, { 0, 0 });
    for (GraphicsItem *item : scene->topLevelItems())
        QVERIFY(item == added || item->zValue() < added->zValue());
}

QTEST_MAIN(tst_BoardHandover)

#include "tst_boardhandover.moc"

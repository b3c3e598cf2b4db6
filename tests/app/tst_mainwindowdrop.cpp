#include "app/mainwindow.h"
#include "commands/commandhandler.h"
#include "scene/graphicsitem.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "settings/settingshandler.h"
#include "view/graphicsview.h"

#include <QDropEvent>
#include <QMimeData>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// What the main window does with a drop on its canvas: load it where it fell, or refuse while
// the canvas is locked.
class tst_MainWindowDrop : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void dropOnCanvas_data();
    void dropOnCanvas();

private:
    QTemporaryDir m_dir;
};

void tst_MainWindowDrop::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

void tst_MainWindowDrop::dropOnCanvas_data()
{
    QTest::addColumn<bool>("locked");

    QTest::addRow("loads at the drop point") << false;
    QTest::addRow("locked canvas refuses") << true;
}

void tst_MainWindowDrop::dropOnCanvas()
{
    QFETCH(bool, locked);
    SettingsHandler handler(QStringLiteral("Drop%1").arg(locked));
    auto window = std::make_unique<MainWindow>();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->generalSettings()->setting(QStringLiteral("CanvasLocked"))->setValue(locked);
    QSignalSpy popups(window.get(), &MainWindow::popupRequested);

    QImage image(60, 40, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    const QString path = m_dir.filePath(QStringLiteral("dropped%1.png").arg(locked));
    QVERIFY(image.save(path, "PNG"));
    QMimeData mime;
    mime.setUrls({ QUrl::fromLocalFile(path) });

    GraphicsView *view = window->view();
    const QPoint at(view->viewport()->width() / 3, view->viewport()->height() / 3);
    const QPointF sceneAt = view->mapToScene(at);
    QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &enter);
    QDropEvent drop(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(view->viewport(), &drop);
    QTRY_VERIFY(window->isIdle());

    const QList<GraphicsItem *> items = window->scene()->graphicsItems();
    if (locked) {
        QVERIFY(items.isEmpty());
        QCOMPARE(popups.count(), 1);
    } else {
        QCOMPARE(items.size(), 1);
        QVERIFY(QLineF(items.first()->sceneBounds().center(), sceneAt).length() < 1.0);
        QCOMPARE(window->commandHandler()->count(), 1);
    }
    window->generalSettings()->setting(QStringLiteral("Hide Unsaved Warning"))->setValue(true);
}

QTEST_MAIN(tst_MainWindowDrop)
#include "tst_mainwindowdrop.moc"

// The window while a large board is saved: how long the GUI thread goes without turning its
// event loop, for a new board saved whole and for the same board saved again in place (its
// ".old" backup copied first, then the changed file checked and written).
//
//   bench_save_responsiveness [PICTURES [WIDTH HEIGHT]]    defaults 40 pictures of 3000 x 2000
//
// Figure: save_longest_gap_over_save, the longest gap between two turns of the event loop
// during a save, against the length of that save, the worse of the two saves (goal: the gap
// stays under 100 ms, which the line beside the figure gives in milliseconds).

#include "benchpictures.h"

#include "app/mainwindow.h"
#include "commands/addcommand.h"
#include "commands/commandhandler.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "settings/settingshandler.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {

struct Gaps {
    double longest = 0;
    double total = 0;
};

// Saves and turns the event loop until the window is idle, timing every turn.
template<typename Save> Gaps measure(MainWindow &window, Save save)
{
    Gaps gaps;
    QElapsedTimer total;
    QElapsedTimer sinceLast;
    total.start();
    sinceLast.start();
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &window, [&] {
        gaps.longest = std::max(gaps.longest, sinceLast.nsecsElapsed() / 1e6);
        sinceLast.restart();
    });
    tick.start(2);
    save();
    while (!window.isIdle())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    gaps.total = total.nsecsElapsed() / 1e6;
    return gaps;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
    SettingsHandler handler(QStringLiteral("Bench"));
    const int count = argc > 1 ? QByteArray(argv[1]).toInt() : 40;
    const int width = argc > 3 ? QByteArray(argv[2]).toInt() : 3000;
    const int height = argc > 3 ? QByteArray(argv[3]).toInt() : 2000;

    MainWindow window;
    // A question would wait for ever: answers are the defaults.
    window.setCommandLineMode(true);
    for (int i = 0; i < count; ++i) {
        const QImage picture = photoLike(width, height, quint32(i + 1), 4, 8);
        auto *item = new GraphicsImageItem(Picture::fromPixels(picture), QString(),
            QStringLiteral("bench"), QPointF(i * width, 0));
        window.commandHandler()->push(new AddCommand(window.scene(), item));
    }
    const QString board = dir.filePath(QStringLiteral("board.vlk"));
    const Gaps whole = measure(window, [&] { window.save(board, MainWindow::NoBackup); });
    window.setCommandLineMode(false);
    auto *moved = window.scene()->addedItems().first();
    moved->setPos(moved->pos() + QPointF(10, 10));
    window.commandHandler()->push(new AddCommand(window.scene(),
        new GraphicsImageItem(Picture::fromPixels(photoLike(width, height, 999, 4, 8)), QString(),
            QStringLiteral("bench"), QPointF(-width, 0))));
    const Gaps inPlace = measure(window, [&] { window.save(); });

    std::printf("whole save: %.0f ms, longest gap %.1f ms; in place: %.0f ms, longest gap %.1f "
                "ms (%lld MB on disk)\n",
        whole.total, whole.longest, inPlace.total, inPlace.longest,
        QFileInfo(board).size() / 1000000);
    std::printf("figure save_longest_gap_over_save %.4f\n",
        std::max(whole.longest / whole.total, inPlace.longest / inPlace.total));
    window.forceClear();
    return 0;
}

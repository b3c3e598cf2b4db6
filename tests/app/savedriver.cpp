// Drives the main window the way a user saves, for the test that kills saves midway:
//   velkora_save_driver SETTINGS_DIR create BOARD   writes a board of 30 pictures
//   velkora_save_driver SETTINGS_DIR resave BOARD   opens it, adds a picture and saves over it
//   velkora_save_driver SETTINGS_DIR script BOARD   the same, without any dialog (failures logged)
//   velkora_save_driver SETTINGS_DIR quiet BOARD    the same, by the named command's quiet save
// Prints "saving" right before the save starts, "writing N" from the writer's thread as it has
// written the Nth picture block (the backup's copying is not reported), and "saved" once the save
// has ended.
#include "app/mainwindow.h"
#include "commands/addcommand.h"
#include "commands/commandhandler.h"
#include "jobs/baseloader.h"
#include "jobs/loadjob.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "settings/settingshandler.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSettings>

#include <atomic>
#include <cstdio>

namespace {

QPixmap noisyPicture(quint32 seed, const QSize &size)
{
    QRandomGenerator random(seed);
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = qRgb(x & 0xff, y & 0xff, int(random.bounded(256)));
    }
    return QPixmap::fromImage(image);
}

void addPicture(MainWindow &window, quint32 seed, const QSize &size = QSize(700, 500))
{
    auto *item = new GraphicsImageItem(Picture::fromPixels(noisyPicture(seed, size).toImage()),
        QString(), QStringLiteral("p%1").arg(seed), QPointF(seed * 710.0, 0));
    window.commandHandler()->push(new AddCommand(window.scene(), item));
}

bool waitUntilIdle(MainWindow &window)
{
    QElapsedTimer timer;
    timer.start();
    while (!window.isIdle()) {
        if (timer.hasExpired(120000))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 4)
        return 2;
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromLocal8Bit(argv[1]));
    SettingsHandler handler(QStringLiteral("Driver"));
    const QString mode = QString::fromLocal8Bit(argv[2]);
    const QString board = QString::fromLocal8Bit(argv[3]);

    MainWindow window;
    // Loading the board reports progress too: only the save's is wanted.
    static std::atomic_bool saving { false };
    // The backup is copied before any block is written, and reports its progress too.
    static std::atomic_bool backingUp { false };
    QObject::connect(
        window.saveFileLoader(), &BaseLoader::progressMessage, &window,
        [](const QString &message) { backingUp = message.startsWith(QLatin1String("Making")); },
        Qt::DirectConnection);
    QObject::connect(
        window.saveFileLoader(), &BaseLoader::progressChanged, &window,
        [](int value) {
            if (!saving || backingUp)
                return;
            std::printf("writing %d\n", value);
            std::fflush(stdout);
        },
        Qt::DirectConnection);
    if (mode == QLatin1String("create")) {
        for (quint32 i = 0; i < 30; ++i)
            addPicture(window, i);
        window.saveQuiet(board);
    } else {
        window.setCommandLineMode(mode != QLatin1String("resave"));
        window.load(board);
        if (!waitUntilIdle(window))
            return 3;
        // Larger than the others: the kept blocks report at once, and the kills that follow
        // those reports should still find the new block being written.
        addPicture(window, 1000, QSize(1600, 1200));
        saving = true;
        std::printf("saving\n");
        std::fflush(stdout);
        if (mode == QLatin1String("quiet"))
            window.saveQuiet(board);
        else
            window.save();
    }
    if (!waitUntilIdle(window))
        return 3;
    std::printf("saved\n");
    std::fflush(stdout);
    window.forceClear();
    return 0;
}

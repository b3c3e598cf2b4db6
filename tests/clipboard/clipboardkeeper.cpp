// Keeps what was copied on the clipboard after the program that copied it has gone, as a
// desktop's clipboard manager does: scripts/instances.sh puts back what a killed instance had
// copied, its private format included, and the other instance then pastes from this.
//   velkora_clipboard_keeper TYPE FILE [TYPE FILE]...
// Offers each FILE's bytes as the mime TYPE, prints "ready" once it owns the clipboard, and
// ends when another program takes the clipboard or on SIGTERM.
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QMimeData>

#include <csignal>
#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    if (argc < 3 || argc % 2 == 0) {
        std::fprintf(stderr, "usage: velkora_clipboard_keeper TYPE FILE [TYPE FILE]...\n");
        return 2;
    }
    std::signal(SIGTERM, [](int) { std::_Exit(0); });
    auto *mime = new QMimeData;
    for (int i = 1; i + 1 < argc; i += 2) {
        QFile file(QString::fromLocal8Bit(argv[i + 1]));
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "velkora_clipboard_keeper: cannot read %s\n", argv[i + 1]);
            return 1;
        }
        mime->setData(QString::fromLocal8Bit(argv[i]), file.readAll());
    }
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->setMimeData(mime, QClipboard::Clipboard);
    QObject::connect(clipboard, &QClipboard::changed, &application, [clipboard](QClipboard::Mode) {
        if (!clipboard->ownsClipboard())
            QCoreApplication::quit();
    });
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}

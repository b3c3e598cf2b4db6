// velkora-thumbnailer: thumbnails of boards for file managers, as their .thumbnailer entry runs
// it: velkora-thumbnailer -s SIZE INPUT OUTPUT, INPUT a path or a file:// address, OUTPUT the
// PNG to write. Exits with 0 when the thumbnail is written, 1 when the board gives none, 2 on a
// wrong command line.

#include "export/boardthumbnail.h"
#include "picture/decoderpool.h"
#include "platform/processguard.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>
#include <QUrl>

#include <cstdio>
#include <new>

namespace {

// File managers thumbnail every download: whatever a file makes the reader do, the process ends
// in this time and within this memory. The deadline of the drawing comes first, with a message;
// the alarm only ends a process that hangs where no deadline is looked at.
constexpr int DrawingMilliseconds = 3000;
constexpr int HardLimitSeconds = 4;
constexpr quint64 AddressSpace = quint64(256) << 20;

int fail(const QString &input, const QString &reason)
{
    std::fprintf(
        stderr, "velkora-thumbnailer: %s: %s\n", qUtf8Printable(input), qUtf8Printable(reason));
    return 1;
}

int run(const QStringList &arguments)
{
    int size = 0;
    QStringList files;
    for (int i = 1; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("-s") && i + 1 < arguments.size())
            size = arguments.at(++i).toInt();
        else
            files.append(arguments.at(i));
    }
    if (files.size() != 2 || size <= 0) {
        std::fprintf(stderr, "usage: velkora-thumbnailer -s SIZE INPUT OUTPUT\n");
        return 2;
    }
    // File managers hand over a path or a file:// address.
    QString input = files.at(0);
    if (input.startsWith(QLatin1String("file:")))
        input = QUrl(input).toLocalFile();
    else if (input.contains(QLatin1String("://")))
        return fail(input, QStringLiteral("only local files have thumbnails"));

    // A named pipe or a device would block or never end: boards are regular files.
    const QFileInfo info(input);
    if (!info.isFile())
        return fail(input, QStringLiteral("not a regular file"));
    QFile board(input);
    if (!board.open(QIODevice::ReadOnly))
        return fail(input, board.errorString());

    BoardThumbnail thumbnail(&board, info.absolutePath());
    thumbnail.setDeadline(QDeadlineTimer(DrawingMilliseconds));
    QString error;
    const QImage image = thumbnail.render(size, &error);
    if (image.isNull())
        return fail(input, error);

    QSaveFile output(files.at(1));
    if (!output.open(QIODevice::WriteOnly) || !image.save(&output, "png") || !output.commit())
        return fail(files.at(1), output.errorString());
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    ProcessGuard::exitAfter(HardLimitSeconds, 1);
    ProcessGuard::limitAddressSpace(AddressSpace);
    try {
        QCoreApplication application(argc, argv);
        // One helper, and no picture may keep it long: the whole thumbnail has seconds.
        DecoderPool::instance().setMaxHelpers(1);
        DecoderPool::instance().setTimeout(DrawingMilliseconds);
        const int status = run(QCoreApplication::arguments());
        DecoderPool::instance().stopHelpers();
        return status;
    } catch (const std::bad_alloc &) {
        std::fprintf(stderr, "velkora-thumbnailer: out of memory\n");
        return 1;
    }
}

#include "platform/platform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace Platform {

bool isPackageFile(const QString &programPath, const QString &packageDatabase)
{
    const QFileInfo program(programPath);
    const QString absolute = program.absoluteFilePath();
    const QString canonical = program.canonicalFilePath();
    // "velkora.list", or "velkora:amd64.list" for a package of one architecture.
    const QFileInfoList lists
        = QDir(packageDatabase)
              .entryInfoList({ QStringLiteral("velkora.list"), QStringLiteral("velkora:*.list") },
                  QDir::Files);
    for (const QFileInfo &list : lists) {
        QFile file(list.absoluteFilePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        while (!file.atEnd()) {
            const QString line = QString::fromUtf8(file.readLine()).trimmed();
            if (line == absolute || (!canonical.isEmpty() && line == canonical))
                return true;
        }
    }
    return false;
}

int countProcessesNamed(const QString &programFileName)
{
    int count = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool isProcess = false;
        entry.toInt(&isProcess);
        if (!isProcess)
            continue;
        QString target
            = QFileInfo(QStringLiteral("/proc/") + entry + QStringLiteral("/exe")).symLinkTarget();
        // A program file replaced while it runs (an update does that) reads "... (deleted)".
        if (target.endsWith(QLatin1String(" (deleted)")))
            target.chop(10);
        if (!target.isEmpty() && QFileInfo(target).fileName() == programFileName)
            ++count;
    }
    return count;
}

} // namespace Platform

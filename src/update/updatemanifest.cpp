#include "update/updatemanifest.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

UpdateManifest UpdateManifest::parse(const QByteArray &body)
{
    UpdateManifest manifest;
    const QJsonObject object = QJsonDocument::fromJson(body).object();
    manifest.version = object.value(QLatin1String("version")).toString();
    manifest.rawChangelog = object.value(QLatin1String("rawchangelog")).toString();
    manifest.changelog = object.value(QLatin1String("changelog")).toString();
    manifest.message = object.value(QLatin1String("message")).toString();
    manifest.messageOnly = object.value(QLatin1String("messageonly")).toBool(false);
    manifest.needsTempCopy = object.value(QLatin1String("needstempcopy")).toBool(false);
    if (manifest.needsTempCopy) {
        const QJsonArray copyFiles = object.value(QLatin1String("copyfiles")).toArray();
        for (const QJsonValue &value : copyFiles)
            manifest.copyFiles.append(value.toString());
    }

    const QJsonArray installers = object.value(QLatin1String("installerfiles")).toArray();
    for (const QJsonValue &value : installers) {
        const QJsonArray entry = value.toArray();
        if (entry.size() != 4)
            continue;
        manifest.installers.append(
            { entry[0].toString(), entry[1].toString(), entry[2].toString(), entry[3].toInt() });
    }
    manifest.errorMessage = object.value(QLatin1String("errormessage")).toString();

    const QJsonArray files = object.value(QLatin1String("updatefiles")).toArray();
    for (const QJsonValue &value : files) {
        const QJsonArray entry = value.toArray();
        if (entry.size() < 2)
            continue;
        const QString kind = entry.size() == 3 ? entry[2].toString() : QString();
        const QString first = entry[0].toString();
        const QString second = entry[1].toString();
        if (kind == QLatin1String("link"))
            manifest.links.append({ first, second });
        else if (kind == QLatin1String("delete"))
            manifest.deletions.append({ first, second });
        else
            manifest.files.append({ first, second, kind == QLatin1String("main") });
    }
    return manifest;
}

QString UpdateManifest::workFolderPrefix()
{
    return QStringLiteral(".velkora-update");
}

QString UpdateManifest::safeRelativePath(const QString &path)
{
    QString normal = path;
    normal.replace(QLatin1Char('\\'), QLatin1Char('/'));
    // "C:/x" is absolute where the service's files come from; here it would be a folder "C:".
    if (normal.isEmpty() || normal.startsWith(QLatin1Char('/')) || QDir::isAbsolutePath(normal)
        || (normal.size() >= 2 && normal.at(1) == QLatin1Char(':')))
        return QString();
    const QStringList parts = normal.split(QLatin1Char('/'));
    for (const QString &part : parts) {
        if (part == QLatin1String(".."))
            return QString();
    }
    const QString first = QDir::cleanPath(normal).section(QLatin1Char('/'), 0, 0);
    if (first.isEmpty() || first == QLatin1String(".") || first.startsWith(workFolderPrefix()))
        return QString();
    return normal;
}

QString UpdateManifest::checkPaths()
{
    const auto check = [](QString &path) {
        const QString safe = safeRelativePath(path);
        if (safe.isEmpty())
            return false;
        path = safe;
        return true;
    };
    for (File &file : files) {
        if (!check(file.path))
            return QStringLiteral("The server provided invalid file paths.");
    }
    for (QString &copyFile : copyFiles) {
        if (!check(copyFile))
            return QStringLiteral("The server provided invalid file paths.");
    }
    for (Pair &deletion : deletions) {
        if (!check(deletion.first))
            return QStringLiteral("The server provided invalid file paths.");
    }
    for (Pair &link : links) {
        if (!check(link.first))
            return QStringLiteral("The server provided invalid file paths.");
        // The target is read from the link's own folder; one without ".." that is not absolute
        // stays below it.
        QString target = link.second;
        target.replace(QLatin1Char('\\'), QLatin1Char('/'));
        const QString folder = link.first.contains(QLatin1Char('/'))
            ? link.first.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/')
            : QString();
        if (safeRelativePath(folder + target).isEmpty())
            return QStringLiteral("The server provided a link that points outside the "
                                  "installation.");
        link.second = target;
    }
    return QString();
}

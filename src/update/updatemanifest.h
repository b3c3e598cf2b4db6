#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The update service's version record: what the newest version is and, for an update, which
// files of the installation change. Parsed from the JSON body of "/version.php"; nothing in it is
// trusted until the body's signature has been checked (UpdateSignature) and its paths have been
// checked against the installation folder (checkPaths()).
struct UpdateManifest {
    struct File {
        QString path; // relative to the installation folder, "/" separated
        QString checksum; // MD5, lower-case hexadecimal; empty: always download
        bool isMain = false; // the program file itself
    };
    struct Installer {
        QString path;
        QString checksum;
        QString arguments;
        int expectedExitCode = 0;
    };
    // A link (name → target) or a deletion (path, checksum).
    struct Pair {
        QString first;
        QString second;
    };

    QString version;
    QString rawChangelog;
    QString changelog;
    QString message;
    bool messageOnly = false;
    bool needsTempCopy = false;
    QStringList copyFiles;
    QVector<Installer> installers;
    QString errorMessage;
    QVector<File> files;
    QVector<Pair> links;
    QVector<Pair> deletions;

    // A body that is not a JSON object gives an empty version, which reads as "up to date".
    static UpdateManifest parse(const QByteArray &body);

    // Every path the record names (files, copy files, link names and targets, deletions), with
    // "\" read as "/": none may be absolute, contain "..", or lead into the folders the updater
    // keeps its own work in. A link target is read from the link's folder and must stay inside
    // the installation. Returns an empty text when all are fine, else what is wrong. Paths are
    // normalised ("\" → "/") in place.
    QString checkPaths();

    // "\" → "/"; empty when the path is absolute, empty, climbs with "..", or names a folder of
    // the updater's own.
    static QString safeRelativePath(const QString &path);
    // The folders inside the installation that the updater keeps its downloads and backups in.
    static QString workFolderPrefix();
};

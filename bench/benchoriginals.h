#pragma once

// Boards of pictures that keep the JPEG files they came from, for the benchmarks of storing
// originals: photo-like JPEG files written by the toolkit at quality 90 (or a folder of real
// photos), taken in by the program's intake as a drop would.

#include "benchpictures.h"

#include "jobs/loadjob.h"
#include "loading/imageloader.h"
#include "scene/graphicsitem.h"
#include "scene/itembuilder.h"

#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QUrl>

// Writes count JPEG files of photo-like pictures into folder; returns their paths.
inline QStringList writeJpegs(const QString &folder, int count, int width, int height)
{
    QStringList paths;
    for (int i = 0; i < count; ++i) {
        const QString path = QDir(folder).filePath(QStringLiteral("photo%1.jpg").arg(i));
        QImageWriter writer(path, "jpeg");
        writer.setQuality(90);
        writer.write(photoLike(width, height, quint32(i + 1)));
        paths.append(path);
    }
    return paths;
}

// The JPEG files of a folder, by name.
inline QStringList jpegsIn(const QString &folder)
{
    QStringList paths;
    const QDir dir(folder);
    for (const QString &name : dir.entryList(
             { QStringLiteral("*.jpg"), QStringLiteral("*.jpeg"), QStringLiteral("*.JPG") },
             QDir::Files, QDir::Name))
        paths.append(dir.filePath(name));
    return paths;
}

// The items the intake makes of the files, each keeping its file where that decodes to its
// pixels; ids in the order of the files.
inline QList<GraphicsItem *> intakeFiles(const QStringList &paths)
{
    ImageLoader loader;
    loader.setKeepOriginals(true);
    QList<GraphicsItem *> items;
    QObject::connect(&loader, &BaseLoader::itemGenerated, [&items](const ItemRecord &record) {
        GraphicsItem *item = ItemBuilder().build(record);
        item->setId(int(items.size()));
        item->setZValue(items.size());
        items.append(item);
    });
    ImageLoader::Source source;
    for (const QString &path : paths)
        source.urls.append(QUrl::fromLocalFile(path));
    LoadJob job(&loader);
    loader.load(source, &job);
    return items;
}

inline qint64 bytesOfFiles(const QStringList &paths)
{
    qint64 bytes = 0;
    for (const QString &path : paths)
        bytes += QFileInfo(path).size();
    return bytes;
}

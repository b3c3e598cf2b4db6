#pragma once

#include "jobs/baseloader.h"
#include "picture/picturefile.h"

#include <QImage>
#include <QList>
#include <QSize>

class LoadJob;

// Reads the files missing pictures were relinked to, on the loader thread. It takes paths and
// gives back pictures: the items stay with the board on the GUI thread, which sets the pixels.
class Relinker : public BaseLoader {
    Q_OBJECT

public:
    // One file and the items that link to it: it is read once for all of them.
    struct Request {
        QList<int> itemIds;
        QString path;
        bool autoDownscale = false;
        QSize maxSize;
    };

    explicit Relinker(QObject *parent = nullptr);

public slots:
    void relink(const QList<Relinker::Request> &requests, LoadJob *loadJob = nullptr);

signals:
    void imageRelinked(const QList<int> &itemIds, const QString &path, const QImage &image,
        const PictureFile::LoadResult &result, LoadJob *loadJob);
};

Q_DECLARE_METATYPE(Relinker::Request)

#pragma once

#include "persistence/savefilereader.h"

#include <QDeadlineTimer>
#include <QImage>
#include <QList>
#include <QString>

class QIODevice;

// Draws a board file as the window shows it zoomed to fit, for file managers' thumbnails. Reads
// the header, the item records (SaveFileReader::readOutline) and then only the image blocks it
// draws; pictures linked from the board's own folder are read too, those of other folders never.
// No widgets, items, pixmaps or threads: the pictures are composed into a QImage with their
// transforms and crops. Notes are left out, since their size comes from laying out their text.
//
// The board is hostile input. Every declared picture size is bounded before anything is decoded;
// a board whose pictures are too many pixels to decode in time shows its largest picture that
// fits, alone. A picture the file should hold but that does not read fails the whole thumbnail:
// a file manager then shows its usual icon, and the program tells what is wrong when the board
// is opened. Any thread; one render at a time.
class BoardThumbnail {
public:
    static constexpr int MaximumSize = 2048;
    // The pixels one picture may decode to, and all pictures of a composed board together. At
    // four bytes a pixel, one picture with its block and a converted copy stays well within the
    // thumbnailer's 256 MiB; a PNG of random noise at the limit decodes in about two seconds on a
    // slow machine, a board at the limit in about three.
    static constexpr qint64 PicturePixels = qint64(16) << 20;
    static constexpr qint64 BoardPixels = qint64(24) << 20;
    static constexpr qint64 BlockBytes = qint64(64) << 20;
    // A linked picture is reduced to this side by its decoder, and counts as that many pixels.
    static constexpr int LinkedSide = 2048;

    // folder: where linked pictures may be read from; empty for none. The device stays owned by
    // the caller.
    BoardThumbnail(QIODevice *board, const QString &folder);

    // Rendering fails once this has passed; by default it never does.
    void setDeadline(QDeadlineTimer deadline) { m_deadline = deadline; }

    // A picture whose longer side is size pixels; null with the reason in error.
    QImage render(int size, QString *error);

private:
    struct Picture;

    bool plan(QList<Picture> *pictures, QString *error);
    QString linkedFile(const QString &source) const;
    bool draw(const Picture &picture, const QTransform &fit, QImage *target, QString *error);
    QImage decode(const Picture &picture, QString *error);

    QIODevice *m_board;
    QString m_folder;
    QDeadlineTimer m_deadline { QDeadlineTimer::Forever };
    SaveFileHeader m_header;
    QList<SaveFileReader::OutlineItem> m_outline;
};

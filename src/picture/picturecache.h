#pragma once

#include <QImage>
#include <QString>

class CacheFolder;

// Lossless copies of pictures in the process's cache folder, for pictures whose full pixels leave
// memory while their source cannot give them back (pixels edited since, or a source slower to
// decode than a copy). Each copy is a PNG stream from PngEncoder at its fastest level; it is
// written under a temporary name and renamed, so that no reader ever meets half a copy.
//
// RGB32 is kept as RGB (or grey). ARGB32_Premultiplied keeps its bytes as they are, in an RGBA
// stream whose colours are thus premultiplied where a PNG's are straight. Turning them straight
// would give every pixel back only for valid premultiplied values under exact rounding and would
// convert twice; as they are, any 32-bit value comes back, and the copy is private to the process
// and read only by load(), which is told the format.
//
// Threads: every member from any thread at once; the folder outlives the cache.
class PictureCache {
public:
    explicit PictureCache(CacheFolder *folder);

    // The program's cache, in its own folder of the user's cache folder; closeShared() removes
    // the folder at the end.
    static PictureCache &shared();
    static void closeShared();
    static bool isStorable(QImage::Format format);

    // Writes a copy of image (RGB32 or ARGB32_Premultiplied) and returns its path; empty
    // when it cannot be written (no folder, no space), leaving nothing behind.
    QString store(const QImage &image);
    // The pixels stored at path, exactly, in format, the image's format when stored; null when
    // the copy is gone or damaged.
    QImage load(const QString &path, QImage::Format format) const;
    void remove(const QString &path) const;

private:
    CacheFolder *const m_folder;
};

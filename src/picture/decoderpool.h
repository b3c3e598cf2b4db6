#pragma once

#include "picture/imagedecoder.h"
#include "picture/picturefile.h"

#include <QByteArray>
#include <QImage>
#include <QMutex>
#include <QSize>
#include <QString>
#include <QWaitCondition>

#include <memory>
#include <vector>

class DecoderProcess;

// Decodes pictures in helper processes, so that a decoder that crashes, runs wild or hangs on a
// broken file costs that one picture and never the board. Only PNG, JPEG, GIF, BMP and WebP, which
// the toolkit's own readers decode, are decoded in the program. One helper a core, started when
// first needed and reused; a helper that dies, breaks the protocol or runs out of time is killed
// and the next request starts a new one. Callers are pool threads: a request blocks its thread
// until the picture or the error comes back, and requests beyond the number of helpers wait their
// turn. When no helper can be started at all, pictures decode in this process as before; once
// helpers have worked, one that cannot be started costs its picture instead.
class DecoderPool {
public:
    struct Statistics {
        int started = 0; // helpers started
        int died = 0; // helpers that crashed, broke the protocol or were killed for time
        int peakBusy = 0; // most helpers decoding at the same moment
        int inProcess = 0; // pictures decoded here because no helper could be started
    };

    DecoderPool();
    ~DecoderPool();

    // The program's pool; helpers end when the program does.
    static DecoderPool &instance();

    // With original, a JPEG, PNG, WebP or GIF picture whose pixels are exactly what its bytes
    // decode to (not turned upright, not reduced) also hands back those bytes; else original is
    // left empty.
    PictureFile::LoadResult decodeFile(const QString &path, bool autoDownscale,
        const QSize &maxSize, QImage *image, QByteArray *original = nullptr);
    // formatHint is what the data claims to be (a file extension or an image type's subtype);
    // the content decides when it is wrong.
    PictureFile::LoadResult decodeData(const QByteArray &data, const QByteArray &formatHint,
        bool autoDownscale, const QSize &maxSize, QImage *image, QByteArray *original = nullptr);

    // The helper program; by default the one installed beside the program.
    void setHelperPath(const QString &path);
    void setMaxHelpers(int count);
    // How long a helper may take for one picture before it is killed.
    void setTimeout(int milliseconds);
    Statistics statistics() const;
    void resetStatistics();
    // Ends every idle helper; busy ones end when their picture is done.
    void stopHelpers();

private:
    struct Input;
    PictureFile::LoadResult decode(
        Input input, bool autoDownscale, const QSize &maxSize, QImage *image, QByteArray *original);
    static PictureFile::LoadResult decodeHere(const Input &input, const QByteArray &format,
        ImageDecoder::Readers readers, bool autoDownscale, const QSize &maxSize, QImage *image,
        bool *asStored = nullptr);
    // The format of a picture the toolkit's own readers decode, told by its first bytes; else
    // empty.
    static QByteArray toolkitFormat(const Input &input);
    // A helper, idle or new; null when none can be started: then with the reason in startError
    // when the picture must fail, without when it is to be decoded here.
    std::unique_ptr<DecoderProcess> takeHelper(QString *startError);
    void giveBack(std::unique_ptr<DecoderProcess> helper);

    mutable QMutex m_mutex;
    QWaitCondition m_helperFree;
    std::vector<std::unique_ptr<DecoderProcess>> m_idle;
    QString m_helperPath;
    int m_maxHelpers;
    int m_busy = 0;
    int m_timeout = 30000;
    bool m_helpersFailed = false;
    bool m_helpersWorked = false;
    Statistics m_statistics;
};

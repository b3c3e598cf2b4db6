#include "picture/decoderservice.h"

#include "picture/imagedecoder.h"
#include "picture/qdevilplugin.h"
#include "platform/decoderchannel.h"
#include "platform/decodersandbox.h"
#include "platform/picturememory.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <cstdio>
#include <memory>

namespace {

constexpr quint64 mebibyte = quint64(1) << 20;
// No picture takes a helper beyond this, whatever it claims.
constexpr quint64 hardMemoryLimit = 4096 * mebibyte;
// Room for the decoder's own tables and threads beyond the pixels.
constexpr quint64 workingMemory = 512 * mebibyte;
// A region this large is not kept for the next picture.
constexpr size_t keptRegionSize = 128 * mebibyte;
// A helper without work for this long hands its spare memory back.
constexpr int idleMilliseconds = 2000;
// Outlives the program's own time limit: it only ends a helper whose program is gone.
constexpr int watchdogSeconds = 300;

void warn(const QString &text)
{
    std::fprintf(stderr, "velkora-decoder: %s\n", qUtf8Printable(text));
}

// Readers are plugins, loaded from disk when first asked for; once the sandbox is entered
// nothing can be opened. Asking every reader about an empty device loads them all.
void loadEveryReader()
{
    QDevilPlugin::registerStatically();
    QBuffer empty;
    empty.open(QIODevice::ReadOnly);
    QImageReader byContent(&empty);
    byContent.setDecideFormatFromContent(true);
    byContent.canRead();
    const QList<QByteArray> formats = QImageReader::supportedImageFormats();
    for (const QByteArray &format : formats) {
        empty.seek(0);
        QImageReader reader(&empty, format);
        reader.canRead();
    }
}

// What decoding a picture of this size may take: the decoded pixels, a converted or reduced copy
// and the pixels handed over, besides the file itself and the decoder's working memory.
quint64 memoryFor(const QSize &declared, qint64 inputSize)
{
    if (declared.isEmpty())
        return hardMemoryLimit;
    const quint64 pixels = quint64(declared.width()) * quint64(declared.height());
    return workingMemory + 2 * quint64(qMax<qint64>(0, inputSize)) + quint64(3 * 4) * pixels;
}

} // namespace

int DecoderService::run(const Hook &hook)
{
    loadEveryReader();
    DecoderSandbox::keepHeapBetweenPictures();
    // The memory limit counts address space: blocks kept for later would count against the next
    // picture.
    PictureMemory::keepNoSpares();
    QString error;
    if (!DecoderSandbox::setHardMemoryLimit(hardMemoryLimit, &error))
        warn(QStringLiteral("no memory limit: %1").arg(error));
    // Without the filter a helper still keeps a decoder's crash away from the program.
    if (!DecoderSandbox::enter(&error))
        warn(QStringLiteral("no system-call filter: %1").arg(error));

    DecoderChannel channel;
    std::unique_ptr<DecoderRegion> region = std::make_unique<DecoderRegion>();
    if (!channel.sendReady())
        return 0;
    for (;;) {
        DecoderProtocol::Request request;
        int input = -1;
        if (!channel.waitForRequest(idleMilliseconds))
            DecoderSandbox::releaseIdleMemory();
        if (!channel.receive(&request, &input))
            return 0;
        DecoderSandbox::armWatchdog(watchdogSeconds);
        QFile file;
        if (!file.open(input, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            if (!channel.sendError(file.errorString()))
                return 0;
            continue;
        }
        QImage image;
        PictureFile::LoadResult result;
        bool answered = false;
        {
            ImageDecoder decoder(&file, QByteArray(request.formatHint));
            const QSize declared = decoder.declaredSize();
            DecoderSandbox::limitMemoryTo(memoryFor(declared, file.size()));
            // Decoded where the program maps it, a picture is never copied; a reduced one is
            // a new, smaller picture anyway.
            const QImage::Format format = decoder.declaredFormat();
            const bool reduced = (request.flags & DecoderProtocol::AutoDownscale)
                && (declared.width() > request.maxWidth || declared.height() > request.maxHeight);
            if (!declared.isEmpty() && !reduced
                && (format == QImage::Format_RGB32 || format == QImage::Format_ARGB32
                    || format == QImage::Format_ARGB32_Premultiplied)) {
                if (region->reserve(size_t(declared.width()) * 4 * size_t(declared.height()))) {
                    image = QImage(region->data(), declared.width(), declared.height(),
                        declared.width() * 4, format);
                }
            }
            answered = hook && hook(&file, channel);
            if (!answered) {
                result = decoder.read(request.flags & DecoderProtocol::AutoDownscale,
                    QSize(request.maxWidth, request.maxHeight), &image);
            }
            DecoderSandbox::liftMemoryLimit();
        }
        if (answered) {
            DecoderSandbox::armWatchdog(0);
            continue;
        }
        file.close();
        const bool sent = result.code == PictureFile::LoadResult::Loaded
            ? channel.sendPicture(image, region.get())
            : channel.sendError(result.message, result.code == PictureFile::LoadResult::Refused);
        DecoderSandbox::armWatchdog(0);
        if (!sent)
            return 0;
        // The program has a descriptor of its own for the region it copies from: a region grown
        // for a very large picture can go now instead of staying that large.
        if (region->size() > keptRegionSize)
            region = std::make_unique<DecoderRegion>();
    }
}

#include "picture/jpegdecoder.h"

#include "platform/picturememory.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <atomic>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first
#include <cstring>

#include <jpeglib.h>

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void jumpOnError(j_common_ptr info)
{
    auto *errors = reinterpret_cast<ErrorManager *>(info->err);
    errors->base.format_message(info, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings about corrupt data go on decoding, as in the toolkit's reader; they are not printed.
extern "C" void ignoreMessage(j_common_ptr)
{
}

// Errors jump back to the caller's setjmp with their message; warnings are dropped.
void reportErrorsBack(jpeg_decompress_struct *info, ErrorManager *errors)
{
    errors->message[0] = 0;
    info->err = jpeg_std_error(&errors->base);
    errors->base.error_exit = jumpOnError;
    errors->base.output_message = ignoreMessage;
}

// What to make of a stream: all of it, all of it reduced, or a rectangle of it at full size.
struct Request {
    int eighths = 8;
    // Null for the whole picture; otherwise within it and not empty.
    QRect region;
    // Looked at between rows: a picture nobody wants any more stops decoding.
    const std::atomic_bool *cancel = nullptr;
};

// Reads the rows of the region, and the margin of columns around it that makes them come out as
// in a full decode. Columns: libjpeg-turbo moves the left edge of a cropped row back to the start
// of an iMCU column and decodes from there as if it were the picture's left edge. Its smooth
// chroma upsampling then lacks the left neighbour of the first pixel, and in progressive pictures
// cut short its block smoothing, which estimates missing coefficients from the DC values of the
// two blocks on each side, repeats the first block's in their place. So the left margin reaches
// back two iMCU columns (a chroma block is at most one wide) and a pixel. At the right edge only
// the upsampling loses a neighbour (the smoothing still reads the picture's own blocks): a pixel
// would do, an iMCU column costs as little. Rows need no margin: the library skips whole iMCU
// rows undecoded, then reads and drops the lines up to the wanted one, the first of which lacks
// its upsampling context, and the smoothing reads the rows above from the coefficients it keeps.
JpegDecoder::Result readRegion(jpeg_decompress_struct *info, const QRect &region, QImage *image)
{
    const int iMcuWidth = DCTSIZE * qMax(1, info->max_h_samp_factor);
    JDIMENSION left = JDIMENSION(qMax(0, region.left() - 2 * iMcuWidth - 1));
    JDIMENSION width
        = JDIMENSION(qMin(int(info->output_width), region.right() + 1 + iMcuWidth)) - left;
    jpeg_crop_scanline(info, &left, &width);
    // Freed with the decompressor, which a jump back on an error does not skip.
    JSAMPROW row = (*info->mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(info), JPOOL_IMAGE, width * 4, 1)[0];
    const int skip = region.top();
    if (skip > 0 && jpeg_skip_scanlines(info, JDIMENSION(skip)) != JDIMENSION(skip))
        return JpegDecoder::Result::Damaged;
    const size_t offset = size_t(region.left() - int(left)) * 4;
    const size_t bytes = size_t(region.width()) * 4;
    for (int y = 0; y < region.height(); ++y) {
        if (jpeg_read_scanlines(info, &row, 1) != 1)
            return JpegDecoder::Result::Damaged;
        std::memcpy(image->scanLine(y), row + offset, bytes);
    }
    // The rows below the region are left undecoded: destroying the decompressor ends it.
    return JpegDecoder::Result::Decoded;
}

// libjpeg reports errors by jumping back into this function, over its own frames: nothing here
// may need destroying, so the picture lives in the caller and the state is plain data.
JpegDecoder::Result decodeInto(jpeg_decompress_struct *info, ErrorManager *errors,
    const uchar *data, qint64 length, const QSize &expected, const Request &request, QImage *image)
{
    if (setjmp(errors->jump))
        return JpegDecoder::Result::Damaged;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, data, static_cast<unsigned long>(length));
    if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK)
        return JpegDecoder::Result::Damaged;
    if (info->jpeg_color_space != JCS_YCbCr && info->jpeg_color_space != JCS_RGB
        && info->jpeg_color_space != JCS_GRAYSCALE) {
        return JpegDecoder::Result::Unsupported;
    }
    if (int(info->image_width) != expected.width() || int(info->image_height) != expected.height())
        return JpegDecoder::Result::Unsupported;
        // Blue, green, red and a byte of 255 in memory: the toolkit's RGB32 on this machine.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    info->out_color_space = JCS_EXT_BGRX;
#else
    info->out_color_space = JCS_EXT_XRGB;
#endif
    info->scale_num = unsigned(request.eighths);
    info->scale_denom = 8;
    jpeg_calc_output_dimensions(info);
    if (info->output_components != 4)
        return JpegDecoder::Result::Unsupported;
    const QSize size = request.region.isNull()
        ? QSize(int(info->output_width), int(info->output_height))
        : request.region.size();
    *image = PictureMemory::newImage(size.width(), size.height(), QImage::Format_RGB32);
    if (image->isNull())
        return JpegDecoder::Result::Damaged;
    jpeg_start_decompress(info);
    if (!request.region.isNull())
        return readRegion(info, request.region, image);
    while (info->output_scanline < info->output_height) {
        if (request.cancel && request.cancel->load(std::memory_order_relaxed)) {
            *image = QImage();
            return JpegDecoder::Result::Canceled;
        }
        JSAMPROW row = image->scanLine(int(info->output_scanline));
        if (jpeg_read_scanlines(info, &row, 1) != 1)
            return JpegDecoder::Result::Damaged;
    }
    jpeg_finish_decompress(info);
    return JpegDecoder::Result::Decoded;
}

JpegDecoder::Result decodeRequest(const uchar *data, qint64 length, const QSize &expected,
    const Request &request, QImage *image, QString *error)
{
    *image = QImage();
    if (length <= 0 || qint64(static_cast<unsigned long>(length)) != length) {
        if (error)
            *error = QStringLiteral("no stream to decode");
        return JpegDecoder::Result::Damaged;
    }
    jpeg_decompress_struct info {};
    ErrorManager errors;
    reportErrorsBack(&info, &errors);
    const JpegDecoder::Result result
        = decodeInto(&info, &errors, data, length, expected, request, image);
    jpeg_destroy_decompress(&info);
    if (result != JpegDecoder::Result::Decoded) {
        *image = QImage();
        if (error) {
            *error = result == JpegDecoder::Result::Damaged
                ? QString::fromLocal8Bit(errors.message)
                : QStringLiteral("left to the toolkit's reader");
        }
    }
    return result;
}

// Plain data across the jump back from an error, as in decodeInto.
qint64 coefficientBytes(
    jpeg_decompress_struct *info, ErrorManager *errors, const uchar *data, qint64 length)
{
    if (setjmp(errors->jump))
        return 0;
    jpeg_create_decompress(info);
    jpeg_mem_src(info, data, static_cast<unsigned long>(length));
    if (jpeg_read_header(info, TRUE) != JPEG_HEADER_OK || !jpeg_has_multiple_scans(info))
        return 0;
    // The whole-picture coefficient arrays, a block of DCTSIZE2 coefficients per 8 x 8 pixels of
    // each component, its rows padded to whole iMCUs.
    qint64 bytes = 0;
    for (int i = 0; i < info->num_components; ++i) {
        const jpeg_component_info &component = info->comp_info[i];
        const qint64 columns = (qint64(component.width_in_blocks) + component.h_samp_factor - 1)
            / qMax(1, component.h_samp_factor) * component.h_samp_factor;
        const qint64 rows = (qint64(component.height_in_blocks) + component.v_samp_factor - 1)
            / qMax(1, component.v_samp_factor) * component.v_samp_factor;
        bytes += columns * rows * qint64(sizeof(JBLOCK));
    }
    return bytes;
}

} // namespace

qint64 JpegDecoder::workingBytes(const uchar *data, qint64 length)
{
    if (length <= 0 || qint64(static_cast<unsigned long>(length)) != length)
        return 0;
    jpeg_decompress_struct info {};
    ErrorManager errors;
    reportErrorsBack(&info, &errors);
    const qint64 bytes = coefficientBytes(&info, &errors, data, length);
    jpeg_destroy_decompress(&info);
    return bytes;
}

JpegDecoder::Result JpegDecoder::decode(const uchar *data, qint64 length, const QSize &expected,
    QImage *image, QString *error, const std::atomic_bool *cancel)
{
    Request request;
    request.cancel = cancel;
    return decodeRequest(data, length, expected, request, image, error);
}

QSize JpegDecoder::scaledSize(const QSize &full, int eighths)
{
    Q_ASSERT(eighths >= 1 && eighths <= 8);
    // jpeg_calc_output_dimensions: jdiv_round_up(image_width * eighths, 8).
    const auto scaled = [eighths](int side) { return int((qint64(side) * eighths + 7) / 8); };
    return QSize(scaled(full.width()), scaled(full.height()));
}

int JpegDecoder::eighthsFor(const QSize &full, const QSize &wanted)
{
    for (int eighths = 1; eighths < 8; ++eighths) {
        const QSize scaled = scaledSize(full, eighths);
        if (scaled.width() >= wanted.width() && scaled.height() >= wanted.height())
            return eighths;
    }
    return 8;
}

JpegDecoder::Result JpegDecoder::decodeScaled(const uchar *data, qint64 length,
    const QSize &expected, int eighths, QImage *image, QString *error,
    const std::atomic_bool *cancel)
{
    Q_ASSERT(eighths >= 1 && eighths <= 8);
    Request request;
    request.eighths = qBound(1, eighths, 8);
    request.cancel = cancel;
    return decodeRequest(data, length, expected, request, image, error);
}

JpegDecoder::Result JpegDecoder::decodeRegion(const uchar *data, qint64 length,
    const QSize &expected, const QRect &region, QImage *image, QString *error,
    const std::atomic_bool *cancel)
{
    Request request;
    request.cancel = cancel;
    request.region = region.normalized() & QRect(QPoint(0, 0), expected);
    if (request.region.isEmpty()) {
        *image = QImage();
        if (error)
            *error = QStringLiteral("the region lies outside the picture");
        return Result::Unsupported;
    }
    return decodeRequest(data, length, expected, request, image, error);
}

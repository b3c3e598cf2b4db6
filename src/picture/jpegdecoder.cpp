#include "picture/jpegdecoder.h"

#include "platform/picturememory.h"

#include <QImage>
#include <QSize>

#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE and size_t declared first

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

// libjpeg reports errors by jumping back into this function, over its own frames: nothing here
// may need destroying, so the picture lives in the caller and the state is plain data.
JpegDecoder::Result decodeInto(jpeg_decompress_struct *info, ErrorManager *errors,
    const uchar *data, qint64 length, const QSize &expected, QImage *image)
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
    // Blue, green, red and a byte of 255 in memory: the toolkit's RGB32 on this machine.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    info->out_color_space = JCS_EXT_BGRX;
#else
    info->out_color_space = JCS_EXT_XRGB;
#endif
    jpeg_calc_output_dimensions(info);
    if (info->output_components != 4 || int(info->output_width) != expected.width()
        || int(info->output_height) != expected.height()) {
        return JpegDecoder::Result::Unsupported;
    }
    *image = PictureMemory::newImage(expected.width(), expected.height(), QImage::Format_RGB32);
    if (image->isNull())
        return JpegDecoder::Result::Damaged;
    jpeg_start_decompress(info);
    while (info->output_scanline < info->output_height) {
        JSAMPROW row = image->scanLine(int(info->output_scanline));
        if (jpeg_read_scanlines(info, &row, 1) != 1)
            return JpegDecoder::Result::Damaged;
    }
    jpeg_finish_decompress(info);
    return JpegDecoder::Result::Decoded;
}

} // namespace

JpegDecoder::Result JpegDecoder::decode(
    const uchar *data, qint64 length, const QSize &expected, QImage *image, QString *error)
{
    *image = QImage();
    if (length <= 0 || qint64(static_cast<unsigned long>(length)) != length)
        return Result::Damaged;
    jpeg_decompress_struct info {};
    ErrorManager errors;
    errors.message[0] = 0;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = jumpOnError;
    errors.base.output_message = ignoreMessage;
    const Result result = decodeInto(&info, &errors, data, length, expected, image);
    jpeg_destroy_decompress(&info);
    if (result != Result::Decoded) {
        *image = QImage();
        if (error) {
            *error = result == Result::Damaged ? QString::fromLocal8Bit(errors.message)
                                               : QStringLiteral("left to the toolkit's reader");
        }
    }
    return result;
}

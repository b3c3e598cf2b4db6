#pragma once

#include <QImage>
#include <QSize>
#include <QtGlobal>

#include <atomic>

// What a board's picture block may hold: a PNG stream, or the JPEG, WebP or GIF file a picture
// came from. Blocks are told apart by their first bytes alone, so that a reader needs no other
// record of what each one is, and recovery can find every kind in a damaged file.
namespace PictureBlock {

enum class Kind { Unknown, Png, Jpeg, WebP, Gif };

// Why a block gave no picture.
enum class Failure {
    Damaged,
    // It claims more pixels than its length could describe.
    ImplausibleSize,
    // Its pixels would take more memory than one picture may take here
    // (PictureFile::maximumBytes).
    TooLarge,
    // The caller stopped the decoding.
    Canceled,
};

Kind kindOf(const uchar *data, qint64 length);

// The length of the stream data starts with, up to its end (PNG's end chunk, JPEG's end of
// image marker, the RIFF container's declared size, GIF's trailer); -1 when it does not end within
// available bytes or is no stream of a known kind.
qint64 streamLength(const uchar *data, qint64 available);

// The size the stream's header declares, from its first bytes (a JPEG's frame header may follow
// a large block of metadata); invalid when they tell none.
QSize declaredSize(const uchar *data, qint64 length);

// Decodes the complete stream data[0, length), PNG through our own decoder, the others with the
// toolkit's readers, without turning the picture upright: the pixels are what was stored. A null
// image says why in failure: a block that is damaged, of no known kind, that claims more pixels
// than its length could describe, or more than memory holds.
// cancel, set from another thread, stops a long decoding early (Canceled).
QImage decode(
    const uchar *data, qint64 length, Failure *failure, const std::atomic_bool *cancel = nullptr);

// Decodes the PNG stream that data starts with, refusing dimensions its length could not
// describe. The stream may be followed by other bytes.
QImage decodePng(const uchar *data, qint64 length, Failure *failure = nullptr);

} // namespace PictureBlock

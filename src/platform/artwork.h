#pragma once

#include <QIcon>
#include <QImage>
#include <QString>

// The program's own pictures and icons from its resources. Each is read by the decoder that its
// file name names: given a bare file name, the toolkit first offers the file to every installed
// image plugin, which loads them all (with the HEIF, AVIF, JPEG XL and raw libraries they bring)
// before the first window shows. GUI thread only.
namespace Artwork {

QImage image(const QString &path);
// One icon per path for the whole process: a hundred buttons share one decoding.
QIcon icon(const QString &path);

} // namespace Artwork

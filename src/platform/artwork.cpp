#include "platform/artwork.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>
#include <QPixmap>

namespace {

QHash<QString, QIcon> *s_icons = nullptr;

// Icons hold pixmaps, which must go while the application still exists.
void dropIcons()
{
    delete s_icons;
    s_icons = nullptr;
}

} // namespace

namespace Artwork {

QImage image(const QString &path)
{
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QIcon icon(const QString &path)
{
    if (!s_icons) {
        s_icons = new QHash<QString, QIcon>;
        qAddPostRoutine(dropIcons);
    }
    const auto found = s_icons->constFind(path);
    if (found != s_icons->cend())
        return *found;
    // Drawings scale through the icon engine of their own; only pixel icons are decoded here.
    const QIcon made = path.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)
        ? QIcon(path)
        : QIcon(QPixmap::fromImage(image(path)));
    s_icons->insert(path, made);
    return made;
}

} // namespace Artwork

#include "ui/popuplabelcontent.h"

#include "ui/popuplabel.h"

#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QRegularExpression>
#include <QSvgRenderer>

namespace {

// Width of the soft shadow ring around the icon circle, in logical pixels.
constexpr qreal ShadowRingWidth = 10;

// text with each match of pattern replaced by what replacement makes of it.
template<typename Replacement>
QString replaceMatches(
    const QString &text, const QRegularExpression &pattern, Replacement replacement)
{
    QString result;
    int last = 0;
    QRegularExpressionMatchIterator matches = pattern.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        result.append(text.constData() + last, match.capturedStart() - last);
        result.append(replacement(match));
        last = match.capturedEnd();
    }
    result.append(text.constData() + last, text.size() - last);
    return result;
}

bool isNone(const QString &value)
{
    return value.trimmed().compare(QLatin1String("none"), Qt::CaseInsensitive) == 0;
}

// An unreadable or broken file gives a null image; the caller caches that too, so a missing icon
// is looked for once rather than on every repaint.
QImage renderedSvg(const QString &path, const QSize &pixels, const QColor &colour)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QImage();
    QSvgRenderer renderer(PopupLabelContent::recolouredSvg(file.readAll(), colour));
    if (!renderer.isValid())
        return QImage();
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter);
    return image;
}

// A raster icon as a mask in colour: each pixel's grey value becomes the alpha of colour. The
// icon is laid over black first, so that a transparent pixel counts as black whatever colour it
// hides (a transparent white surround would otherwise tint to an opaque block).
QImage tintedImage(const QImage &image, const QColor &colour)
{
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::black);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    painter.end();

    QImage indexed = flat.convertToFormat(QImage::Format_Indexed8);
    QVector<QRgb> table = indexed.colorTable();
    for (QRgb &entry : table) {
        const int grey = (11 * qRed(entry) + 16 * qGreen(entry) + 5 * qBlue(entry)) / 32;
        entry = qRgba(colour.red(), colour.green(), colour.blue(), grey);
    }
    indexed.setColorTable(table);
    return indexed;
}

} // namespace

PopupLabelContent::PopupLabelContent(PopupLabel *label)
    : QFrame(label)
    , m_label(label)
{
}

void PopupLabelContent::setNotice(
    const QString &heading, const QString &bindingText, const QString &iconPath)
{
    m_heading = heading;
    m_bindingText = bindingText;
    m_iconPath = iconPath;
    update();
}

QByteArray PopupLabelContent::recolouredSvg(const QByteArray &svg, const QColor &colour)
{
    // The look-behinds keep look-alikes such as data-fill or a namespaced attribute out.
    static const QRegularExpression attribute(
        QStringLiteral(R"((?<![\w:-])(fill|stroke)(\s*=\s*)(["'])(.*?)\3)"));
    static const QRegularExpression style(
        QStringLiteral(R"((?<![\w:-])(style\s*=\s*)(["'])(.*?)\2)"));
    static const QRegularExpression property(
        QStringLiteral(R"((?<![\w-])(fill|stroke)(\s*:\s*)([^;]*))"));

    const QString name = colour.name();
    const auto paint
        = [&](const QString &value) -> QString { return isNone(value) ? value : name; };
    QString text = replaceMatches(
        QString::fromUtf8(svg), attribute, [&](const QRegularExpressionMatch &match) -> QString {
            return match.captured(1) + match.captured(2) + match.captured(3)
                + paint(match.captured(4)) + match.captured(3);
        });
    text = replaceMatches(text, style, [&](const QRegularExpressionMatch &match) -> QString {
        const QString declarations = replaceMatches(
            match.captured(3), property, [&](const QRegularExpressionMatch &inner) -> QString {
                return inner.captured(1) + inner.captured(2) + paint(inner.captured(3));
            });
        return match.captured(1) + match.captured(2) + declarations + match.captured(2);
    });
    return text.toUtf8();
}

void PopupLabelContent::paintEvent(QPaintEvent *)
{
    const QColor background = m_label->effectiveBackgroundColor();
    const QColor border = m_label->effectiveBorderColor();
    const QColor foreground = palette().color(QPalette::WindowText);

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF area(rect());
    QRectF iconSquare = area.adjusted(2, 2, -2, -2);
    iconSquare.setWidth(iconSquare.height());

    // The pill starts under the circle, so that the circle seems to hold its left end.
    const qreal pillHeight = m_label->labelBackgroundHeight();
    QRectF pill(0, 0, area.width(), pillHeight);
    pill.moveCenter(area.center());
    pill.setLeft(0.2 * m_label->iconCircleSize());
    painter.setPen(border);
    painter.setBrush(background);
    painter.drawRoundedRect(pill, (pillHeight - 4) / 2, pillHeight / 2);

    const QPointF centre = iconSquare.center();
    const qreal radius = iconSquare.width() / 2 + 0.5;
    const qreal outer = radius + ShadowRingWidth;
    QPainterPath ring;
    ring.addEllipse(centre, outer, outer);
    ring.addEllipse(centre, radius, radius);
    QRadialGradient shade(centre, outer);
    shade.setColorAt(radius / outer, QColor(0, 0, 0, 30));
    shade.setColorAt(1, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shade);
    painter.drawPath(ring);
    painter.setPen(border);
    painter.setBrush(background);
    painter.drawEllipse(centre, radius, radius);

    const int iconMargin = m_label->iconMargin();
    const QRect iconArea
        = iconSquare.toRect().adjusted(iconMargin, iconMargin, -iconMargin, -iconMargin);
    if (!m_iconPath.isEmpty() && iconArea.isValid()) {
        const QPixmap pixmap = icon(iconArea.size(), foreground);
        if (!pixmap.isNull()) {
            QRect target(QPoint(), pixmap.size() / pixmap.devicePixelRatio());
            target.moveCenter(iconArea.center());
            painter.drawPixmap(target, pixmap);
        }
    }

    const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextDontClip;
    QFont headingFont = font();
    headingFont.setWeight(QFont::Bold);
    QFont bindingFont = font();
    bindingFont.setWeight(QFont::Normal);
    painter.setPen(foreground);
    qreal x = centre.x() + radius + m_label->labelPadding();
    painter.setFont(headingFont);
    painter.drawText(QRectF(x, 0, 0, area.height()), flags, m_heading);
    x += QFontMetricsF(headingFont).horizontalAdvance(m_heading) + m_label->labelSpacing();
    painter.setFont(bindingFont);
    painter.drawText(QRectF(x, 0, 0, area.height()), flags, m_bindingText);

    drawFrame(&painter);
}

QPixmap PopupLabelContent::icon(const QSize &size, const QColor &colour)
{
    const qreal ratio = devicePixelRatioF();
    const QString key = m_iconPath + QLatin1Char('|') + QString::number(size.width())
        + QLatin1Char('x') + QString::number(size.height()) + QLatin1Char('|')
        + colour.name(QColor::HexArgb) + QLatin1Char('|') + QString::number(ratio);
    const auto cached = m_iconCache.constFind(key);
    if (cached != m_iconCache.constEnd())
        return *cached;

    const QSize pixels = size * ratio;
    QImage image;
    if (m_iconPath.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive)) {
        image = renderedSvg(m_iconPath, pixels, colour);
    } else {
        const QImage source(m_iconPath);
        if (!source.isNull())
            image = tintedImage(
                source.scaled(pixels, Qt::KeepAspectRatio, Qt::SmoothTransformation), colour);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    m_iconCache.insert(key, pixmap);
    return pixmap;
}

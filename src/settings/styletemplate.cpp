#include "settings/styletemplate.h"

#include <QtMath>

namespace {

// Ten digits always fit 64 bits; a role number never needs more.
constexpr int MaxDigits = 10;
// Factors of QColor::lighter and QColor::darker: half again as light, half as light.
constexpr int LighterFactor = 150;
constexpr int DarkerFactor = 200;

struct ModifierWord {
    QLatin1String word;
    StyleTemplate::Modifier modifier;
};

const ModifierWord ModifierWords[] = {
    { QLatin1String(" lighter"), StyleTemplate::Modifier::Lighter },
    { QLatin1String(" darker"), StyleTemplate::Modifier::Darker },
    { QLatin1String(" inverted"), StyleTemplate::Modifier::Contrast },
};

// An sRGB channel (0..1) in linear light, as relative luminance wants it.
qreal linear(qreal channel)
{
    return channel <= 0.03928 ? channel / 12.92 : qPow((channel + 0.055) / 1.055, 2.4);
}

} // namespace

StyleTemplate::StyleTemplate(const QString &text, int roleCount)
    : m_text(text)
    , m_segments(parse(text, roleCount))
{
}

QVector<StyleTemplate::Segment> StyleTemplate::parse(const QString &text, int roleCount)
{
    QVector<Segment> segments;
    int literalStart = 0;
    int scan = 0;
    for (;;) {
        const int percent = text.indexOf(QLatin1Char('%'), scan);
        if (percent < 0)
            break;
        int end = percent + 1;
        qint64 number = 0;
        while (end < text.size() && end - percent - 1 < MaxDigits
            && text.at(end) >= QLatin1Char('0') && text.at(end) <= QLatin1Char('9')) {
            number = number * 10 + (text.at(end).unicode() - '0');
            ++end;
        }
        // Not a role: the "%" is text, and what follows it is scanned again as text.
        if (end == percent + 1 || number >= roleCount) {
            scan = percent + 1;
            continue;
        }
        Segment segment;
        segment.literal = text.mid(literalStart, percent - literalStart);
        segment.placeholder = int(number);
        for (const ModifierWord &entry : ModifierWords) {
            if (text.midRef(end).startsWith(entry.word)) {
                segment.modifier = entry.modifier;
                end += entry.word.size();
                break;
            }
        }
        segments.append(segment);
        literalStart = scan = end;
    }
    Segment tail;
    tail.literal = text.mid(literalStart);
    segments.append(tail);
    return segments;
}

QString StyleTemplate::render(const QVector<QColor> &colors) const
{
    QString sheet;
    for (const Segment &segment : m_segments) {
        sheet += segment.literal;
        if (segment.placeholder >= 0 && segment.placeholder < colors.size())
            sheet += colorText(modified(colors.at(segment.placeholder), segment.modifier));
    }
    return sheet;
}

QColor StyleTemplate::modified(const QColor &color, Modifier modifier)
{
    switch (modifier) {
    case Modifier::Lighter:
        return color.lighter(LighterFactor);
    case Modifier::Darker:
        return color.darker(DarkerFactor);
    case Modifier::Contrast:
        return contrasting(color);
    case Modifier::None:
        break;
    }
    return color;
}

QColor StyleTemplate::contrasting(const QColor &color)
{
    const qreal luminance = 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF())
        + 0.0722 * linear(color.blueF());
    QColor result = luminance > 0.25 ? QColor(Qt::black) : QColor(Qt::white);
    result.setAlpha(color.alpha());
    return result;
}

QString StyleTemplate::colorText(const QColor &color)
{
    // Never fully transparent: window systems let clicks through the fully transparent pixels
    // of a translucent window, and a transparent scheme must not make the canvas click-through.
    QColor shown = color;
    if (shown.alpha() < 2)
        shown.setAlpha(2);
    if (shown.alpha() == 255)
        return shown.name(QColor::HexRgb);
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(shown.red())
        .arg(shown.green())
        .arg(shown.blue())
        .arg(shown.alpha());
}

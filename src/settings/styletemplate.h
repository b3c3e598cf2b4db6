#pragma once

#include <QColor>
#include <QString>
#include <QVector>

// A style sheet written against numbered colour roles: "%3" stands for the colour of role 3, and
// "%3 lighter", "%3 darker" or "%3 inverted" for that colour lightened, darkened or replaced by
// black or white, whichever reads on it. A "%" that is not followed by the number of a role (no
// digits, a number beyond the roles, one that overflows) is left in the sheet as written, so a
// percentage such as "width: 50%" survives.
//
// The text is parsed once into segments; rendering only fills in colours. A plain value.
class StyleTemplate {
public:
    enum class Modifier { None, Lighter, Darker, Contrast };

    // Literal text, then the placeholder that follows it; the tail of the text has none (-1).
    struct Segment {
        QString literal;
        int placeholder = -1;
        Modifier modifier = Modifier::None;
    };

    StyleTemplate() = default;
    // roleCount: placeholders 0 .. roleCount - 1 are colours, any other number stays text.
    StyleTemplate(const QString &text, int roleCount);

    QString text() const { return m_text; }
    QVector<Segment> segments() const { return m_segments; }
    bool isEmpty() const { return m_text.isEmpty(); }

    // colors holds one colour a role; the template was parsed for at most that many roles.
    QString render(const QVector<QColor> &colors) const;

    static QVector<Segment> parse(const QString &text, int roleCount);
    static QColor modified(const QColor &color, Modifier modifier);
    // Black on colours lighter than a quarter of relative luminance, white on the others; the
    // alpha of the colour is kept.
    static QColor contrasting(const QColor &color);
    // "#rrggbb" for opaque colours, "rgba(r,g,b,a)" with 0..255 channels otherwise.
    static QString colorText(const QColor &color);

private:
    QString m_text;
    QVector<Segment> m_segments;
};

#pragma once

#include <QFrame>
#include <QHash>
#include <QPixmap>

class PopupLabel;

// The painted face of a PopupLabel: a pill holding the heading and binding text, with a round
// icon at its left end. It reads its metrics and colours from the label, so that one style sheet
// rule on the label styles both. Widget coordinates, logical pixels; icons are cached as rendered
// pixmaps, keyed by path, size, colour and device pixel ratio. GUI thread only.
class PopupLabelContent : public QFrame {
    Q_OBJECT

public:
    explicit PopupLabelContent(PopupLabel *label);

    void setNotice(const QString &heading, const QString &bindingText, const QString &iconPath);

    // The SVG text with every fill and stroke colour (attributes and style attributes) set to
    // colour; "none" stays, so outlines stay outlines.
    static QByteArray recolouredSvg(const QByteArray &svg, const QColor &colour);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap icon(const QSize &size, const QColor &colour);

    PopupLabel *m_label;
    QString m_heading;
    QString m_bindingText;
    QString m_iconPath;
    QHash<QString, QPixmap> m_iconCache;
};

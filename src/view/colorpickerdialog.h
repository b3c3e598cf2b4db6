#pragma once

#include <QColor>
#include <QWidget>

class QLabel;

// The small popup that follows the pointer while the user inspects colours on the canvas: a
// swatch and the colour's values. When the pick ends the last colour goes to the clipboard as
// "#rrggbb", so the inspection has a use beyond looking.
class ColorPickerDialog : public QWidget {
    Q_OBJECT

public:
    explicit ColorPickerDialog(QWidget *parent = nullptr);

    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    // Shown beside the pointer, not under it, so the sampled pixel stays visible.
    void moveToPointer(const QPoint &globalPos);
    void finish(const QColor &color);

private:
    QColor m_color;
    QLabel *m_swatch;
    QLabel *m_text;
};

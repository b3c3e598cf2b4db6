#pragma once

#include <QObject>

class ColorCustomizer;
class QFont;

// Puts the colour scheme of a ColorCustomizer on the whole application: its palette, its style
// sheet and its font, once apply() is called and on every change after. The palette is what the
// style sheet's rules are laid over, so a window or control that no rule names (a future dialog,
// the toolkit's file and colour dialogs) still takes the scheme's colours. GUI thread only.
class ApplicationLook : public QObject {
    Q_OBJECT

public:
    explicit ApplicationLook(ColorCustomizer *colors, QObject *parent = nullptr);

    // Until the first call the application keeps its own look: the templates are still being
    // registered, and each would restyle every widget.
    void apply();
    bool isApplied() const { return m_applied; }

    // QApplication::setFont() only reaches windows while a style sheet is set: their children
    // keep the font they had. This hands it to every widget that did not choose its own.
    static void setApplicationFont(const QFont &font);

private:
    void applyStyle();

    ColorCustomizer *m_colors;
    bool m_applied = false;
};

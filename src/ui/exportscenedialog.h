#pragma once

#include <QDialog>
#include <QSize>

class QCheckBox;
class QSlider;
class QSpinBox;

// Asks for the size, background, borders and quality of a scene export. With the aspect ratio
// kept, changing one side sets the other from the ratio of the sizes the dialog was opened with,
// so repeated edits never drift through rounding.
class ExportSceneDialog : public QDialog {
    Q_OBJECT

public:
    explicit ExportSceneDialog(const QSize &sceneSize, QWidget *parent = nullptr);

    int exportWidth() const;
    int exportHeight() const;
    bool includeBackground() const;
    bool includeBorders() const;
    int quality() const;

    QSpinBox *widthBox() const { return m_width; }
    QSpinBox *heightBox() const { return m_height; }
    QCheckBox *aspectBox() const { return m_keepAspect; }

private:
    void widthChanged(int width);
    void heightChanged(int height);

    QSize m_presetSize;
    QSpinBox *m_width = nullptr;
    QSpinBox *m_height = nullptr;
    QCheckBox *m_keepAspect = nullptr;
    QCheckBox *m_background = nullptr;
    QCheckBox *m_borders = nullptr;
    QSlider *m_quality = nullptr;
};

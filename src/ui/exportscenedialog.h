#pragma once

#include <QDialog>
#include <QSize>
#include <QString>

class QCheckBox;
class QComboBox;
class QRadioButton;
class QSlider;
class QSpinBox;

// Asks what part of the board to export (all of it, the selection, or a rectangle to be dragged
// on it afterwards), at what size (a scale, or an exact width and height), in what format, and
// with or without background and borders. With the aspect ratio kept, changing one side sets the
// other from the ratio of the sizes of the part chosen, so repeated edits never drift through
// rounding.
class ExportSceneDialog : public QDialog {
    Q_OBJECT

public:
    enum class Region { Board, Selection, Rectangle };

    explicit ExportSceneDialog(const QSize &sceneSize, QWidget *parent = nullptr);

    // Offers the selection, of the size given; without it there is none to offer.
    void setSelectionSize(const QSize &size);
    // Picks the format of the file suffix given ("png", "jpg", "jpeg", "webp").
    void setFormat(const QString &suffix);

    Region region() const;
    // In percent; -1 when an exact size was asked for.
    int scale() const;
    int exportWidth() const;
    int exportHeight() const;
    bool includeBackground() const;
    bool includeBorders() const;
    int quality() const;
    // The file suffix of the format chosen: "png", "jpg" or "webp".
    QString format() const;

    QSpinBox *widthBox() const { return m_width; }
    QSpinBox *heightBox() const { return m_height; }
    QCheckBox *aspectBox() const { return m_keepAspect; }
    QComboBox *regionBox() const { return m_region; }
    QRadioButton *scaleButton() const { return m_byScale; }
    QSpinBox *scaleBox() const { return m_scale; }

private:
    void widthChanged(int width);
    void heightChanged(int height);
    void regionChanged();

    QSize m_sceneSize;
    QSize m_selectionSize;
    QSize m_presetSize;
    QComboBox *m_region = nullptr;
    QRadioButton *m_byScale = nullptr;
    QRadioButton *m_bySize = nullptr;
    QSpinBox *m_scale = nullptr;
    QComboBox *m_format = nullptr;
    QSpinBox *m_width = nullptr;
    QSpinBox *m_height = nullptr;
    QCheckBox *m_keepAspect = nullptr;
    QCheckBox *m_background = nullptr;
    QCheckBox *m_borders = nullptr;
    QSlider *m_quality = nullptr;
};

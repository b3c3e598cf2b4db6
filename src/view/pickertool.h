#pragma once

#include "view/viewtool.h"

#include <QImage>

class ColorPickerDialog;
class CoordinatePickerDialog;

// The two inspection picks: holding S shows the colour under the pointer, holding D the pointer's
// place in the picture under it, each in a popup that follows the pointer. They only read; no
// command comes of them.
class PickerTool : public AbstractViewTool {
    Q_OBJECT

public:
    PickerTool(GraphicsView *view, ViewToolContext *context);

    void createActions() override;

    ColorPickerDialog *colorPicker() const { return m_colorPicker; }
    CoordinatePickerDialog *coordinatePicker() const { return m_coordinatePicker; }

private:
    void colorPickBegin(const QPoint &pos);
    void colorPickUpdate(const Action::ContinuousUpdateData &motion);
    void colorPickEnd();
    void coordinatePickBegin(const QPoint &pos);
    void coordinatePickUpdate(const Action::ContinuousUpdateData &motion);
    void coordinatePickEnd();

    ColorPickerDialog *m_colorPicker;
    CoordinatePickerDialog *m_coordinatePicker;
    // The viewport as it looked when the colour pick began; colours are read from it.
    QImage m_pickImage;
};

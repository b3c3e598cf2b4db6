#pragma once

#include <QPointF>
#include <QWidget>

class QLabel;

// The popup that follows the pointer while the user reads image coordinates: the position in
// the item's own units measured from its top-left corner, or a word saying no item is there.
class CoordinatePickerDialog : public QWidget {
    Q_OBJECT

public:
    explicit CoordinatePickerDialog(QWidget *parent = nullptr);

    bool hasItem() const { return m_hasItem; }
    QPointF coordinates() const { return m_coordinates; }
    void setCoordinates(const QPointF &coordinates);
    void setNoItem();
    void moveToPointer(const QPoint &globalPos);

private:
    bool m_hasItem = false;
    QPointF m_coordinates;
    QLabel *m_text;
};

#pragma once

#include <QLineEdit>

// Records the mouse buttons held together while the user presses them on it.
class MouseEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit MouseEdit(QWidget *parent = nullptr);

    Qt::MouseButtons buttons() const { return m_buttons; }
    void setButtons(Qt::MouseButtons buttons);

signals:
    void buttonsChanged(Qt::MouseButtons newButtons);
    void clearPressed();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    Qt::MouseButtons m_buttons;
};

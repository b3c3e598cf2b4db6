#pragma once

#include <QKeySequence>
#include <QLineEdit>

// Records one key combination: the key pressed with its modifiers, or the modifiers alone when
// they are released without a key. While it has the focus it blocks every triggered action, so
// that the keys being recorded do not also run commands.
class KeyEdit : public QLineEdit {
    Q_OBJECT

public:
    explicit KeyEdit(QWidget *parent = nullptr);

    QKeySequence keySequence() const { return m_keySequence; }
    void setKeySequence(const QKeySequence &keySequence);

    // "Ctrl+Alt+Z", "Ctrl+Alt": the display form without a dangling plus.
    static QString sequenceText(const QKeySequence &keySequence);

signals:
    void keySequenceChanged(const QKeySequence &keySequence);
    void clearPressed();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    bool event(QEvent *event) override;

private:
    QKeySequence m_keySequence;
    bool m_keyPressed = false;
};

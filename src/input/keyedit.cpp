#include "input/keyedit.h"

#include "input/actionbinding.h"
#include "input/actionhandler.h"

#include <QKeyEvent>

KeyEdit::KeyEdit(QWidget *parent)
    : QLineEdit(parent)
{
    setReadOnly(true);
    setClearButtonEnabled(true);
    setPlaceholderText(tr("Press keys"));
    // The clear button only clears the text: turn that into an empty key sequence.
    connect(this, &QLineEdit::textChanged, this, [this](const QString &shown) {
        if (shown.isEmpty() && !m_keySequence.isEmpty()) {
            m_keySequence = QKeySequence();
            emit clearPressed();
            emit keySequenceChanged(m_keySequence);
        }
    });
}

QString KeyEdit::sequenceText(const QKeySequence &keySequence)
{
    return ActionBinding(ActionBinding::Triggered, keySequence).displayText();
}

void KeyEdit::setKeySequence(const QKeySequence &keySequence)
{
    m_keySequence = keySequence;
    setText(sequenceText(keySequence));
}

bool KeyEdit::event(QEvent *event)
{
    // Tab and Backtab are keys like any other here, not focus moves.
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent *>(event));
        return true;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    return QLineEdit::event(event);
}

void KeyEdit::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if (key == Qt::Key_unknown || key == 0 || event->isAutoRepeat())
        return;
    int modifiers = int(event->modifiers()
        & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const bool modifierKey = key >= Qt::Key_Shift && key <= Qt::Key_Alt;
    // X11 reports a modifier's own press without its bit.
    if (key == Qt::Key_Shift)
        modifiers |= Qt::ShiftModifier;
    else if (key == Qt::Key_Control)
        modifiers |= Qt::ControlModifier;
    else if (key == Qt::Key_Meta)
        modifiers |= Qt::MetaModifier;
    else if (key == Qt::Key_Alt)
        modifiers |= Qt::AltModifier;
    m_keyPressed = !modifierKey;
    const QKeySequence recorded(modifierKey ? modifiers : (key | modifiers));
    if (recorded != m_keySequence) {
        setKeySequence(recorded);
        emit keySequenceChanged(m_keySequence);
    }
}

void KeyEdit::keyReleaseEvent(QKeyEvent *event)
{
    // A modifier released without a key keeps what is still held: Ctrl+Alt for a mouse binding.
    Q_UNUSED(event)
}

void KeyEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    ActionHandler::instance()->setBlocked(true, this);
}

void KeyEdit::focusOutEvent(QFocusEvent *event)
{
    QLineEdit::focusOutEvent(event);
    ActionHandler::instance()->setBlocked(false, this);
}

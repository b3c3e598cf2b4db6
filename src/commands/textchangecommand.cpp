#include "textchangecommand.h"

#include "scene/graphicstextitem.h"

TextChangeCommand::State TextChangeCommand::stateOf(const GraphicsTextItem *note)
{
    return State { note->text(), note->textColor(), note->textBackgroundColor() };
}

TextChangeCommand::TextChangeCommand(GraphicsTextItem *note, const State &previous)
    : m_note(note)
    , m_old(previous)
    , m_new(stateOf(note))
{
}

TextChangeCommand::~TextChangeCommand() = default;

void TextChangeCommand::apply(const State &state)
{
    // Setting the same text again would only throw away the cursor and the layout.
    if (m_note->text() != state.text)
        m_note->setText(state.text);
    m_note->setTextColor(state.textColor);
    m_note->setTextBackgroundColor(state.backgroundColor);
}

void TextChangeCommand::redo()
{
    apply(m_new);
    BaseCommand::redo();
}

void TextChangeCommand::undo()
{
    apply(m_old);
    BaseCommand::undo();
}

bool TextChangeCommand::hasEffect() const
{
    return m_old.text != m_new.text || m_old.textColor != m_new.textColor
        || m_old.backgroundColor != m_new.backgroundColor;
}

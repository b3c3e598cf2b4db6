#pragma once

#include "commands/basecommand.h"

#include <QColor>
#include <QString>

class GraphicsTextItem;

// One finished edit of a note: its text and both colours before and after. The view remembers
// the state when editing starts and creates the command when it ends; the state after is read
// from the note then.
class TextChangeCommand : public BaseCommand {
    Q_OBJECT

public:
    struct State {
        QString text;
        QColor textColor;
        QColor backgroundColor;
    };
    static State stateOf(const GraphicsTextItem *note);

    TextChangeCommand(GraphicsTextItem *note, const State &previous);
    ~TextChangeCommand() override;

    void redo() override;
    void undo() override;
    bool hasEffect() const override;

private:
    void apply(const State &state);

    GraphicsTextItem *m_note;
    State m_old;
    State m_new;
};

#pragma once

#include "view/viewtool.h"

#include <QColor>
#include <QString>

class GraphicsTextItem;
class QKeyEvent;
class QPushButton;

// Making and editing notes. At most one note is in edit mode; its whole edit, text and colours,
// becomes one undo step when editing ends. While a note is edited, two buttons beside its top-left
// corner choose its text and background colours, and triggered actions are blocked so that keys
// reach the text.
class NoteTool : public AbstractViewTool {
    Q_OBJECT

public:
    NoteTool(GraphicsView *view, ViewToolContext *context);

    // The colours of notes made here; invalid ones leave the note to the view's palette.
    QColor noteColor() const { return m_defaultNoteColor; }
    void setNoteColor(const QColor &color) { m_defaultNoteColor = color; }
    QColor noteBackgroundColor() const { return m_defaultNoteBackground; }
    void setNoteBackgroundColor(const QColor &color) { m_defaultNoteBackground = color; }
    void setSelectTextOnEditingStart(bool select) { m_selectTextOnEdit = select; }
    void setFinishNoteWithReturn(bool finish) { m_finishNoteWithReturn = finish; }

    // See GraphicsView::createNote.
    GraphicsTextItem *createNote(const QPoint &viewPos);
    GraphicsTextItem *editedNote() const;
    // Setting another note, or none, ends the editing of the previous one.
    void setEditedNote(GraphicsTextItem *note);
    // Escape, or Return without Shift where the setting asks for it, ends the editing; true when
    // the key did so.
    bool finishEditingByKey(const QKeyEvent *event);
    // The buttons sit on the screen: the view calls this when it pans or zooms.
    void updateButtons();

    // Each setter asks for a colour of its role, which updateTextColor applies; resetTextColor
    // returns to the colours editing began with.
    void setTextColor();
    void setTextBackgroundColor();
    void updateTextColor(const QColor &color);
    void resetTextColor();

private:
    // The edited note as it was when editing began, for the one undo step of the edit.
    QString m_noteText;
    QColor m_noteColor;
    QColor m_noteBackground;
    QColor m_defaultNoteColor;
    QColor m_defaultNoteBackground;
    bool m_selectTextOnEdit = true;
    bool m_finishNoteWithReturn = true;
    bool m_pickBackground = false;
    QPushButton *m_textColorButton;
    QPushButton *m_backgroundColorButton;
};

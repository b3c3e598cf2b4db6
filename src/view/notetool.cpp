#include "view/notetool.h"

#include "commands/addcommand.h"
#include "commands/commandhandler.h"
#include "commands/textchangecommand.h"
#include "input/actionhandler.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "view/graphicsview.h"
#include "view/itemcondition.h"

#include <QColorDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QScopeGuard>

NoteTool::NoteTool(GraphicsView *view, ViewToolContext *context)
    : AbstractViewTool(view, context)
    , m_textColorButton(new QPushButton(QStringLiteral("T"), view))
    , m_backgroundColorButton(new QPushButton(view))
{
    for (QPushButton *button : { m_textColorButton, m_backgroundColorButton }) {
        button->setFixedSize(20, 20);
        button->setFocusPolicy(Qt::NoFocus);
        button->hide();
    }
    connect(m_textColorButton, &QPushButton::clicked, this, &NoteTool::setTextColor);
    connect(
        m_backgroundColorButton, &QPushButton::clicked, this, &NoteTool::setTextBackgroundColor);
}

GraphicsTextItem *NoteTool::editedNote() const
{
    return static_cast<GraphicsTextItem *>(context().textEditing->item());
}

GraphicsTextItem *NoteTool::createNote(const QPoint &viewPos)
{
    if (view()->isCanvasLocked())
        return nullptr;
    // Notes stick to pictures: over a note, the new one goes to that note's picture.
    GraphicsItem *target = view()->topItemAt(viewPos);
    if (target && target->itemType() == GraphicsItem::TextItemType)
        target = target->parentGraphicsItem();

    auto *note = new GraphicsTextItem(QPointF(), tr("Note"), target);
    // Twice the size of text at zoom 1, whatever the zoom now.
    QTransform full = QTransform::fromScale(2, 2) * view()->transform().inverted();
    const QPointF at = view()->mapToScene(viewPos);
    full.setMatrix(full.m11(), full.m12(), 0, full.m21(), full.m22(), 0, at.x(), at.y(), 1);
    note->setFullTransform(full);
    if (m_defaultNoteColor.isValid())
        note->setTextColor(m_defaultNoteColor);
    else
        note->setTextColor(view()->palette().color(QPalette::Text));
    if (m_defaultNoteBackground.isValid())
        note->setTextBackgroundColor(m_defaultNoteBackground);

    commands()->push(new AddCommand(scene(), note));
    scene()->clearSelection();
    note->setSelected(true);
    setEditedNote(note);
    return note;
}

void NoteTool::setEditedNote(GraphicsTextItem *note)
{
    GraphicsTextItem *old = editedNote();
    if (old == note)
        return;
    // The gizmo stays off the note while it is edited.
    auto gizmoLater = qScopeGuard([this] { view()->updateGizmo(); });
    if (old) {
        disconnect(old, nullptr, this, nullptr);
        old->setEditing(false);
        context().textEditing->setItem(nullptr);
        ActionHandler::instance()->setBlocked(false, this);
        commands()->push(new TextChangeCommand(old, { m_noteText, m_noteColor, m_noteBackground }));
        emit updateFinished();
    }
    if (note) {
        if (!old)
            emit updateStarted();
        const TextChangeCommand::State state = TextChangeCommand::stateOf(note);
        m_noteText = state.text;
        m_noteColor = state.textColor;
        m_noteBackground = state.backgroundColor;
        context().textEditing->setItem(note);
        // A note deleted while edited (its addition undone and dropped) must not be touched.
        connect(note, &QObject::destroyed, this, [this] {
            context().textEditing->setItem(nullptr);
            ActionHandler::instance()->setBlocked(false, this);
            updateButtons();
        });
        note->setEditing(true);
        note->setFocus(Qt::MouseFocusReason);
        if (m_selectTextOnEdit)
            note->selectAllText();
        ActionHandler::instance()->setBlocked(true, this);
    }
    updateButtons();
}

bool NoteTool::finishEditingByKey(const QKeyEvent *event)
{
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (event->key() == Qt::Key_Escape
        || (m_finishNoteWithReturn && isReturn && !(event->modifiers() & Qt::ShiftModifier))) {
        setEditedNote(nullptr);
        return true;
    }
    return false;
}

void NoteTool::updateButtons()
{
    GraphicsTextItem *note = editedNote();
    if (!note) {
        m_textColorButton->hide();
        m_backgroundColorButton->hide();
        return;
    }
    const QString text = note->textColor().name();
    m_textColorButton->setStyleSheet(
        QStringLiteral("QPushButton {\tbackground-color: rgba(0,0,0,0.01);\tcolor: ") + text
        + QStringLiteral(";}"));
    m_backgroundColorButton->setStyleSheet(QStringLiteral("QPushButton {\tbackground-color:")
        + note->textBackgroundColor().name() + QStringLiteral(";\tcolor: ") + text
        + QStringLiteral(";}"));
    const QPoint corner
        = view()->mapFromScene(note->sceneTransform().map(note->boundingRect().topLeft()));
    m_textColorButton->move(corner + QPoint(-22, 0));
    m_backgroundColorButton->move(corner + QPoint(-22, 22));
    m_textColorButton->show();
    m_backgroundColorButton->show();
}

void NoteTool::setTextColor()
{
    GraphicsTextItem *note = editedNote();
    if (!note)
        return;
    m_pickBackground = false;
    const QColor color = QColorDialog::getColor(note->textColor(), view());
    if (color.isValid())
        updateTextColor(color);
}

void NoteTool::setTextBackgroundColor()
{
    GraphicsTextItem *note = editedNote();
    if (!note)
        return;
    m_pickBackground = true;
    const QColor color = QColorDialog::getColor(
        note->textBackgroundColor(), view(), QString(), QColorDialog::ShowAlphaChannel);
    if (color.isValid())
        updateTextColor(color);
}

void NoteTool::updateTextColor(const QColor &color)
{
    GraphicsTextItem *note = editedNote();
    if (!note)
        return;
    if (m_pickBackground)
        note->setTextBackgroundColor(color);
    else
        note->setTextColor(color);
    updateButtons();
}

void NoteTool::resetTextColor()
{
    GraphicsTextItem *note = editedNote();
    if (!note)
        return;
    note->setTextColor(m_noteColor);
    note->setTextBackgroundColor(m_noteBackground);
    updateButtons();
}

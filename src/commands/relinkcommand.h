#pragma once

#include "commands/basecommand.h"

#include <QList>
#include <QPixmap>

class GraphicsImageItem;
class GraphicsItem;

// Records the pictures that relinking gave to missing images, so the change can be undone
// (the items are missing again) and redone (each gets a copy of its recorded picture). Copies
// of a pixmap share its pixels.
class RelinkCommand : public BaseCommand {
    Q_OBJECT

public:
    explicit RelinkCommand(const QList<GraphicsItem *> &items);
    ~RelinkCommand() override;

    void redo() override;
    void undo() override;

private:
    QList<GraphicsImageItem *> m_items;
    QList<QPixmap> m_images;
};

#pragma once

#include "commands/basecommand.h"

#include <QList>
#include <QPixmap>
#include <QStringList>

class GraphicsImageItem;
class GraphicsItem;

// Records the pictures and files that relinking gave to missing images, so the change can be
// undone (the items are missing again, linking the files they linked before) and redone (each
// gets a copy of its recorded picture and its new file). Copies of a pixmap share its pixels.
class RelinkCommand : public BaseCommand {
    Q_OBJECT

public:
    // previousSources: the file each item linked before, in the items' order; the items' own
    // when not given.
    explicit RelinkCommand(
        const QList<GraphicsItem *> &items, const QStringList &previousSources = QStringList());
    ~RelinkCommand() override;

    void redo() override;
    void undo() override;

private:
    QList<GraphicsImageItem *> m_items;
    QList<QPixmap> m_images;
    QStringList m_sources;
    QStringList m_previousSources;
};

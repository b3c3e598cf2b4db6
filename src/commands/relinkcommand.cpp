#include "relinkcommand.h"

#include "scene/graphicsimageitem.h"

RelinkCommand::RelinkCommand(const QList<GraphicsItem *> &items)
{
    for (GraphicsItem *item : items) {
        if (auto *image = dynamic_cast<GraphicsImageItem *>(item)) {
            m_items.append(image);
            m_images.append(image->image() ? *image->image() : QPixmap());
        }
    }
}

RelinkCommand::~RelinkCommand() = default;

void RelinkCommand::redo()
{
    for (int i = 0; i < m_items.size(); ++i) {
        const QPixmap &image = m_images.at(i);
        m_items.at(i)->setImage(image.isNull() ? nullptr : new QPixmap(image));
    }
    BaseCommand::redo();
}

void RelinkCommand::undo()
{
    for (GraphicsImageItem *item : qAsConst(m_items))
        item->setImage(nullptr);
    BaseCommand::undo();
}

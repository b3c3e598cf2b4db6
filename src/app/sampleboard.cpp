#include "app/sampleboard.h"

#include "jobs/loadjob.h"
#include "persistence/savefileloader.h"
#include "picture/picture.h"
#include "scene/graphicsimageitem.h"
#include "scene/graphicsscene.h"
#include "scene/graphicstextitem.h"
#include "scene/scenesnapshot.h"

#include <QFile>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>

namespace {

QPixmap landscape()
{
    QPixmap pixmap(640, 400);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 400);
    sky.setColorAt(0, QColor(38, 70, 140));
    sky.setColorAt(0.6, QColor(240, 160, 110));
    painter.fillRect(pixmap.rect(), sky);
    QRadialGradient sun(420, 230, 90);
    sun.setColorAt(0, QColor(255, 240, 200));
    sun.setColorAt(1, QColor(255, 200, 120, 0));
    painter.setBrush(sun);
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QPointF(420, 230), 90, 90);
    QPainterPath hills;
    hills.moveTo(0, 300);
    hills.cubicTo(160, 220, 300, 340, 640, 260);
    hills.lineTo(640, 400);
    hills.lineTo(0, 400);
    painter.setBrush(QColor(40, 60, 50));
    painter.drawPath(hills);
    return pixmap;
}

QPixmap colourWheel()
{
    QPixmap pixmap(360, 360);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (int hue = 0; hue < 360; hue += 15) {
        painter.setBrush(QColor::fromHsv(hue, 200, 235));
        painter.drawPie(QRectF(20, 20, 320, 320), hue * 16, 15 * 16);
    }
    painter.setBrush(QColor(250, 250, 250));
    painter.drawEllipse(QPointF(180, 180), 60, 60);
    return pixmap;
}

QPixmap pattern()
{
    QPixmap pixmap(420, 300);
    pixmap.fill(QColor(245, 238, 225));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 14; ++i) {
        const qreal angle = i * 2 * M_PI / 14;
        painter.setPen(QPen(QColor::fromHsv((i * 25) % 360, 160, 180), 6));
        painter.drawLine(
            QPointF(210, 150), QPointF(210 + 130 * qCos(angle), 150 + 130 * qSin(angle)));
    }
    return pixmap;
}

QPixmap figure()
{
    QPixmap pixmap(260, 420);
    pixmap.fill(QColor(60, 60, 66));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(230, 230, 230), 5, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(130, 80), 38, 46);
    painter.drawLine(QPointF(130, 126), QPointF(130, 270));
    painter.drawLine(QPointF(130, 160), QPointF(70, 230));
    painter.drawLine(QPointF(130, 160), QPointF(195, 210));
    painter.drawLine(QPointF(130, 270), QPointF(85, 380));
    painter.drawLine(QPointF(130, 270), QPointF(180, 380));
    return pixmap;
}

GraphicsImageItem *picture(const QPixmap &pixmap, const QString &name, const QPointF &position)
{
    return new GraphicsImageItem(Picture::fromPixels(pixmap.toImage()), QString(), name, position);
}

} // namespace

bool SampleBoard::write(const QString &path, QString *error)
{
    GraphicsScene scene(nullptr, nullptr);
    scene.addItem(picture(landscape(), QStringLiteral("Evening"), QPointF(-360, -230)));
    scene.addItem(picture(colourWheel(), QStringLiteral("Colours"), QPointF(220, -250)));
    scene.addItem(picture(pattern(), QStringLiteral("Rays"), QPointF(-420, 210)));
    auto *pose = picture(figure(), QStringLiteral("Pose"), QPointF(130, 230));
    scene.addItem(pose);

    auto *welcome = new GraphicsTextItem(QPointF(-80, -520),
        QStringLiteral("Welcome to Velkora: drop pictures, folders or web "
                       "images anywhere on this board."));
    welcome->setTextColor(Qt::white);
    welcome->setLocalTransform(QTransform(3, 0, 0, 3, -80, -520));
    scene.addItem(welcome);
    auto *hint
        = new GraphicsTextItem(QPointF(0, 0), QStringLiteral("Notes stick to pictures"), pose);
    hint->setLocalTransform(QTransform(2.5, 0, 0, 2.5, 0, 250));
    hint->setTextColor(Qt::white);
    scene.addItem(hint);

    SaveFileLoader::SceneState state;
    state.items = SceneSnapshot::take(scene.topLevelItems(Qt::AscendingOrder));
    state.nextItemId = scene.nextId();
    // Framed for the window of a first start (600 by 400): everything in view, centred.
    const QRectF bounds = scene.itemsBoundingRect();
    const qreal scale = qMin(560 / bounds.width(), 360 / bounds.height());
    state.sceneRect = bounds.adjusted(-2000, -2000, 2000, 2000);
    state.viewTransform = QTransform::fromScale(scale, scale);
    state.horizontalScroll = qRound(bounds.center().x() * scale - 300);
    state.verticalScroll = qRound(bounds.center().y() * scale - 200);

    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
        *error = file.errorString();
        return false;
    }
    SaveFileLoader writer;
    LoadJob job(&writer);
    QString message;
    QObject::connect(
        &job, &LoadJob::finished, &job, [&message](const QString &heading, const QString &details) {
            message = heading.isEmpty() ? QString() : heading + QLatin1Char(' ') + details;
        });
    writer.save(&file, QString(), state, &job);
    file.close();
    if (!message.isEmpty()) {
        *error = message;
        return false;
    }
    return true;
}

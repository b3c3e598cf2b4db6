#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QList>
#include <QMetaType>
#include <QPainterPath>
#include <QPointF>
#include <QSize>
#include <QString>
#include <QTransform>

#include <memory>
#include <optional>

class Picture;

// One canvas item as plain values, with the items attached to it: what a worker reads from a
// file or makes from a drop, and what a save writes. Workers make and consume records; only the
// GUI thread turns them into items (ItemBuilder) or items into them (SceneSnapshot). Pixels are
// an implicitly shared QImage, so passing a record through a queued signal copies none.
struct ItemRecord {
    enum class Type { Image, Note };

    Type type = Type::Image;
    // -1 for an item that was never on a scene: it gets an id and a depth when first added.
    int id = -1;
    double z = 0.0;
    // Where a new item is created; a read item carries its whole transform instead.
    QPointF position;
    std::optional<QTransform> transform;

    // Images.
    QString source;
    // Where a picture from the web came from: its own address, and the page it was found on.
    // Empty for pictures that came from files or other programs.
    QString pictureAddress;
    QString pageAddress;
    QString name;
    float opacity = 1.0f;
    std::optional<QTransform> imageTransform;
    std::optional<QPainterPath> cropPath;
    int filter = 1; // smooth
    bool autoDownscaled = false;
    QSize downscaleLimit;
    // Null when the picture is missing, or, on saving, when another image owns the same pixels.
    // A record may carry its picture instead (below), with the pixels left where they are.
    QImage image;
    // The picture itself: what a board's reader makes with its overview and its block as source,
    // and what a snapshot of the scene hands on. Null pixels with a picture are decoded from it
    // when something needs them. Thread-safe, shared.
    std::shared_ptr<Picture> picture;
    // The JPEG, PNG, WebP or GIF file the pixels came from, when decoding it gives exactly image:
    // a board may store it instead of encoding the pixels. Shared, like the pixels.
    QByteArray original;
    // Saving only: the lowest id of an image showing the same pixels (own id when it owns them).
    int pixelsOwnerId = -1;
    // The picture's smallest level as a JPEG stream and the checksum of the block it was made
    // from (Picture::storedOverview), so that opening the board again need not decode the block
    // to show it small; empty when the record carries none.
    QByteArray overview;
    quint32 overviewChecksum = 0;
    // How a picture whose original is an animation plays: the frame it shows (the one a pause
    // stopped on), its speed, whether it plays and whether it starts over at its end. Absent for
    // stills.
    struct Playback {
        int frame = 0;
        double speed = 1.0;
        bool playing = true;
        bool loops = true;

        static constexpr double SlowestSpeed = 0.25;
        static constexpr double FastestSpeed = 4.0;
        bool operator==(const Playback &other) const
        {
            return frame == other.frame && speed == other.speed && playing == other.playing
                && loops == other.loops;
        }
    };
    std::optional<Playback> playback;

    // Notes.
    QString text;
    std::optional<QColor> textColor;
    std::optional<QColor> backgroundColor;
    // The transform places the note's top-left corner rather than its centre (boards of other
    // programs): the builder, which alone knows the note's size in our font, moves it.
    bool topLeftOrigin = false;

    QList<ItemRecord> children;
};

Q_DECLARE_METATYPE(ItemRecord)

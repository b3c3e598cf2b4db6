#pragma once

#include "scene/itemrecord.h"

#include <QList>
#include <QMetaType>
#include <QString>

// What a load had to leave out of a board that otherwise loaded: how many pictures and notes,
// and every distinct reason, in the order first met. The reader fills it on the loader thread
// and hands it over as a value when the load ends; the GUI side shows message() once.
struct LoadLosses {
    enum class Reason {
        // An index entry or the item records reach past the file's last byte.
        FileEnds,
        // An index entry that cannot describe a block: negative, backwards, or into the index.
        BrokenIndex,
        // A picture block that does not decode.
        DamagedPicture,
        // A picture whose header claims more pixels than its block could ever describe.
        ImplausibleSize,
        // A picture whose pixels would take more memory than one picture may take here.
        TooLarge,
        // An image record without a block, or sharing the pixels of a picture not in the file.
        NoPictureData,
        // Pictures that name each other as the owner of their pixels, none holding any.
        SharingLoop,
        // Items attached to a lost picture are left out with it.
        AttachedToLost,
        // Items of a kind this program has no counterpart for (boards of other programs).
        UnknownKind,
        // Rows past the most items one board may hold.
        TooManyItems,
        // An item whose stored values cannot be read at all.
        UnreadableData,
    };

    int pictures = 0;
    int notes = 0;
    // Records the file ended before, or of a kind no item of ours stands for.
    int items = 0;
    QList<Reason> reasons;

    bool isEmpty() const { return pictures == 0 && notes == 0 && items == 0; }
    // Counts of zero or less add nothing, not even the reason.
    void add(ItemRecord::Type type, Reason reason, int count = 1);
    void addUnread(int count, Reason reason);
    // One sentence for the user: the counts, then every reason.
    QString message() const;
    static QString describe(Reason reason);
};

Q_DECLARE_METATYPE(LoadLosses)

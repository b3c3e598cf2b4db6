#include "persistence/loadlosses.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <limits>

namespace {

// The loader's translation context, like every other text a load shows.
QString tr(const char *text)
{
    return QCoreApplication::translate("SaveFileLoader", text);
}

// Counts may come straight from a header: they stop at the largest int.
int saturated(int total, int count)
{
    return int(std::min<qint64>(qint64(total) + count, std::numeric_limits<int>::max()));
}

QString counted(int count, const char *one, const char *many)
{
    return count == 1 ? tr(one) : tr(many).arg(count);
}

} // namespace

void LoadLosses::add(ItemRecord::Type type, Reason reason, int count)
{
    if (count <= 0)
        return;
    int &total = type == ItemRecord::Type::Note ? notes : pictures;
    total = saturated(total, count);
    if (!reasons.contains(reason))
        reasons.append(reason);
}

void LoadLosses::addUnread(int count, Reason reason)
{
    if (count <= 0)
        return;
    items = saturated(items, count);
    if (!reasons.contains(reason))
        reasons.append(reason);
}

QString LoadLosses::describe(Reason reason)
{
    switch (reason) {
    case Reason::FileEnds:
        return tr("the file ends before their data");
    case Reason::BrokenIndex:
        return tr("the file's list of where the pictures are stored is damaged");
    case Reason::DamagedPicture:
        return tr("their picture data is damaged");
    case Reason::ImplausibleSize:
        return tr("a picture claims to be far larger than its data can hold");
    case Reason::TooLarge:
        return tr("a picture is larger than the memory one picture may take here");
    case Reason::NoPictureData:
        return tr("the file holds no pixels for them");
    case Reason::SharingLoop:
        return tr("pictures name each other as the owner of their pixels");
    case Reason::AttachedToLost:
        return tr("items attached to a lost picture are left out with it");
    case Reason::UnknownKind:
        return tr("they are of a kind this program does not know");
    case Reason::TooManyItems:
        return tr("the board holds more items than one board may here");
    case Reason::UnreadableData:
        return tr("their stored values cannot be read");
    }
    return QString();
}

QString LoadLosses::message() const
{
    if (isEmpty())
        return QString();
    QStringList parts;
    if (pictures > 0)
        parts.append(counted(pictures, "1 picture", "%1 pictures"));
    if (notes > 0)
        parts.append(counted(notes, "1 note", "%1 notes"));
    // Records the file ended before may have been either kind.
    if (items > 0 && parts.isEmpty())
        parts.append(counted(items, "1 item", "%1 items"));
    else if (items > 0)
        parts.append(counted(items, "1 other item", "%1 other items"));
    QString what = parts.takeLast();
    if (!parts.isEmpty())
        what = parts.join(QLatin1String(", ")) + tr(" and ") + what;
    QStringList why;
    for (Reason reason : reasons)
        why.append(describe(reason));
    return tr("%1 could not be read: %2.").arg(what, why.join(QLatin1String("; ")));
}

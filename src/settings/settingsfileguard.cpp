#include "settings/settingsfileguard.h"

#include "settings/settingslog.h"

#include <QFile>
#include <QLockFile>
#include <QSaveFile>

#include <algorithm>
#include <iterator>

namespace {

// The stored kinds whose stream readers take a fixed number of bytes, or read strings and byte
// arrays a block at a time as far as there are bytes, and which write back whatever they read:
// booleans and numbers, characters, strings, byte arrays, dates, times of day, rectangles, sizes,
// lines, points, fonts and colours. Not a date with its time: one read with a time zone the
// system does not know crashes the save that writes it back. The ids are the same in the old
// stream version "@Variant(" uses and in the newer one of "@DateTime(".
constexpr quint32 PlainKinds[]
    = { 1, 2, 3, 4, 5, 6, 7, 10, 12, 14, 15, 19, 20, 21, 22, 23, 24, 25, 26, 64, 67 };

struct IniLine {
    int start = 0;
    int length = 0;
    int equals = -1;
};

bool isLineSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// One logical line from pos on, cut where the toolkit's reader cuts it: a line break inside
// double quotes or after a backslash does not end it, a semicolon outside quotes does, and one at
// the start of a line makes the rest of it a comment. The first "=" outside quotes separates key
// and value.
bool nextLine(const QByteArray &text, int &pos, IniLine &line)
{
    const int size = text.size();
    bool quoted = false;
    int start = pos;
    while (start < size && isLineSpace(text.at(start)))
        ++start;
    line.equals = -1;
    int i = start;
    while (i < size) {
        const char c = text.at(i++);
        if (c == '=') {
            if (!quoted && line.equals < 0)
                line.equals = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (i == start + 1) {
                ++start;
            } else if (!quoted) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i < size) {
                const char escaped = text.at(i++);
                if (i < size) {
                    const char after = text.at(i);
                    if ((escaped == '\n' && after == '\r') || (escaped == '\r' && after == '\n'))
                        ++i;
                }
            }
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ';') {
            if (i == start + 1) {
                while (i < size && text.at(i) != '\n' && text.at(i) != '\r')
                    ++i;
                start = i;
            } else if (!quoted) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line.start = start;
    line.length = i - start;
    return line.length > 0;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void chopTrailingSpaces(QString &text)
{
    while (!text.isEmpty() && (text.endsWith(QLatin1Char(' ')) || text.endsWith(QLatin1Char('\t'))))
        text.chop(1);
}

// The strings of a value as the toolkit's reader unescapes them: C escapes (octal and hex
// without a length limit, truncated to one UTF-16 unit), double quotes around parts, and commas
// outside quotes between the items of a list. Other bytes are Latin-1.
QStringList unescapedValue(const QByteArray &text, int from, int to)
{
    QStringList items;
    QString current;
    bool inQuotes = false;
    bool currentQuoted = false;
    int i = from;
    const auto skipSpaces = [&] {
        while (i < to && (text.at(i) == ' ' || text.at(i) == '\t'))
            ++i;
    };
    // An escape's digits: as many as follow.
    const auto numericEscape = [&](quint32 value, int base) {
        while (i < to) {
            const int digit = base == 16 ? hexValue(text.at(i)) : text.at(i) - '0';
            if (digit < 0 || digit >= base)
                break;
            value = value * quint32(base) + quint32(digit);
            ++i;
        }
        current += QChar(ushort(value & 0xffff));
    };

    skipSpaces();
    while (i < to) {
        const char c = text.at(i);
        if (c == '\\') {
            if (++i >= to)
                break;
            const char escaped = text.at(i++);
            static const char simple[][2] = { { 'a', '\a' }, { 'b', '\b' }, { 'f', '\f' },
                { 'n', '\n' }, { 'r', '\r' }, { 't', '\t' }, { 'v', '\v' }, { '"', '"' },
                { '?', '?' }, { '\'', '\'' }, { '\\', '\\' } };
            const auto known = std::find_if(std::begin(simple), std::end(simple),
                [escaped](const char *pair) { return pair[0] == escaped; });
            if (known != std::end(simple)) {
                current += QLatin1Char((*known)[1]);
            } else if (escaped == 'x') {
                // "\x" without a hex digit after it stands for nothing.
                if (i < to && hexValue(text.at(i)) >= 0)
                    numericEscape(0, 16);
            } else if (escaped >= '0' && escaped <= '7') {
                numericEscape(quint32(escaped - '0'), 8);
            } else if (escaped == '\n' || escaped == '\r') {
                if (i < to) {
                    const char after = text.at(i);
                    if ((after == '\n' || after == '\r') && after != escaped)
                        ++i;
                }
            }
            // Any other escaped character is dropped.
        } else if (c == '"') {
            ++i;
            currentQuoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipSpaces();
        } else if (c == ',' && !inQuotes) {
            if (!currentQuoted)
                chopTrailingSpaces(current);
            items.append(current);
            current.clear();
            currentQuoted = false;
            ++i;
            skipSpaces();
        } else {
            current += QLatin1Char(c);
            ++i;
        }
    }
    if (!currentQuoted)
        chopTrailingSpaces(current);
    items.append(current);
    return items;
}

// Whether the toolkit would hand this string to its data stream, and the stream then to a
// reader of a kind outside the plain ones.
bool isUnsafeStoredValue(const QString &value)
{
    if (!value.endsWith(QLatin1Char(')')))
        return false;
    int offset = 0;
    if (value.startsWith(QLatin1String("@Variant(")))
        offset = 9;
    else if (value.startsWith(QLatin1String("@DateTime(")))
        offset = 10;
    else
        return false;
    const QByteArray bytes = value.mid(offset).toLatin1();
    // Too short for a kind: the stream reads nothing more.
    if (bytes.size() < 4)
        return false;
    const auto byte = [&bytes](int index) { return quint32(uchar(bytes.at(index))); };
    const quint32 kind = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    return std::find(std::begin(PlainKinds), std::end(PlainKinds), kind) == std::end(PlainKinds);
}

} // namespace

QByteArray SettingsFileGuard::withoutUnsafeValues(const QByteArray &text, QStringList *dropped)
{
    QByteArray kept;
    int copiedUpTo = 0;
    QString section;
    int pos = 0;
    IniLine line;
    while (nextLine(text, pos, line)) {
        if (text.at(line.start) == '[') {
            const int close = text.indexOf(']', line.start);
            const int end
                = close < 0 || close >= line.start + line.length ? line.start + line.length : close;
            section = QString::fromLatin1(text.mid(line.start + 1, end - line.start - 1)).trimmed();
            continue;
        }
        if (line.equals < 0)
            continue;
        const QStringList values = unescapedValue(text, line.equals + 1, line.start + line.length);
        if (std::none_of(values.begin(), values.end(), isUnsafeStoredValue))
            continue;
        if (dropped) {
            const QString key
                = QString::fromLatin1(text.mid(line.start, line.equals - line.start)).trimmed();
            dropped->append(section.isEmpty() ? key : section + QLatin1Char('/') + key);
        }
        kept += text.mid(copiedUpTo, line.start - copiedUpTo);
        copiedUpTo = line.start + line.length;
    }
    if (copiedUpTo == 0)
        return text;
    kept += text.mid(copiedUpTo);
    return kept;
}

QStringList SettingsFileGuard::repair(const QString &path)
{
    QStringList dropped;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return dropped;
    withoutUnsafeValues(file.readAll(), &dropped);
    if (dropped.isEmpty())
        return dropped;
    file.close();

    // Another instance may be saving the file: read it again under the lock it writes under.
    QLockFile lock(path + QLatin1String(".lock"));
    if (!lock.tryLock(5000))
        qCWarning(lcSettings) << "Settings file" << path << "stays locked; repairing it anyway";
    dropped.clear();
    if (!file.open(QIODevice::ReadOnly))
        return dropped;
    const QByteArray text = file.readAll();
    file.close();
    const QByteArray kept = withoutUnsafeValues(text, &dropped);
    if (dropped.isEmpty())
        return dropped;
    QSaveFile output(path);
    if (!output.open(QIODevice::WriteOnly) || output.write(kept) != kept.size()
        || !output.commit()) {
        qCWarning(lcSettings) << "Could not rewrite the settings file" << path << ":"
                              << output.errorString();
        return dropped;
    }
    for (const QString &key : qAsConst(dropped))
        qCWarning(lcSettings) << "Settings file" << path << ": dropped" << key
                              << "which held a stored value of a kind this program does not use";
    return dropped;
}

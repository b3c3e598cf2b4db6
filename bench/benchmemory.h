#pragma once

// The resident memory of this process as the kernel tells it (Linux), in bytes, or -1 where it
// does not.

#include <QByteArray>
#include <QFile>

// A "Vm...:" line of /proc/self/status, which counts in KiB.
inline qint64 processStatusBytes(const QByteArray &field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(field.size()).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return -1;
}

// The peak so far: since the process started, or since the last resetPeakResidentBytes().
inline qint64 peakResidentBytes()
{
    return processStatusBytes("VmHWM:");
}

inline qint64 residentBytes()
{
    return processStatusBytes("VmRSS:");
}

// Starts the kernel's peak again from the memory resident now (Linux 4.0 on), so that a peak
// read later belongs to what ran in between; false where that is not possible.
inline bool resetPeakResidentBytes()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    return clear.open(QIODevice::WriteOnly) && clear.write("5") == 1 && clear.flush();
}

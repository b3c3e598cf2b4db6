#pragma once

// What the fuzz targets' "-make_corpus=DIR" shares: writing seeds, and writing them when asked.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <cstdlib>
#include <cstring>

// A target that cannot write its seeds stops: a half-written corpus would pass for a whole one.
inline void writeSeed(const QString &directory, const QString &name, const QByteArray &bytes)
{
    QFile file(QDir(directory).filePath(name));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::abort();
}

// From LLVMFuzzerInitialize: with "-make_corpus=DIR" among the arguments, makes DIR, has the
// target write its seeds there and ends the process.
inline void makeCorpusWhenAsked(int argc, char **argv, void (*makeCorpus)(const QString &))
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-make_corpus=", 13) == 0) {
            const QString directory = QString::fromLocal8Bit(argv[i] + 13);
            QDir().mkpath(directory);
            makeCorpus(directory);
            std::exit(0);
        }
    }
}

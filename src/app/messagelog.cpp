#include "app/messagelog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

#include <memory>

namespace {

struct LogState {
    QMutex mutex;
    std::unique_ptr<QFile> file;
    std::unique_ptr<QTextStream> stream;
    QtMessageHandler previousHandler = nullptr;
    bool installed = false;
    FILE *standardOutput = stdout;
    FILE *standardError = stderr;
};

LogState &state()
{
    static LogState instance;
    return instance;
}

} // namespace

bool MessageLog::openFile(const QString &path)
{
    LogState &log = state();
    QMutexLocker locker(&log.mutex);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        std::fprintf(log.standardError, "Could not open the log file %s: %s\n",
            qUtf8Printable(path), qUtf8Printable(file->errorString()));
        std::fflush(log.standardError);
        return false;
    }
    log.stream = std::make_unique<QTextStream>(file.get());
    log.stream->setCodec("UTF-8");
    log.file = std::move(file);
    *log.stream << header(QDateTime::currentDateTime());
    log.stream->flush();
    return true;
}

void MessageLog::closeFile()
{
    LogState &log = state();
    QMutexLocker locker(&log.mutex);
    log.stream.reset();
    log.file.reset();
}

QString MessageLog::filePath()
{
    LogState &log = state();
    QMutexLocker locker(&log.mutex);
    return log.file ? QFileInfo(log.file->fileName()).absoluteFilePath() : QString();
}

void MessageLog::install()
{
    LogState &log = state();
    if (log.installed)
        return;
    log.previousHandler = qInstallMessageHandler(&MessageLog::handleMessage);
    log.installed = true;
}

void MessageLog::uninstall()
{
    LogState &log = state();
    if (!log.installed)
        return;
    qInstallMessageHandler(log.previousHandler);
    log.previousHandler = nullptr;
    log.installed = false;
}

void MessageLog::setConsole(FILE *standardOutput, FILE *standardError)
{
    LogState &log = state();
    QMutexLocker locker(&log.mutex);
    log.standardOutput = standardOutput;
    log.standardError = standardError;
}

QString MessageLog::fileLine(const QDateTime &time, const QString &message)
{
    return time.toString(Qt::ISODateWithMs) + QLatin1String(": ") + message + QLatin1Char('\n');
}

QString MessageLog::header(const QDateTime &time)
{
    return QLatin1String("\n-------------------------- New Velkora instance started ")
        + time.toString(Qt::TextDate) + QLatin1String(" --------------------------\n");
}

void MessageLog::handleMessage(
    QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString formatted = qFormatLogMessage(type, context, message);
    const QDateTime now = QDateTime::currentDateTime();

    LogState &log = state();
    QMutexLocker locker(&log.mutex);
    if (!formatted.isNull()) {
        FILE *console
            = (type == QtDebugMsg || type == QtInfoMsg) ? log.standardOutput : log.standardError;
        std::fputs(formatted.toLocal8Bit().constData(), console);
        std::fputc('\n', console);
        std::fflush(console);
    }
    if (log.stream) {
        *log.stream << fileLine(now, message);
        log.stream->flush();
    }
}

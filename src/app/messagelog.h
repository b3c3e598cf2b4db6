#pragma once

#include <QString>
#include <QtGlobal>

#include <cstdio>

class QDateTime;

// The process's message handler and its optional log file. Every diagnostic goes to the console
// formatted with the toolkit's message pattern, and to the log file as "<ISO 8601 time with
// milliseconds>: <raw text>".
//
// The toolkit calls the handler on whichever thread logs; a mutex keeps each line whole and the
// file is flushed after every line, so a process ended by exit() loses nothing.
class MessageLog {
public:
    // Opens the log file for appending and writes the instance header. On failure one warning
    // goes to standard error and logging continues on the console only.
    static bool openFile(const QString &path);
    static void closeFile();
    // Absolute path of the open log file; empty when there is none.
    static QString filePath();

    static void install();
    static void uninstall();

    // Where console output goes; tests point it at temporary files.
    static void setConsole(FILE *standardOutput, FILE *standardError);

    static QString fileLine(const QDateTime &time, const QString &message);
    static QString header(const QDateTime &time);

private:
    static void handleMessage(
        QtMsgType type, const QMessageLogContext &context, const QString &message);
};

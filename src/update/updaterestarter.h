#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

// Starts the process that carries out an update, the program itself run with "--update <target>",
// and, once an update is installed, the new version. Before an update it warns while other
// instances of the program run, since they would keep running the old files. Nothing is started
// elevated: an installation the user cannot write is updated by its package manager instead.
// GUI thread.
class UpdateRestarter {
public:
    enum class InstancesAnswer { Retry, Ignore, Cancel };
    enum class Outcome { Started, Cancelled, Failed };

    explicit UpdateRestarter(QWidget *dialogParent = nullptr);

    // Starts the updating process for target, from a temporary copy when copyFiles is not empty.
    // On Started the caller ends this process; on Failed error holds the details.
    Outcome restartForUpdate(const QString &target, const QStringList &copyFiles,
        const QStringList &restartArguments, QString *error);
    // Starts the freshly installed program with the restart arguments.
    bool startProgram(const QString &program, const QStringList &arguments, QString *error);

    // Copies the named files (relative to the program's folder) into a new temporary folder and
    // returns the path of the copied program; empty, with the reason in error, on failure.
    static QString makeTemporaryCopy(
        const QString &programPath, const QStringList &copyFiles, QString *error);
    // Whether folder is one that makeTemporaryCopy() made.
    static bool isTemporaryCopy(const QString &folder);

    // Replaceable for tests; by default the instances are counted in the process list, the
    // question is a dialog and programs are started detached.
    std::function<int()> countInstances;
    std::function<InstancesAnswer()> askAboutInstances;
    std::function<bool(const QString &program, const QStringList &arguments)> start;

private:
    QWidget *m_dialogParent;
};

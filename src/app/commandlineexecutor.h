#pragma once

#include <QList>
#include <QMap>
#include <QMetaMethod>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

class BaseLoader;

// Runs the named commands of the command line ("name;arg1;arg2"): looks each name up in its
// registry, converts the arguments to the parameter types of the target's method through the
// meta-object system and invokes the methods one after another. A command that starts background
// work is done only when every job it caused has ended, including jobs those jobs started in
// turn (a scene file found by the image loader is read afterwards by another job): the owner
// reports each ended job through jobEnded and answers isIdle. GUI thread only.
class CommandLineExecutor : public QObject {
    Q_OBJECT

public:
    struct Parameter {
        QString name;
        QString description;
        bool hasDefault = true;
        QVariant defaultValue;
    };

    struct Command {
        QObject *target = nullptr;
        QByteArray signature;
        QString description;
        QList<Parameter> parameters;
        // Loaders whose jobs the command starts: it waits for them, and their failures are its.
        QList<BaseLoader *> waitFor;

        // Set when a command string is prepared.
        QString name;
        QString commandString;
        QMetaMethod method;
        QVariantList arguments;
    };

    explicit CommandLineExecutor(QObject *parent = nullptr);

    void registerCommand(const QString &name, const Command &command);
    // The program's commands: load, save, exit and clearScene run on target, exportScene and
    // exportImages on exportTarget.
    void registerStandardCommands(QObject *target, QObject *exportTarget, BaseLoader *imageLoader,
        BaseLoader *sceneLoader, BaseLoader *exporter);
    QStringList commandNames() const { return m_order; }

    // Answers whether no job of the owner is asked for or running. Without it, commands never
    // wait.
    void setIdleCheck(std::function<bool()> isIdle) { m_isIdle = std::move(isIdle); }

    // Prepares every command string, then runs the prepared ones from the first once the event
    // loop gets to it. Returns how many were prepared.
    int execute(const QStringList &commandStrings);
    bool isRunning() const { return m_current >= 0; }

    QStringList helpLines() const;
    void printHelp() const;

public slots:
    void runJob(int index);
    // A job of the owner has ended, successfully when message is empty.
    void jobEnded(BaseLoader *loader, const QString &message, const QString &details);

signals:
    // The last prepared command is done.
    void finished();

private:
    bool prepare(const QString &commandString, Command *prepared) const;
    static bool convert(const QString &argument, int type, QVariant *value);
    void commandDone(int index);

    QMap<QString, Command> m_commands;
    QStringList m_order;
    QList<Command> m_runList;
    std::function<bool()> m_isIdle;
    int m_current = -1;
    bool m_waiting = false;
};

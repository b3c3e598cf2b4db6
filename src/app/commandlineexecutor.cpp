#include "app/commandlineexecutor.h"

#include "app/applog.h"

#include <QDebug>
#include <QGenericArgument>
#include <QMetaObject>

#include <algorithm>

namespace {

// QMetaMethod::invoke takes at most ten arguments.
constexpr int MaximumArguments = 10;

// Descriptions start at one column for all commands and parameters; the first line holds at most
// this much of a description, each further line one character less.
constexpr int FirstLineLength = 67;
constexpr int FurtherLineLength = 66;

QString parameterLabel(const CommandLineExecutor::Parameter &parameter)
{
    if (!parameter.hasDefault)
        return parameter.name;
    const QString value = parameter.defaultValue.toString();
    if (value.isEmpty())
        return QLatin1Char('[') + parameter.name + QLatin1Char(']');
    return QLatin1Char('[') + parameter.name + QLatin1String(" (") + value + QLatin1String(")]");
}

// Breaks at spaces so that no word is split; only a word longer than a whole line is cut.
QStringList wrap(const QString &text)
{
    QStringList lines;
    QString line;
    const QStringList words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (QString word : words) {
        for (;;) {
            const int limit = lines.isEmpty() ? FirstLineLength : FurtherLineLength;
            const int needed = line.isEmpty() ? word.size() : line.size() + 1 + word.size();
            if (needed <= limit) {
                line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
                break;
            }
            if (line.isEmpty()) {
                lines.append(word.left(limit));
                word = word.mid(limit);
                if (word.isEmpty())
                    break;
                continue;
            }
            lines.append(line);
            line.clear();
        }
    }
    if (!line.isEmpty() || lines.isEmpty())
        lines.append(line);
    return lines;
}

void appendWrapped(QStringList *lines, const QString &label, int column, const QString &text)
{
    const QStringList pieces = wrap(text);
    lines->append(label.leftJustified(column, QLatin1Char(' ')) + pieces.first());
    const QString indent(column, QLatin1Char(' '));
    for (int i = 1; i < pieces.size(); ++i)
        lines->append(indent + pieces.at(i));
}

} // namespace

CommandLineExecutor::CommandLineExecutor(QObject *parent)
    : QObject(parent)
{
}

void CommandLineExecutor::registerCommand(const QString &name, const Command &command)
{
    Q_ASSERT(command.target);
    Q_ASSERT(command.target->metaObject()->indexOfMethod(
                 QMetaObject::normalizedSignature(command.signature.constData()))
        >= 0);
    if (!m_commands.contains(name))
        m_order.append(name);
    m_commands.insert(name, command);
}

void CommandLineExecutor::registerStandardCommands(QObject *target, QObject *exportTarget,
    BaseLoader *imageLoader, BaseLoader *sceneLoader, BaseLoader *exporter)
{
    const auto parameter
        = [](const QString &name, const QVariant &value, const QString &description) {
              return Parameter { name, description, true, value };
          };
    const QString path = tr("Output file path.");
    const QString quality = tr("Quality of the exported image (0-100).");

    registerCommand(QStringLiteral("load"),
        { target, "load(QStringList, float, float)",
            tr("Loads given files. Additionally, If the files are images, you can provide x and y "
               "coordinates for where to place the loaded images."),
            { parameter(tr("Paths"), QStringList(), tr("Files to load.")),
                parameter(tr("X"), 0, tr("X-coordinate of the center of the loaded images")),
                parameter(tr("Y"), 0, tr("Y-coordinate of the center of the loaded images")) },
            { imageLoader, sceneLoader }, {}, {}, {}, {} });
    registerCommand(QStringLiteral("save"),
        { target, "saveQuiet(QString)", tr("Saves the current scene."),
            { parameter(tr("Path"), QString(), path) }, { sceneLoader }, {}, {}, {}, {} });
    registerCommand(QStringLiteral("exportScene"),
        { exportTarget, "exportScene(QString, int, int, bool, bool, int, QString, int)",
            tr("Exports the current scene."),
            { parameter(tr("Path"), QString(), path),
                parameter(tr("Width"), -1,
                    tr("Width of the output image (1-20000). If set to -1 it will try to use the "
                       "width of the scene.")),
                parameter(tr("Height"), -1,
                    tr("Height of the output image (1-20000). If set to -1 it will try to use the "
                       "height of the scene.")),
                parameter(tr("Canvas background"), true, tr("Include canvas background.")),
                parameter(tr("Image borders"), true, tr("Include image borders.")),
                parameter(tr("Quality"), 100, quality),
                parameter(tr("Region"), QStringLiteral("board"),
                    tr("What to export: board, selection, or a rectangle of the scene as "
                       "x,y,width,height.")),
                parameter(tr("Scale"), -1,
                    tr("Scale of the output image in percent (25-400). If set to -1 the width "
                       "and the height are used.")) },
            { exporter }, {}, {}, {}, {} });
    registerCommand(QStringLiteral("exportImages"),
        { exportTarget, "exportAllImages(QString, bool, QString, int)",
            tr("Exports all images in the current scene to individual png files."),
            { parameter(tr("Output directory"), QString(),
                  tr("The directory must exist for the export to succeed.")),
                parameter(tr("Export cropping"), true,
                    tr("If this is set to false the images will be exported unmodified.")),
                parameter(tr("Name override"), QString(),
                    tr("If this is provided all exported images will be named according to this "
                       "string. If this string includes '%0' it will be replaced by the export "
                       "number and '%1' will be replaced by the original name of the image.")),
                parameter(tr("Quality"), 100, tr("Quality of the exported images (0-100).")) },
            { exporter }, {}, {}, {}, {} });
    registerCommand(QStringLiteral("exit"),
        { target, "hardExit(int)", tr("Closes the application."),
            { parameter(tr("Exit code"), 0, tr("Exit code of the process.")) }, {}, {}, {}, {},
            {} });
    registerCommand(QStringLiteral("clearScene"),
        { target, "forceClear()", tr("Clears the current scene."), {}, {}, {}, {}, {}, {} });
}

bool CommandLineExecutor::convert(const QString &argument, int type, QVariant *value)
{
    if (type == QMetaType::QStringList) {
        *value = argument.split(QLatin1Char(','));
        return true;
    }
    if (type == QMetaType::Bool) {
        // The toolkit reads any text but "0" and "false" as true: a typo would silently switch
        // an option on.
        const QString word = argument.trimmed().toLower();
        if (word != QLatin1String("true") && word != QLatin1String("false")
            && word != QLatin1String("1") && word != QLatin1String("0"))
            return false;
        *value = word == QLatin1String("true") || word == QLatin1String("1");
        return true;
    }
    QVariant converted(argument);
    if (!converted.convert(type))
        return false;
    *value = converted;
    return true;
}

bool CommandLineExecutor::prepare(const QString &commandString, Command *prepared) const
{
    const QStringList parts = commandString.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (parts.isEmpty()) {
        qCCritical(lcApp) << "Failed invoking method: malformed command"
                          << "Command:" << commandString;
        return false;
    }
    const QString name = parts.first();
    const auto entry = m_commands.constFind(name);
    if (entry == m_commands.constEnd()) {
        qCCritical(lcApp) << "No method named" << name << "found.";
        return false;
    }

    Command command = *entry;
    command.name = name;
    command.commandString = commandString;
    const QMetaObject *meta = command.target->metaObject();
    const int index
        = meta->indexOfMethod(QMetaObject::normalizedSignature(command.signature.constData()));
    command.method = meta->method(index);
    const auto assembleFailure = [&] {
        qCCritical(lcApp) << "Failed to assemble arguments for method" << name
                          << ". Please report this problem to the developers."
                          << "Command:" << commandString;
        return false;
    };
    if (index < 0 || command.method.parameterCount() != command.parameters.size())
        return assembleFailure();

    const QStringList arguments = parts.mid(1);
    if (arguments.size() > command.parameters.size()) {
        qCCritical(lcApp) << "Failed invoking method" << name << ": Too many parameters provided"
                          << "Command:" << commandString;
        return false;
    }
    for (int i = 0; i < command.parameters.size(); ++i) {
        const int type = command.method.parameterType(i);
        QVariant value;
        if (i < arguments.size()) {
            if (!convert(arguments.at(i), type, &value)) {
                qCCritical(lcApp).nospace()
                    << "Failed invoking method " << name << ": Failed to parse argument '"
                    << arguments.at(i).toUtf8().constData() << "' Command: " << commandString;
                return false;
            }
        } else {
            value = command.parameters.at(i).defaultValue;
            if (!value.convert(type))
                value = QVariant(type, nullptr);
        }
        command.arguments.append(value);
    }
    if (command.arguments.size() > MaximumArguments)
        return assembleFailure();
    *prepared = command;
    return true;
}

int CommandLineExecutor::execute(const QStringList &commandStrings)
{
    m_runList.clear();
    for (const QString &commandString : commandStrings) {
        Command command;
        if (prepare(commandString, &command))
            m_runList.append(command);
    }
    if (!m_runList.isEmpty()) {
        // The first command runs from the event loop, once the window that owns it is complete.
        m_current = 0;
        QMetaObject::invokeMethod(this, "runJob", Qt::QueuedConnection, Q_ARG(int, 0));
    }
    return m_runList.size();
}

void CommandLineExecutor::runJob(int index)
{
    if (index < 0 || index >= m_runList.size())
        return;
    m_current = index;
    const Command &command = m_runList.at(index);

    QGenericArgument arguments[MaximumArguments];
    for (int i = 0; i < command.arguments.size(); ++i) {
        const QVariant &value = command.arguments.at(i);
        arguments[i] = QGenericArgument(value.typeName(), value.constData());
    }
    m_waiting = !command.waitFor.isEmpty();
    const bool invoked = command.method.invoke(command.target, Qt::DirectConnection, arguments[0],
        arguments[1], arguments[2], arguments[3], arguments[4], arguments[5], arguments[6],
        arguments[7], arguments[8], arguments[9]);
    if (!invoked) {
        qCCritical(lcApp) << "Failed invoking method" << command.name
                          << ". Please report this problem to the developers."
                          << "Command:" << command.commandString;
    }
    // A command that started no job (it failed early, or had nothing to do) is done now.
    if (!invoked || !m_waiting || !m_isIdle || m_isIdle())
        commandDone(index);
}

void CommandLineExecutor::jobEnded(
    BaseLoader *loader, const QString &message, const QString &details)
{
    if (m_current < 0 || !m_waiting)
        return;
    const Command &command = m_runList.at(m_current);
    if (!message.isEmpty() && command.waitFor.contains(loader)) {
        qCCritical(lcApp, "Encountered error while invoking method: %s: %s: %s",
            qUtf8Printable(command.name), qUtf8Printable(message), qUtf8Printable(details));
    }
    if (!m_isIdle || m_isIdle())
        commandDone(m_current);
}

void CommandLineExecutor::commandDone(int index)
{
    m_waiting = false;
    if (index + 1 < m_runList.size()) {
        m_current = index + 1;
        QMetaObject::invokeMethod(this, "runJob", Qt::QueuedConnection, Q_ARG(int, index + 1));
    } else {
        m_current = -1;
        emit finished();
    }
}

QStringList CommandLineExecutor::helpLines() const
{
    int column = 0;
    for (const QString &name : m_order) {
        const Command &command = m_commands[name];
        column = std::max(column, int(2 + name.size()));
        for (const Parameter &parameter : command.parameters)
            column = std::max(column, int(5 + parameterLabel(parameter).size()));
    }
    column += 2;

    QStringList lines { QStringLiteral("Example command:"),
        QStringLiteral("  velkora -c 'exportScene;/tmp/example.png;1000;1000;false;50'"),
        QStringLiteral("Available commands:    [] = optional argument, () = default "
                       "value") };
    for (const QString &name : m_order) {
        const Command &command = m_commands[name];
        appendWrapped(&lines, QLatin1String("- ") + name, column, command.description);
        for (const Parameter &parameter : command.parameters)
            appendWrapped(&lines, QString(5, QLatin1Char(' ')) + parameterLabel(parameter), column,
                parameter.description);
    }
    return lines;
}

void CommandLineExecutor::printHelp() const
{
    const QStringList lines = helpLines();
    for (const QString &line : lines)
        qCInfo(lcApp, "%s", qUtf8Printable(line));
}

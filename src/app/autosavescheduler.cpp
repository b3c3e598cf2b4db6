#include "app/autosavescheduler.h"

#include "app/application.h"
#include "app/scenedocument.h"
#include "input/actionhandler.h"
#include "scene/graphicsscene.h"
#include "settings/generalsettings.h"
#include "settings/setting.h"
#include "ui/autosaverecoverydialog.h"

#include <QApplication>
#include <QTimer>

#include <utility>

AutoSaveScheduler::AutoSaveScheduler(GeneralSettings *settings, GraphicsScene *scene,
    SceneDocument *document, Host host, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_scene(scene)
    , m_document(document)
    , m_host(std::move(host))
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &AutoSaveScheduler::autoSave);
    Setting *enabled = m_settings->setting(QStringLiteral("Auto Save"));
    connect(enabled, &Setting::changed, this,
        [this](const QVariant &, const QVariant &value) { setEnabled(value.toBool()); });
    connect(
        m_settings->setting(QStringLiteral("AutoSaveInterval")), &Setting::changed, this, [this] {
            if (m_timer->isActive())
                m_timer->start(interval());
        });
    setEnabled(enabled->value().toBool());
}

bool AutoSaveScheduler::saveBeforeEnd()
{
    if (m_host.isCommandLineMode() || m_scene->isEmptyFlag() || m_host.isBusy()
        || !m_document->changedSinceAutoSave())
        return false;
    if (!m_document->isNewScene() && !m_settings->boolValue(QStringLiteral("Auto Save")))
        return false;
    m_timer->stop();
    m_document->autoSave();
    return m_host.isBusy();
}

int AutoSaveScheduler::interval() const
{
    return qMax(1,
        GeneralSettings::autoSaveIntervalMsecs(
            m_settings->intValue(QStringLiteral("AutoSaveInterval"))));
}

void AutoSaveScheduler::setEnabled(bool on)
{
    if (!on)
        m_timer->stop();
    else if (!m_timer->isActive())
        m_timer->start(interval());
}

void AutoSaveScheduler::restart()
{
    if (m_timer->isActive())
        m_timer->start(interval());
}

void AutoSaveScheduler::autoSave()
{
    const int regular = interval();
    if (m_host.isCommandLineMode() || m_scene->isEmptyFlag()
        || !m_document->changedSinceAutoSave()) {
        // A deferred attempt left a short delay behind: back to the interval.
        if (m_timer->interval() != regular)
            m_timer->start(regular);
        return;
    }
    m_timer->stop();
    // Never in the middle of a load or of a gesture: the board is not in a state to keep. Nor
    // while a question is open: a save may be waiting for its answer.
    const Action *gesture = ActionHandler::instance()->currentContinuousAction();
    const bool gestureRunning = gesture && !(gesture->flags() & Action::HoverFlag);
    if (m_host.isBusy() || gestureRunning || QApplication::activeModalWidget()) {
        m_timer->start(1000);
        return;
    }
    m_document->autoSave();
    m_timer->start(regular);
}

bool AutoSaveScheduler::offerLeftOvers(QWidget *parent)
{
    AutoSaveRecoveryDialog dialog(parent);
    connect(&dialog, &AutoSaveRecoveryDialog::recoverRequested, &dialog, [](const QString &path) {
        Application::startInstance({ QStringLiteral("--restore"), path });
    });
    return dialog.exec() == 1;
}

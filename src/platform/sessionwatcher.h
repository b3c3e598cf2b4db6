#pragma once

#include <QObject>

// Tells when the desktop session was locked, unlocked or switched away: key and button releases
// that happen meanwhile never reach the application. Listens to the login manager's Lock and
// Unlock signals (system bus) and the screen saver's ActiveChanged (session bus); where no bus
// answers, it stays silent. Not used on the offscreen and minimal platforms. GUI thread only.
class SessionWatcher : public QObject {
    Q_OBJECT

public:
    explicit SessionWatcher(QObject *parent = nullptr);

signals:
    void sessionChanged();

private slots:
    // Receivers of D-Bus signals are found by slot name: the bus offers no other way.
    void handleSessionSignal();
    void handleScreenSaverActive(bool active);
};

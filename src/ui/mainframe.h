#pragma once

#include <QWidget>

class GeneralSettings;

// The window's frame: hosts the canvas view edge to edge and keeps the window's place between
// runs ("Position", "Maximized"). Moving, resizing and stacking are added on top of it later.
class MainFrame : public QWidget {
    Q_OBJECT

public:
    MainFrame(QWidget *content, GeneralSettings *settings, QWidget *parent = nullptr);

    // Applies the stored position and maximized state to the top-level window.
    void restoreWindowState();
    void storeWindowState();

private:
    GeneralSettings *m_settings;
};

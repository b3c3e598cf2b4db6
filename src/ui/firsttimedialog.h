#pragma once

#include <QDialog>

class QCheckBox;
class Setting;

// The choices a new user makes once: whether saved boards embed the local files they show, how
// they store pictures, and whether boards are autosaved. The boxes start at the settings' current
// values; accepting writes them, closing the dialog any other way leaves the defaults.
class FirstTimeDialog : public QDialog {
    Q_OBJECT

public:
    FirstTimeDialog(Setting *embedLocalFiles, Setting *pictureStorage, Setting *autoSave,
        QWidget *parent = nullptr);

    void accept() override;

private:
    Setting *m_embedLocalFiles;
    Setting *m_pictureStorage;
    Setting *m_autoSave;
    QCheckBox *m_embedBox;
    QCheckBox *m_originalsBox;
    QCheckBox *m_autoSaveBox;
};

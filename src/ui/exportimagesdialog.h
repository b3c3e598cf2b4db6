#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;

// Asks how images are exported into a directory: with their cropping or as their source
// pictures, and under which names. The name pattern refuses the characters that file systems
// reject in names, so a typed one simply does not appear.
class ExportImagesDialog : public QDialog {
    Q_OBJECT

public:
    explicit ExportImagesDialog(QWidget *parent = nullptr);

    bool exportCropping() const;
    QString nameOverride() const;

    QLineEdit *nameOverrideEdit() const { return m_nameOverride; }
    QCheckBox *croppingBox() const { return m_cropping; }

    // Whether a name pattern contains one of < > : " / \ | ? *.
    static bool hasRefusedCharacter(const QString &text);

private:
    QCheckBox *m_cropping = nullptr;
    QLineEdit *m_nameOverride = nullptr;
};

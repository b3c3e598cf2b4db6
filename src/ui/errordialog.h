#pragma once

#include <QString>

class QWidget;

// The error dialog: a heading and a details text.
class ErrorDialog {
public:
    static void show(QWidget *parent, const QString &heading, const QString &details);
};

#include "ui/aboutdialog.h"

#include "ui/baseframe.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace {

QString fontLicence()
{
    QFile file(QStringLiteral(":/fonts/LICENSE_FONT"));
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

} // namespace

AboutDialog::AboutDialog(const QString &settingsPath, const QString &logPath, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(tr("About Velkora"));
    auto *label = new QLabel(text(settingsPath, logPath), this);
    label->setTextFormat(Qt::RichText);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextBrowserInteraction);
    label->setOpenExternalLinks(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(BaseFrame::frameDialog(this));
    layout->addWidget(label);
    const QString licence = fontLicence();
    if (!licence.isEmpty()) {
        auto *licenceText = new QPlainTextEdit(licence, this);
        licenceText->setReadOnly(true);
        licenceText->setMinimumHeight(160);
        layout->addWidget(licenceText, 1);
    }
    layout->addWidget(buttons);
    setMinimumWidth(480);
}

QString AboutDialog::text(const QString &settingsPath, const QString &logPath)
{
    const auto escaped = [](const QString &path) { return path.toHtmlEscaped(); };
    QString text = tr("<h3>Velkora %1</h3><p>A board for reference images.</p>")
                       .arg(QStringLiteral(VELKORA_VERSION));
    text += tr("<p>Every icon and cursor was drawn for Velkora and is under the program's own "
               "licence.</p>");
    if (QFile::exists(QStringLiteral(":/fonts/LICENSE_FONT")))
        text += tr("<p>The interface font is Raleway by Matt McInerney, Pablo Impallari and "
                   "Rodrigo Fuenzalida, under the SIL Open Font License 1.1 quoted below.</p>");
    text += tr("<p>Settings: %1<br>Log: %2</p>")
                .arg(escaped(settingsPath),
                    logPath.isEmpty() ? tr("none (start with --logfile to keep one)")
                                      : escaped(logPath));
    return text;
}

#include "ui/aboutdialog.h"

#include "picture/picturebudget.h"
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
    , m_pictureMemory(new QLabel(this))
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
    m_pictureMemory->setObjectName(QStringLiteral("pictureMemory"));
    m_pictureMemory->setTextFormat(Qt::PlainText);
    layout->addWidget(m_pictureMemory);
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

QString AboutDialog::pictureMemoryText(qint64 bytesInUse, qint64 limit)
{
    const auto megabytes = [](qint64 bytes) { return qRound64(double(bytes) / (1024 * 1024)); };
    return tr("Picture memory in use: %1 MB of %2 MB")
        .arg(megabytes(bytesInUse))
        .arg(megabytes(limit));
}

void AboutDialog::showEvent(QShowEvent *event)
{
    // The amount changes with every picture shown: it is read when the dialog opens.
    const PictureBudget &budget = PictureBudget::instance();
    m_pictureMemory->setText(pictureMemoryText(budget.bytesInUse(), budget.limit()));
    QDialog::showEvent(event);
}

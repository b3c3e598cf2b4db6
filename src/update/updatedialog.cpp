#include "update/updatedialog.h"

#include "ui/baseframe.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QVBoxLayout>

UpdateDialog::UpdateDialog(QWidget *parent)
    : QDialog(parent)
    , m_status(new QLabel(this))
    , m_message(new QLabel(this))
    , m_changelog(new QTextBrowser(this))
    , m_progress(new QProgressBar(this))
    , m_details(new QPlainTextEdit(this))
    , m_action(new QPushButton(tr("Cancel"), this))
{
    setWindowTitle(tr("Velkora Update"));
    m_message->setWordWrap(true);
    m_message->hide();
    m_changelog->setOpenExternalLinks(true);
    m_changelog->hide();
    m_details->setReadOnly(true);
    m_details->hide();

    // Framed like the program's other dialogs, but resizable: a changelog can be long.
    QWidget *body = BaseFrame::frameDialog(this);
    auto *frame = qobject_cast<BaseFrame *>(body->parentWidget());
    Q_ASSERT(frame);
    frame->setResizable(true);
    auto *layout = new QVBoxLayout(body);
    layout->addWidget(m_status);
    layout->addWidget(m_message);
    layout->addWidget(m_changelog, 1);
    layout->addWidget(m_progress);
    layout->addWidget(m_details, 1);
    layout->addWidget(m_action, 0, Qt::AlignRight);
    connect(m_action, &QPushButton::clicked, this, &UpdateDialog::actionTriggered);
    resize(520, 200);
}

void UpdateDialog::setStatus(const QString &text)
{
    m_status->setText(text);
}

QString UpdateDialog::status() const
{
    return m_status->text();
}

void UpdateDialog::setMessage(const QString &text)
{
    m_message->setText(text);
    m_message->setVisible(!text.isEmpty());
}

QString UpdateDialog::message() const
{
    return m_message->text();
}

void UpdateDialog::setChangelog(const QString &richText)
{
    m_changelog->setHtml(richText);
    m_changelog->show();
}

QString UpdateDialog::changelog() const
{
    return m_changelog->toPlainText();
}

void UpdateDialog::appendDetails(const QString &text)
{
    m_details->appendPlainText(text);
    m_details->verticalScrollBar()->setValue(m_details->verticalScrollBar()->maximum());
    m_details->show();
}

QString UpdateDialog::details() const
{
    return m_details->toPlainText();
}

void UpdateDialog::setProgress(int value, int maximum)
{
    m_progress->setRange(0, maximum);
    m_progress->setValue(value);
}

void UpdateDialog::setBusy()
{
    m_progress->setRange(0, 0);
}

void UpdateDialog::setAction(const QString &text, bool enabled)
{
    m_action->setText(text);
    m_action->setEnabled(enabled);
}

void UpdateDialog::reject()
{
    emit closeRequested();
}

void UpdateDialog::closeEvent(QCloseEvent *event)
{
    // The updater hides the window itself once it agrees.
    event->ignore();
    emit closeRequested();
}

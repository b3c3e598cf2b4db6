#include "ui/progressdialog.h"

#include "input/actionhandler.h"
#include "platform/taskbarprogress.h"
#include "ui/baseframe.h"
#include "ui/progressentry.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QSpacerItem>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int MinimumContentWidth = 300;
constexpr int DotInterval = 1000; // ms

} // namespace

ProgressDialog::ProgressDialog(const QString &title, int flags, QWidget *parent)
    : QDialog(parent)
    , m_flags(flags)
    , m_body(BaseFrame::frameDialog(this))
    , m_layout(new QVBoxLayout(m_body))
    , m_taskbar(new TaskbarProgress(this))
{
    setWindowTitle(title);
    // The user keeps typing in the window while a load runs in the background.
    setAttribute(Qt::WA_ShowWithoutActivating);
    setModal(!(flags & NotModal));
    m_layout->setContentsMargins(10, 5, 10, 0);
    if (!(flags & DoNotShow))
        show();
}

ProgressEntry *ProgressDialog::addEntry(const QString &text, int minimum, int maximum)
{
    auto *entry = new ProgressEntry(minimum, maximum, this);
    Line line;
    line.entry = entry;
    line.box = new QWidget(m_body);
    auto *column = new QVBoxLayout(line.box);
    column->setContentsMargins(0, 0, 0, 0);
    auto *row = new QHBoxLayout;
    line.spacer = new QSpacerItem(0, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    row->addSpacerItem(line.spacer);
    line.label = new QLabel(line.box);
    line.label->setTextFormat(Qt::PlainText);
    line.label->hide();
    row->addWidget(line.label);
    row->addStretch();
    column->addLayout(row);
    line.bar = new QProgressBar(line.box);
    line.bar->setRange(entry->minimum(), entry->maximum());
    line.bar->setValue(entry->value());
    column->addWidget(line.bar);
    m_layout->addWidget(line.box);
    // A layout shows a widget added to a visible window only from the event loop: the line
    // would be missing until then.
    line.box->show();
    m_lines.append(line);

    connect(entry, &ProgressEntry::rangeChanged, this, [this, entry](int low, int high) {
        if (Line *changed = lineOf(entry)) {
            changed->bar->setRange(low, high);
            changed->bar->setValue(entry->value());
        }
        updateTaskbar();
    });
    connect(entry, &ProgressEntry::valueChanged, this, [this, entry](int value) {
        if (Line *changed = lineOf(entry))
            changed->bar->setValue(value);
        updateTaskbar();
    });
    connect(entry, &ProgressEntry::infoTextChanged, this, [this, entry] { showInfoText(entry); });
    entry->setInfoText(text);
    centreLabels();
    updateTaskbar();
    return entry;
}

void ProgressDialog::removeEntry(ProgressEntry *entry)
{
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).entry != entry)
            continue;
        const Line line = m_lines.takeAt(i);
        delete line.box; // the label, the bar and the dot timer with it
        delete line.entry;
        centreLabels();
        updateTaskbar();
        return;
    }
}

QList<ProgressEntry *> ProgressDialog::entries() const
{
    QList<ProgressEntry *> result;
    for (const Line &line : m_lines)
        result.append(line.entry);
    return result;
}

int ProgressDialog::taskbarValue() const
{
    int value = 0;
    for (const Line &line : m_lines)
        value += line.entry->value() - line.entry->minimum();
    return value;
}

int ProgressDialog::taskbarMaximum() const
{
    int maximum = 0;
    for (const Line &line : m_lines)
        maximum += line.entry->maximum() - line.entry->minimum();
    return maximum;
}

QLabel *ProgressDialog::infoLabel(const ProgressEntry *entry) const
{
    const Line *line = lineOf(entry);
    return line ? line->label : nullptr;
}

QProgressBar *ProgressDialog::progressBar(const ProgressEntry *entry) const
{
    const Line *line = lineOf(entry);
    return line ? line->bar : nullptr;
}

void ProgressDialog::reject()
{
    close();
}

void ProgressDialog::advanceDots(ProgressEntry *entry)
{
    Line *line = lineOf(entry);
    if (!line)
        return;
    line->label->setText(entry->infoText() + QString(line->dotCount, QLatin1Char('.')));
    line->dotCount = line->dotCount >= entry->dots() ? 0 : line->dotCount + 1;
}

bool ProgressDialog::event(QEvent *event)
{
    const bool handled = QDialog::event(event);
    // Lines come and go and texts change their length: the dialog shrinks as well as grows. Not
    // adjustSize(): it keeps a window whose layout can grow at least 200 x 100, which left an
    // empty strip under the last line.
    if (event->type() == QEvent::LayoutRequest)
        resize(sizeHint());
    return handled;
}

// Minimising sends spontaneous show and hide events; the jobs still run then, and the taskbar is
// where a minimised window's progress shows.
void ProgressDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (event->spontaneous())
        return;
    ActionHandler::instance()->setBlocked(true, this);
    updateTaskbar();
    m_taskbar->setVisible(true);
}

void ProgressDialog::hideEvent(QHideEvent *event)
{
    QDialog::hideEvent(event);
    if (event->spontaneous())
        return;
    ActionHandler::instance()->setBlocked(false, this);
    m_taskbar->setVisible(false);
}

void ProgressDialog::closeEvent(QCloseEvent *event)
{
    // A job that hears of its cancel may remove its entry, or its owner the whole dialog.
    const QPointer<ProgressDialog> alive(this);
    QList<QPointer<ProgressEntry>> pending;
    for (const Line &line : qAsConst(m_lines))
        pending.append(line.entry);
    for (const QPointer<ProgressEntry> &entry : qAsConst(pending)) {
        if (entry)
            entry->cancel();
    }
    if (!alive)
        return;
    m_taskbar->setVisible(false);
    if (m_flags & NotClosable) {
        // The owner removes the entries as the jobs wind down and hides the dialog after the last.
        event->ignore();
        return;
    }
    event->accept();
    QDialog::reject(); // hides the dialog; hideEvent unblocks the actions
}

ProgressDialog::Line *ProgressDialog::lineOf(const ProgressEntry *entry)
{
    for (Line &line : m_lines) {
        if (line.entry == entry)
            return &line;
    }
    return nullptr;
}

const ProgressDialog::Line *ProgressDialog::lineOf(const ProgressEntry *entry) const
{
    for (const Line &line : m_lines) {
        if (line.entry == entry)
            return &line;
    }
    return nullptr;
}

void ProgressDialog::showInfoText(ProgressEntry *entry)
{
    Line *line = lineOf(entry);
    if (!line)
        return;
    delete line->dotTimer;
    line->dotTimer = nullptr;
    line->dotCount = 0;
    if (entry->infoText().isEmpty()) {
        line->label->hide();
        centreLabels();
        return;
    }
    line->label->setText(entry->infoText());
    centreLabels();
    if (entry->dots() > 0) {
        line->dotTimer = new QTimer(line->box);
        line->dotTimer->setInterval(DotInterval);
        connect(line->dotTimer, &QTimer::timeout, this, [this, entry] { advanceDots(entry); });
        line->dotTimer->start();
        advanceDots(entry);
    }
    line->label->show();
}

// A text is centred without its dots, which then grow to the right without moving it. The content
// is as wide as the widest text with room for its dots on both sides, so the dots never widen the
// dialog; the bars hold that width, so the lines stay centred under each other.
void ProgressDialog::centreLabels()
{
    int content = MinimumContentWidth;
    for (const Line &line : qAsConst(m_lines)) {
        if (line.entry->infoText().isEmpty())
            continue;
        const QFontMetrics metrics = line.label->fontMetrics();
        const QString dots(line.entry->dots(), QLatin1Char('.'));
        content = qMax(content,
            metrics.horizontalAdvance(line.entry->infoText())
                + 2 * metrics.horizontalAdvance(dots));
    }
    for (const Line &line : qAsConst(m_lines)) {
        const int width = line.label->fontMetrics().horizontalAdvance(line.entry->infoText());
        line.spacer->changeSize(
            qMax((content - width) / 2, 0), 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
        line.bar->setMinimumWidth(content);
        line.box->layout()->invalidate();
    }
}

void ProgressDialog::updateTaskbar()
{
    m_taskbar->setRange(0, taskbarMaximum());
    m_taskbar->setValue(taskbarValue());
}

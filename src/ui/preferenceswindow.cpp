#include "ui/preferenceswindow.h"

#include "ui/baseframe.h"

#include <QTabWidget>
#include <QVBoxLayout>

PreferencesWindow::PreferencesWindow(QWidget *parent)
    // A dialog to the window manager: it stays above the board, and its frame lists no actions
    // of its own in the key binder.
    : QWidget(parent, Qt::Dialog)
    , m_tabs(new QTabWidget(this))
{
    setWindowTitle(tr("Velkora Preferences"));
    // Framed like the program's dialogs, in the colour scheme, but resizable: pages are long.
    QWidget *body = BaseFrame::frameDialog(this);
    auto *frame = qobject_cast<BaseFrame *>(body->parentWidget());
    Q_ASSERT(frame);
    frame->setResizable(true);
    auto *layout = new QVBoxLayout(body);
    layout->addWidget(m_tabs);
    resize(720, 640);
}

PreferencesWindow::~PreferencesWindow()
{
    for (const Loan &loan : qAsConst(m_loans)) {
        // A page whose owner has already gone goes with this window.
        if (!loan.page || (loan.hadOwner && !loan.owner))
            continue;
        loan.page->hide();
        loan.page->setParent(loan.owner);
    }
}

int PreferencesWindow::addPage(QWidget *page, const QString &title)
{
    m_loans.append({ page, page->parentWidget(), page->parentWidget() != nullptr });
    // The tabs show and hide their pages themselves: a page shown here would stay visible
    // under every other, and show through the ones that paint no background of their own.
    return m_tabs->addTab(page, title);
}

void PreferencesWindow::showPage(int index)
{
    m_tabs->setCurrentIndex(index);
    show();
    raise();
    activateWindow();
    m_tabs->currentWidget()->setFocus();
}

int PreferencesWindow::currentPage() const
{
    return m_tabs->currentIndex();
}

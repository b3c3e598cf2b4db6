#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QTabWidget;

// The preferences: one window with a tab a page (settings, colours, key bindings). Pages are
// lent by their owners, which keep using them while the window is closed; when the window goes,
// each page goes back to the parent it had, hidden, so an owner never loses its widget; a page
// without a parent (a process-wide widget) becomes a hidden window of its own again.
class PreferencesWindow : public QWidget {
    Q_OBJECT

public:
    explicit PreferencesWindow(QWidget *parent = nullptr);
    ~PreferencesWindow() override;

    // Returns the page's index.
    int addPage(QWidget *page, const QString &title);
    // Shows and raises the window at that page.
    void showPage(int index);
    int currentPage() const;

private:
    struct Loan {
        QPointer<QWidget> page;
        QPointer<QWidget> owner;
        bool hadOwner;
    };

    QTabWidget *m_tabs;
    QList<Loan> m_loans;
};

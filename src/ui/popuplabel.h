#pragma once

#include <QColor>
#include <QList>
#include <QTimer>
#include <QWidget>

class PopupLabelContent;
class QGraphicsOpacityEffect;
class QVBoxLayout;

// Short notices on top of the canvas ("Always on top", a key binding that was pressed, ...): a
// pill with a round icon, a bold heading and the binding text. A notice stays for its duration,
// fades out over the last 300 ms and then hands over to the next queued one. A notice of another
// category waits until the one on display has faded; one of the same category replaces it at once,
// so pressing the same key twice does not make the user wait.
//
// The label is a child of the window's frame, placed near the bottom of it, and lets every mouse
// event through to the canvas beneath. The metrics and colours below are properties so that a
// style sheet can set them (qproperty-...). GUI thread only.
class PopupLabel : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int iconMargin READ iconMargin WRITE setIconMargin)
    Q_PROPERTY(int iconCircleSize READ iconCircleSize WRITE setIconCircleSize)
    Q_PROPERTY(int labelBackgroundHeight READ labelBackgroundHeight WRITE setLabelBackgroundHeight)
    Q_PROPERTY(int labelPadding READ labelPadding WRITE setLabelPadding)
    Q_PROPERTY(int labelSpacing READ labelSpacing WRITE setLabelSpacing)
    Q_PROPERTY(int margin READ margin WRITE setMargin)
    Q_PROPERTY(QColor backgroundColor READ backgroundColor WRITE setBackgroundColor)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor)

public:
    explicit PopupLabel(QWidget *parent);

    // Queues a notice; duration in ms, negative for no time limit. A queued notice with the same
    // heading and binding text is updated in place instead of being queued twice.
    void showNotice(const QString &category, const QString &heading, const QString &bindingText,
        const QString &iconPath, int duration);
    // Stops the timer, empties the queue and hides the label.
    void clear();
    // While suppressed nothing is shown; notices still queue and follow once it is lifted.
    void setSuppressed(bool on);
    bool isSuppressed() const { return m_suppressed; }

    // The notice on display (empty while the label is hidden) and what waits behind it.
    QString heading() const { return m_current.heading; }
    QString category() const { return m_current.category; }
    QString bindingText() const { return m_current.bindingText; }
    // Milliseconds left of the notice on display; negative for one without a time limit.
    int remainingTime() const { return m_remaining; }
    int queuedCount() const { return int(m_queue.size()); }
    qreal opacity() const;
    bool isRunning() const { return m_timer.isActive(); }

    int iconMargin() const { return m_iconMargin; }
    void setIconMargin(int margin);
    int iconCircleSize() const { return m_iconCircleSize; }
    void setIconCircleSize(int size);
    int labelBackgroundHeight() const { return m_labelBackgroundHeight; }
    void setLabelBackgroundHeight(int height);
    int labelPadding() const { return m_labelPadding; }
    void setLabelPadding(int padding);
    int labelSpacing() const { return m_labelSpacing; }
    void setLabelSpacing(int spacing);
    int margin() const { return m_margin; }
    void setMargin(int margin);
    // Invalid until a style sheet sets them; the effective ones fall back to the palette.
    QColor backgroundColor() const { return m_backgroundColor; }
    void setBackgroundColor(const QColor &color);
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);
    QColor effectiveBackgroundColor() const;
    QColor effectiveBorderColor() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

public slots:
    // One 10 ms step of the timer; tests call it directly instead of waiting.
    void tick();

private:
    struct Notice {
        QString category;
        QString heading;
        QString bindingText;
        QString iconPath;
        int duration = 0;
    };

    void advance();
    void display(const Notice &notice);
    void hideNotice();
    void place();
    void changeMetric(int *metric, int value);

    PopupLabelContent *m_content;
    QVBoxLayout *m_layout;
    QGraphicsOpacityEffect *m_opacityEffect;
    QTimer m_timer;
    QList<Notice> m_queue;
    Notice m_current;
    int m_remaining = 0;
    bool m_suppressed = false;

    int m_iconMargin = 11;
    int m_iconCircleSize = 64;
    int m_labelBackgroundHeight = 43;
    int m_labelPadding = 15;
    int m_labelSpacing = 30;
    int m_margin = 10;
    QColor m_backgroundColor;
    QColor m_borderColor;
};

// A window to drag files from, as a file manager offers them, for driving drops into the program
// by xdotool in an X server with nothing else in it:
//   velkora_drag_source FILE...
// A press and a move anywhere in its window start a drag of the files' addresses; it prints
// "ready" once shown, and ends a few seconds after the drop: the toolkit hands over the data after
// its drag has ended, while the target asks for it.
#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <cstdio>

namespace {

class DragSource : public QWidget {
public:
    explicit DragSource(const QList<QUrl> &urls)
        : m_urls(urls)
    {
        setWindowTitle(QStringLiteral("Drag source"));
        resize(200, 200);
    }

protected:
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (!(event->buttons() & Qt::LeftButton) || m_dragged)
            return;
        m_dragged = true;
        auto *drag = new QDrag(this);
        auto *mime = new QMimeData;
        mime->setUrls(m_urls);
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf("dropped %d\n", action == Qt::CopyAction ? 1 : 0);
        std::fflush(stdout);
        QTimer::singleShot(5000, qApp, &QCoreApplication::quit);
    }

private:
    QList<QUrl> m_urls;
    bool m_dragged = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QList<QUrl> urls;
    for (int i = 1; i < argc; ++i)
        urls.append(
            QUrl::fromLocalFile(QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath()));
    if (urls.isEmpty()) {
        std::fprintf(stderr, "usage: velkora_drag_source FILE...\n");
        return 2;
    }
    DragSource window(urls);
    window.show();
    std::printf("ready\n");
    std::fflush(stdout);
    return application.exec();
}

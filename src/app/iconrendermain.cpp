// Renders the program's icon for icon themes during the build:
// velkora_render_icon SOURCE.svg FOLDER NAME SIZE... writes FOLDER/SIZExSIZE/apps/NAME.png.

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Runs during the build, where no display may be available.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 5) {
        std::fprintf(stderr, "usage: velkora_render_icon SOURCE.svg FOLDER NAME SIZE...\n");
        return 2;
    }
    QSvgRenderer renderer(arguments.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "%s is no SVG picture\n", qUtf8Printable(arguments.at(1)));
        return 1;
    }
    for (int i = 4; i < arguments.size(); ++i) {
        const int size = arguments.at(i).toInt();
        if (size <= 0 || size > 4096) {
            std::fprintf(stderr, "%s is no icon size\n", qUtf8Printable(arguments.at(i)));
            return 2;
        }
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(arguments.at(2)).arg(size);
        QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
        icon.fill(Qt::transparent);
        QPainter painter(&icon);
        renderer.render(&painter);
        painter.end();
        if (!QDir().mkpath(folder)
            || !icon.save(folder + QLatin1Char('/') + arguments.at(3) + QLatin1String(".png"))) {
            std::fprintf(stderr, "could not write the %s icon\n", qUtf8Printable(arguments.at(i)));
            return 1;
        }
    }
    return 0;
}

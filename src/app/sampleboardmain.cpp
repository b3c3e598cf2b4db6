// Writes the sample board that scripts/run.sh opens: velkora_sample_board OUTPUT.vlk
#include "app/sampleboard.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Runs during the build, where no display may be available.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: velkora_sample_board OUTPUT.vlk\n");
        return 2;
    }
    QString error;
    if (!SampleBoard::write(QString::fromLocal8Bit(argv[1]), &error)) {
        std::fprintf(stderr, "could not write the sample board: %s\n", qUtf8Printable(error));
        return 1;
    }
    return 0;
}

// Start-up of the program, as `velkora -c exit` measures it: the window built and shown, the
// command run, the process ended. Against a bare toolkit program that shows an empty window of
// the same size and ends, started the same way in the same run.
//
//   bench_startup [ROUNDS]         default 15
//
// Runs on the platform the environment gives (the X server of DISPLAY, else offscreen), with
// settings of its own. Figure: startup_over_bare_toolkit, the median of interleaved rounds; the
// medians in seconds are printed beside it.

#include "benchmedian.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

int bareToolkit(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.resize(600, 400);
    window.show();
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    return app.exec();
}

double secondsToRun(
    const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    // Their logs would drown the figures.
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s did not end well\n", qUtf8Printable(program));
        std::exit(1);
    }
    return double(timer.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--bare") == 0)
        return bareToolkit(argc, argv);
    const int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;

    QTemporaryDir home;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("DISPLAY")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    for (const char *name : { "HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME" })
        environment.insert(QString::fromLatin1(name), home.path());
    const QString self = QString::fromLocal8Bit(argv[0]);

    // One start of each first: the files they read are then in the page cache for both.
    secondsToRun(QStringLiteral(VELKORA_BINARY), { "-c", "exit" }, environment);
    secondsToRun(self, { "--bare" }, environment);
    std::vector<double> program;
    std::vector<double> bare;
    std::vector<double> ratios;
    for (int round = 0; round < rounds; ++round) {
        program.push_back(
            secondsToRun(QStringLiteral(VELKORA_BINARY), { "-c", "exit" }, environment));
        bare.push_back(secondsToRun(self, { "--bare" }, environment));
        ratios.push_back(program.back() / bare.back());
    }
    std::printf("velkora -c exit: %.3f s, bare toolkit window: %.3f s (medians of %d)\n",
        median(program), median(bare), rounds);
    std::printf("figure startup_over_bare_toolkit %.3f\n", median(ratios));
    return 0;
}

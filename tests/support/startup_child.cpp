// Runs the program's start-up on the QML file named by the first argument. With a second
// argument N it quits by itself after N ms. Prints the exit code and the number of windows.
#include "app/startup.h"
#include "core/logfile.h"

#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QApplication>
using Application = QApplication;
#else
#include <QGuiApplication>
using Application = QGuiApplication;
#endif
#include <QTimer>
#include <QUrl>
#include <QWindow>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    qInstallMessageHandler(myMessageOutput);
    Application app(argc, argv);
    registerQmlTypes(createSingletons());
    if (argc > 2)
        QTimer::singleShot(atoi(argv[2]), &app, [] { QCoreApplication::exit(0); });
    int windows = 0;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [&windows] {
        for (QWindow *w : QGuiApplication::topLevelWindows())
            windows += w->isVisible() ? 1 : 0;
    });
    const int code = runMainWindow(app, QUrl(QString::fromLocal8Bit(argv[1]), QUrl::TolerantMode));
    std::printf("exit=%d windows=%d\n", code, windows);
    return code;
}

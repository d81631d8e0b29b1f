#include "app/startup.h"
#include "core/logfile.h"

#include <QUrl>

#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QApplication>
using Application = QApplication; // the save dialog needs Widgets where there is no native one
#else
#include <QGuiApplication>
using Application = QGuiApplication;
#endif

int main(int argc, char *argv[])
{
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling, true);
    qInstallMessageHandler(myMessageOutput);
    prepareProcess();
    Application app(argc, argv);
    registerQmlTypes(createSingletons());
    return runMainWindow(app, QUrl(QStringLiteral("qrc:/main.qml"), QUrl::TolerantMode));
}

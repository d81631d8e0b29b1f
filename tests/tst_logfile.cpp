#include "core/logfile.h"
#include "testutil.h"

#include <QProcess>
#include <QtTest>

/// The log file: exact bytes of a line, appending to whatever "logs.txt" names, and what a fatal
/// message does.
class TestLogFile : public QObject
{
    Q_OBJECT
private slots:
    void lineBytes_data();
    void lineBytes();
    void appendsAndCreates();
    void followsTheNameInTheWorkingDirectory();
    void writesNothingToStandardError();
    void fatalWritesThenAborts();
    void fatalAbortsWhenFileCannotBeOpened();
};

void TestLogFile::lineBytes_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("debug") << int(QtDebugMsg) << "hello" << QByteArray("Debug: hello (:0, )\r\n");
    QTest::newRow("info") << int(QtInfoMsg) << "i" << QByteArray("Info: i (:0, )\r\n");
    QTest::newRow("warning") << int(QtWarningMsg) << "w" << QByteArray("Warning: w (:0, )\r\n");
    QTest::newRow("critical") << int(QtCriticalMsg) << "c" << QByteArray("Critical: c (:0, )\r\n");
    QTest::newRow("place markers kept") << int(QtDebugMsg) << "a %2 b %5 %1"
                                        << QByteArray("Debug: a %2 b %5 %1 (:0, )\r\n");
    QTest::newRow("utf-8") << int(QtDebugMsg) << QString::fromUtf8("Crème brûlée €")
                           << QByteArray("Debug: Cr\xc3\xa8me br\xc3\xbbl\xc3\xa9"
                                         "e \xe2\x82\xac (:0, )\r\n");
    QTest::newRow("unknown type") << 42 << "x" << QByteArray(": x (:0, )\r\n");
}

void TestLogFile::lineBytes()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(QByteArray, expected);
    WorkDir dir;
    myMessageOutput(QtMsgType(type), QMessageLogContext(), message);
    QCOMPARE(readFile("logs.txt"), expected);
}

void TestLogFile::appendsAndCreates()
{
    WorkDir dir;
    QVERIFY(writeFile("logs.txt", "earlier line\r\n"));
    QMessageLogContext context("file.cpp", 12, "void f()", "default");
    myMessageOutput(QtWarningMsg, context, "second");
    myMessageOutput(QtDebugMsg, QMessageLogContext(), "third");
    QCOMPARE(readFile("logs.txt"),
        QByteArray("earlier line\r\nWarning: second (file.cpp:12, void f())\r\nDebug: third (:0, )\r\n"));
}

void TestLogFile::followsTheNameInTheWorkingDirectory()
{
    WorkDir first;
    myMessageOutput(QtDebugMsg, QMessageLogContext(), "one");
    QVERIFY(QFile::rename("logs.txt", "moved.txt"));
    myMessageOutput(QtDebugMsg, QMessageLogContext(), "two");
    QCOMPARE(readFile("moved.txt"), QByteArray("Debug: one (:0, )\r\n"));
    QCOMPARE(readFile("logs.txt"), QByteArray("Debug: two (:0, )\r\n"));
    QVERIFY(QFile::remove("logs.txt"));
    myMessageOutput(QtDebugMsg, QMessageLogContext(), "three");
    QCOMPARE(readFile("logs.txt"), QByteArray("Debug: three (:0, )\r\n"));
    {
        WorkDir second;
        myMessageOutput(QtDebugMsg, QMessageLogContext(), "four");
        QCOMPARE(readFile("logs.txt"), QByteArray("Debug: four (:0, )\r\n"));
    }
    myMessageOutput(QtDebugMsg, QMessageLogContext(), "five");
    QCOMPARE(readFile("logs.txt"), QByteArray("Debug: three (:0, )\r\nDebug: five (:0, )\r\n"));
}

static QProcess *runChild(const QString &mode, const QString &workDir)
{
    auto *process = new QProcess;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TST_LOGFILE_CHILD", mode);
    process->setProcessEnvironment(env);
    process->setWorkingDirectory(workDir);
    process->start(QCoreApplication::applicationFilePath(), QStringList());
    process->waitForFinished(20000);
    return process;
}

void TestLogFile::writesNothingToStandardError()
{
    WorkDir dir;
    QScopedPointer<QProcess> child(runChild("messages", dir.path()));
    QCOMPARE(child->exitStatus(), QProcess::NormalExit);
    QCOMPARE(child->exitCode(), 0);
    QCOMPARE(child->readAllStandardError(), QByteArray());
    QCOMPARE(child->readAllStandardOutput(), QByteArray());
    QCOMPARE(readFile("logs.txt"), QByteArray("Debug: to the file only (:0, )\r\nWarning: also (:0, )\r\n"));
}

void TestLogFile::fatalWritesThenAborts()
{
    WorkDir dir;
    QScopedPointer<QProcess> child(runChild("fatal", dir.path()));
    QCOMPARE(child->exitStatus(), QProcess::CrashExit);
    QCOMPARE(readFile("logs.txt"), QByteArray("Fatal: the end (:0, )\r\n"));
}

void TestLogFile::fatalAbortsWhenFileCannotBeOpened()
{
    WorkDir dir;
    QVERIFY(QDir().mkdir("logs.txt")); // a directory cannot be opened for appending
    QScopedPointer<QProcess> child(runChild("fatal", dir.path()));
    QCOMPARE(child->exitStatus(), QProcess::CrashExit);
    QVERIFY(QFileInfo("logs.txt").isDir());
}

static int childMain()
{
    const QByteArray mode = qgetenv("TST_LOGFILE_CHILD");
    qInstallMessageHandler(myMessageOutput);
    if (mode == "fatal") {
        myMessageOutput(QtFatalMsg, QMessageLogContext(), "the end");
        return 0; // not reached
    }
    myMessageOutput(QtDebugMsg, QMessageLogContext(), "to the file only");
    myMessageOutput(QtWarningMsg, QMessageLogContext(), "also");
    return 0;
}

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet("TST_LOGFILE_CHILD"))
        return childMain();
    QCoreApplication app(argc, argv);
    TestLogFile test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logfile.moc"

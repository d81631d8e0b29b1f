#include "app/startup.h"
#include "net/request.h"
#ifdef TILLMARK_TEST_SERVER
#include "testserver.h"
#endif

#include <QQmlContext>
#include <QQmlEngine>
#include <QTemporaryDir>
#include <QUrl>
#include <QtQuickTest>

#ifdef TILLMARK_WIDGETS_APPLICATION
#include <QApplication>
#endif

#ifdef TILLMARK_TEST_SERVER
/// The scripted HTTP server, as the QML tests see it (context property "testServer").
class TestServerControl : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString hostPort READ hostPort CONSTANT)
public:
    QString hostPort() const { return m_server.hostPort(); }
    Q_INVOKABLE void reset() { m_server.reset(); }
    Q_INVOKABLE void route(const QString &path, int status, const QString &body, int delayMs)
    {
        TestServer::Reply reply;
        reply.status = status;
        reply.body = body.toUtf8();
        reply.delayMs = delayMs;
        m_server.route(path.toStdString(), reply);
    }
    Q_INVOKABLE void requireAuth(const QString &scheme, const QString &user, const QString &password)
    {
        m_server.requireAuth(scheme == "digest" ? httpauth::Scheme::Digest : httpauth::Scheme::Basic,
            user.toStdString(), password.toStdString());
    }
    Q_INVOKABLE int requestCount() const { return int(m_server.requestCount()); }
    Q_INVOKABLE QStringList targets() const
    {
        QStringList all;
        for (const TestServer::Recorded &request : m_server.requests())
            all << QString::fromStdString(request.target);
        return all;
    }
    Q_INVOKABLE QString lastTarget() const
    {
        const auto requests = m_server.requests();
        return requests.empty() ? QString() : QString::fromStdString(requests.back().target);
    }

private:
    TestServer m_server;
};

#endif

class Setup : public QObject
{
    Q_OBJECT
public slots:
    void applicationAvailable()
    {
        registerQmlTypes(createSingletons(), EngineUse::Many);
#ifdef TILLMARK_TEST_SERVER
        m_server = new TestServerControl;
#endif
    }
    void qmlEngineAvailable(QQmlEngine *engine)
    {
        // A folder of the run's own for the files the tests have the pages write, as a URL.
        engine->rootContext()->setContextProperty("testFolder", QUrl::fromLocalFile(m_folder.path()));
#ifdef TILLMARK_TEST_SERVER
        engine->rootContext()->setContextProperty("testServer", m_server);
#endif
    }
#ifdef TILLMARK_TEST_SERVER
    void cleanupTestCase()
    {
        delete m_server;
    }
#endif

private:
    QTemporaryDir m_folder;
#ifdef TILLMARK_TEST_SERVER
    TestServerControl *m_server = nullptr;
#endif
};

int main(int argc, char *argv[])
{
    // The save dialog of the main window needs Widgets where the platform has no native one.
#ifdef TILLMARK_WIDGETS_APPLICATION
    QApplication app(argc, argv);
#else
    QGuiApplication app(argc, argv);
#endif
    Setup setup;
    return quick_test_main_with_setup(argc, argv, "tillmark", QUICK_TEST_SOURCE_DIR, &setup);
}

#include "tst_qml.moc"

#include "app/startup.h"
#include "net/posclient.h"
#include "core/appstate.h"
#include "net/request.h"
#include "pos/possearching.h"
#include "testserver.h"
#include "testutil.h"

#include <QAbstractItemModelTester>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QtTest>

#include <memory>

namespace {

QByteArray transaction(const QString &text, const QString &receivedAt, const QByteArray &streams = "[]")
{
    QJsonObject object { { "text", text }, { "device", QJsonObject { { "name", "Till 1" } } } };
    if (!receivedAt.isNull())
        object.insert("received_at", receivedAt);
    QJsonObject device = object.value("device").toObject();
    device.insert("streams", QJsonDocument::fromJson(streams).array());
    object.insert("device", device);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray array(const QList<QByteArray> &elements)
{
    QByteArray body = "[";
    for (const QByteArray &element : elements)
        body += (body.size() > 1 ? "," : "") + element;
    return body + "]";
}

TestServer::Reply ok(const QByteArray &body, int delayMs = 0)
{
    TestServer::Reply reply;
    reply.body = body;
    reply.delayMs = delayMs;
    return reply;
}

} // namespace

/// The POS text search: the request it sends, the order and form of its rows, and its flags and errors.
class TestPosSearching : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void searchTextSentAsOneValue_data();
    void searchTextSentAsOneValue();
    void baseEndingInSlashKeepsDoubleSlash();
    void daysAddTheTimeRange_data();
    void daysAddTheTimeRange();

    void newestFirstInvalidLast();
    void roles();
    void roleNamesExactlyFive();

    void loadingAndResetOrderOnSuccess();
    void emptyArrayEmptiesWithoutError();
    void failureKeepsRows_data();
    void failureKeepsRows();
    void silentServerReportsTimeout();

    void laterSearchWinsOverSlowerEarlierOne();
    void earlierFastReplyIsDropped();
    void destroyedWithSearchInFlight();

    void creatableFromQml_data();
    void creatableFromQml();

    void matchSnippet_data();
    void matchSnippet();
    void matchMarkupEscapesTheText();

private:
    /// Runs one search and waits until the model is idle again.
    bool searchAndWait(PosSearching &model, const QString &text);
    QStringList contents(const PosSearching &model) const;
    void record(PosSearching &model);

    /// Two hours ahead of UTC in June, so that local and UTC readings differ.
    ScopedTimeZone m_zone { "Europe/Berlin" };
    AppState m_state;
    std::unique_ptr<TestServer> m_server;
    QStringList m_events;
};

void TestPosSearching::init()
{
    m_server = std::make_unique<TestServer>();
    m_state.setPosBase(m_server->base());
    m_events.clear();
    Request::setTransferTimeoutMs(60000);
}

void TestPosSearching::cleanup()
{
    m_server.reset();
}

bool TestPosSearching::searchAndWait(PosSearching &model, const QString &text)
{
    model.searchByContent(text);
    if (!model.isLoading())
        return false;
    return QTest::qWaitFor([&model] { return !model.isLoading(); }, 10000);
}

QStringList TestPosSearching::contents(const PosSearching &model) const
{
    QStringList result;
    for (int row = 0; row < model.rowCount(); ++row)
        result << model.data(model.index(row), PosSearching::ContentRole).toString();
    return result;
}

void TestPosSearching::record(PosSearching &model)
{
    connect(&model, &PosSearching::modelReset, this, [this, &model] { m_events << contents(model).join('/'); });
    connect(&model, &PosSearching::errorOccured, this, [this](const QString &m) { m_events << "error:" + m; });
    connect(&model, &PosSearching::isLoadingChanged, this,
        [this, &model] { m_events << QString("loading=%1").arg(model.isLoading()); });
}

void TestPosSearching::searchTextSentAsOneValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("encoded");

    QTest::newRow("ampersand") << "SALT & PEPPER"
                               << "SALT%20%26%20PEPPER";
    QTest::newRow("hash") << "#2"
                          << "%232";
    QTest::newRow("percent") << "50%"
                             << "50%25";
    QTest::newRow("percent before hex digits") << "%41"
                                               << "%2541";
    QTest::newRow("plus") << "a+b"
                          << "a%2Bb";
    QTest::newRow("equals and semicolon") << "a=b;c"
                                          << "a%3Db%3Bc";
    QTest::newRow("slash and question mark") << "x/y?z"
                                             << "x%2Fy%3Fz";
    QTest::newRow("two words") << "two words"
                               << "two%20words";
    QTest::newRow("leading blank kept") << " lea"
                                        << "%20lea";
    QTest::newRow("tab") << "a\tb"
                         << "a%09b";
    QTest::newRow("non-ASCII as UTF-8") << QString::fromUtf8("Käse €") << "K%C3%A4se%20%E2%82%AC";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("plain") << "line"
                           << "line";
}

void TestPosSearching::searchTextSentAsOneValue()
{
    QFETCH(QString, text);
    QFETCH(QString, encoded);
    PosSearching model;
    QVERIFY(searchAndWait(model, text));
    QCOMPARE(m_server->requestCount(), size_t(1));
    const TestServer::Recorded request = m_server->requests().front();
    QCOMPARE(QString::fromStdString(request.path), QString("/poses/"));
    QCOMPARE(QString::fromStdString(request.target), "/poses/?text__icontains=" + encoded);
    QCOMPARE(request.params.size(), size_t(1));
    QCOMPARE(request.params.count("text__icontains"), size_t(1));
    QCOMPARE(QString::fromStdString(request.params.find("text__icontains")->second), text);
    QVERIFY(request.authorization.empty());
}

void TestPosSearching::daysAddTheTimeRange_data()
{
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("range"); // what follows the text item

    // Local days in Berlin (two hours ahead of UTC in June), sent as UTC.
    QTest::newRow("both days") << QDate(2021, 6, 1) << QDate(2021, 6, 3)
                               << "&received_at__range_after=2021-05-31T22:00:00.000Z"
                                  "&received_at__range_before=2021-06-03T21:59:59.999Z";
    QTest::newRow("from only") << QDate(2021, 6, 1) << QDate() << "&received_at__range_after=2021-05-31T22:00:00.000Z";
    QTest::newRow("to only") << QDate() << QDate(2021, 6, 1) << "&received_at__range_before=2021-06-01T21:59:59.999Z";
    QTest::newRow("no days") << QDate() << QDate() << "";
}

void TestPosSearching::daysAddTheTimeRange()
{
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QString, range);
    PosSearching model;
    model.searchByContentInDays("SALT & PEPPER", from, to);
    QTRY_VERIFY(!model.isLoading());
    const TestServer::Recorded request = m_server->requests().front();
    // Both filters in one request; the text stays one value.
    QCOMPARE(QString::fromStdString(request.target), "/poses/?text__icontains=SALT%20%26%20PEPPER" + range);
    QCOMPARE(QString::fromStdString(request.params.find("text__icontains")->second), QString("SALT & PEPPER"));
}

void TestPosSearching::baseEndingInSlashKeepsDoubleSlash()
{
    QCOMPARE(PosClient::searchUrlOn("http://pos.local:8000/", "milk"),
        QString("http://pos.local:8000//poses/?text__icontains=milk"));
    QCOMPARE(PosClient::searchUrlOn("http://pos.local:8000/api", "a b"),
        QString("http://pos.local:8000/api/poses/?text__icontains=a%20b"));
    // The network layer merges the two slashes of the path on the wire.
    m_state.setPosBase(m_server->base() + "/");
    PosSearching model;
    QVERIFY(searchAndWait(model, "milk"));
    QCOMPARE(QString::fromStdString(m_server->requests().front().target), QString("/poses/?text__icontains=milk"));
}

void TestPosSearching::newestFirstInvalidLast()
{
    m_server->setDefault(ok(array({
        transaction("ten", "2021-06-01T10:00:00Z"),
        transaction("garbled", "2021-06-01 at ten"),
        transaction("twelve", "2021-06-01T12:00:00Z"),
        transaction("eleven in Bangkok", "2021-06-01T18:00:00+07:00"),
        transaction("no time", QString()),
        transaction("half past eleven local", "2021-06-01T13:30:00"),
        transaction("nine", "2021-06-01T09:00:00.500Z"),
    })));
    PosSearching model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(searchAndWait(model, "any"));
    const QStringList rows = contents(model);
    QCOMPARE(rows.size(), 7);
    QCOMPARE(rows.mid(0, 5), QStringList({ "twelve", "half past eleven local", "eleven in Bangkok", "ten", "nine" }));
    QCOMPARE(QSet<QString>(rows.begin() + 5, rows.end()), QSet<QString>({ "garbled", "no time" }));
    for (int row = 0; row < 5; ++row) {
        const QDateTime at = model.data(model.index(row), PosSearching::CreatedAtRole).toDateTime();
        QVERIFY(at.isValid());
        if (row > 0)
            QVERIFY(at < model.data(model.index(row - 1), PosSearching::CreatedAtRole).toDateTime());
    }
    QVERIFY(!model.data(model.index(6), PosSearching::CreatedAtRole).toDateTime().isValid());
    // The zone written by the server stays with the value.
    QCOMPARE(model.data(model.index(2), PosSearching::CreatedAtRole).toDateTime().offsetFromUtc(), 7 * 3600);
}

void TestPosSearching::roles()
{
    m_server->setDefault(ok(array({
        transaction("MILK\nBREAD\r\nTOTAL 3.20", "2021-06-01T12:00:00Z",
            R"([{"nx_id":"{c1}","name":"Entrance"},{"nx_id":"{c2}","name":"Till"}])"),
        transaction("no cameras", "2021-06-01T11:00:00Z"),
    })));
    PosSearching model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(searchAndWait(model, "milk"));
    QCOMPARE(model.rowCount(), 2);
    const QModelIndex first = model.index(0);

    QCOMPARE(model.data(first, Qt::UserRole + 1).toString(), QString("MILK\nBREAD\r\nTOTAL 3.20"));
    const QVariant oneLine = model.data(first, Qt::UserRole + 2);
    QCOMPARE(oneLine.type(), QVariant::String);
    QCOMPARE(oneLine.toString(), QString("MILK\\nBREAD\r\\nTOTAL 3.20"));
    QVERIFY(!oneLine.toString().contains('\n'));
    const QVariant createdAt = model.data(first, Qt::UserRole + 3);
    QCOMPARE(createdAt.type(), QVariant::DateTime);
    QCOMPARE(createdAt.toDateTime(), QDateTime(QDate(2021, 6, 1), QTime(12, 0), Qt::UTC));

    const QVariantList streams = model.data(first, Qt::UserRole + 4).toList();
    QCOMPARE(streams.size(), 2);
    const QVariantMap camera1 = streams.at(0).toMap();
    QCOMPARE(camera1.keys(), QStringList({ "strmId", "strmName" }));
    QCOMPARE(camera1.value("strmId").toString(), QString("{c1}"));
    QCOMPARE(camera1.value("strmName").toString(), QString("Entrance"));
    QCOMPARE(streams.at(1).toMap().value("strmName").toString(), QString("Till"));

    const QVariant none = model.data(model.index(1), Qt::UserRole + 4);
    QVERIFY(none.isValid());
    QCOMPARE(none.type(), QVariant::List);
    QVERIFY(none.toList().isEmpty());

    QVERIFY(!model.data(first, Qt::DisplayRole).isValid());
    QVERIFY(!model.data(first, Qt::UserRole).isValid());
    QCOMPARE(model.data(first, Qt::UserRole + 5).toDouble(), 0.0); // no till clock offset set
    QVERIFY(!model.data(first, Qt::UserRole + 6).isValid());
    QVERIFY(!model.data(QModelIndex(), Qt::UserRole + 1).isValid());
}

void TestPosSearching::roleNamesExactlyFive()
{
    PosSearching model;
    const QHash<int, QByteArray> expected { { 257, "posContent" }, { 258, "posContentOneLine" },
        { 259, "posCreatedAt" }, { 260, "posStreams" }, { 261, "posTillClockOffsetMs" } };
    QCOMPARE(model.roleNames(), expected);
    QCOMPARE(model.rowCount(), 0);
    QVERIFY(!model.isLoading());
}

void TestPosSearching::loadingAndResetOrderOnSuccess()
{
    m_server->setDefault(ok(array({ transaction("A", "2021-06-01T10:00:00Z") }), 100));
    PosSearching model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    record(model);
    QSignalSpy loading(&model, &PosSearching::isLoadingChanged);
    model.searchByContent("abc");
    QVERIFY(model.isLoading());
    QCOMPARE(loading.count(), 1);
    QTRY_VERIFY(!model.isLoading());
    QCOMPARE(loading.count(), 2);
    QCOMPARE(m_events, QStringList({ "loading=1", "A", "loading=0" }));
}

void TestPosSearching::emptyArrayEmptiesWithoutError()
{
    m_server->setDefault(ok(array({ transaction("A", "2021-06-01T10:00:00Z") })));
    PosSearching model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(searchAndWait(model, "abc"));
    QCOMPARE(model.rowCount(), 1);
    record(model);
    m_server->setDefault(ok("[]"));
    QVERIFY(searchAndWait(model, "abcd"));
    QCOMPARE(model.rowCount(), 0);
    QCOMPARE(m_events, QStringList({ "loading=1", "", "loading=0" }));
}

void TestPosSearching::failureKeepsRows_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("closed");
    QTest::newRow("404") << 404 << false;
    QTest::newRow("500") << 500 << false;
    QTest::newRow("server gone") << 0 << true;
}

void TestPosSearching::failureKeepsRows()
{
    QFETCH(int, status);
    QFETCH(bool, closed);
    m_server->setDefault(
        ok(array({ transaction("B", "2021-06-01T11:00:00Z"), transaction("A", "2021-06-01T10:00:00Z") })));
    PosSearching model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QVERIFY(searchAndWait(model, "abc"));
    QCOMPARE(contents(model), QStringList({ "B", "A" }));

    record(model);
    if (closed) {
        const QString goneBase = TestServer().base();
        m_state.setPosBase(goneBase);
    } else {
        TestServer::Reply failure = ok("[]");
        failure.status = status;
        m_server->setDefault(failure);
    }
    QSignalSpy errors(&model, &PosSearching::errorOccured);
    QVERIFY(searchAndWait(model, "abcd"));
    QCOMPARE(errors.count(), 1);
    const QString message = errors.at(0).at(0).toString();
    QVERIFY(!message.isEmpty());
    QCOMPARE(m_events, QStringList({ "loading=1", "error:" + message, "loading=0" }));
    QCOMPARE(contents(model), QStringList({ "B", "A" }));
}

void TestPosSearching::silentServerReportsTimeout()
{
    Request::setTransferTimeoutMs(300);
    TestServer::Reply silent;
    silent.stall = true;
    m_server->setDefault(silent);
    PosSearching model;
    QSignalSpy errors(&model, &PosSearching::errorOccured);
    QVERIFY(searchAndWait(model, "abc"));
    QCOMPARE(errors.count(), 1);
    QVERIFY2(
        errors.at(0).at(0).toString().contains("did not answer in time"), qPrintable(errors.at(0).at(0).toString()));
}

void TestPosSearching::laterSearchWinsOverSlowerEarlierOne()
{
    m_server->route("/slow/poses/", ok(array({ transaction("stale", "2021-06-01T10:00:00Z") }), 700));
    m_server->route("/fast/poses/", ok(array({ transaction("fresh", "2021-06-01T10:00:00Z") })));
    PosSearching model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    record(model);

    m_state.setPosBase(m_server->base() + "/slow");
    model.searchByContent("first");
    QTRY_COMPARE(m_server->requestCount(), size_t(1));
    m_state.setPosBase(m_server->base() + "/fast");
    model.searchByContent("second");
    QTRY_VERIFY(!model.isLoading());
    QCOMPARE(contents(model), QStringList({ "fresh" }));
    QCOMPARE(m_events, QStringList({ "loading=1", "fresh", "loading=0" }));

    // The first answer has gone out; a search answered after it shows whether it was taken in.
    QTRY_COMPARE(m_server->answeredCount(), size_t(2));
    m_server->route("/fast/poses/", ok(array({ transaction("third", "2021-06-01T10:00:00Z") })));
    QVERIFY(searchAndWait(model, "third"));
    QCOMPARE(m_events, QStringList({ "loading=1", "fresh", "loading=0", "loading=1", "third", "loading=0" }));
}

void TestPosSearching::earlierFastReplyIsDropped()
{
    m_server->route("/fast/poses/", ok(array({ transaction("stale", "2021-06-01T10:00:00Z") })));
    m_server->route("/slow/poses/", ok(array({ transaction("fresh", "2021-06-01T10:00:00Z") }), 500));
    PosSearching model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    record(model);

    m_state.setPosBase(m_server->base() + "/fast");
    model.searchByContent("first");
    m_state.setPosBase(m_server->base() + "/slow");
    model.searchByContent("second");
    QTRY_VERIFY(!model.isLoading());
    // The first answer, had it been taken in, would show before "fresh", and the model would not have
    // stayed loading until the second came.
    QCOMPARE(contents(model), QStringList({ "fresh" }));
    QCOMPARE(m_events, QStringList({ "loading=1", "fresh", "loading=0" }));
}

void TestPosSearching::destroyedWithSearchInFlight()
{
    m_server->setDefault(ok("[]", 300));
    auto model = std::make_unique<PosSearching>();
    QSignalSpy errors(model.get(), &PosSearching::errorOccured);
    model->searchByContent("abc");
    QTRY_COMPARE(m_server->requestCount(), size_t(1));
    model.reset();
    // The answer goes out to a model that is gone; another model's search, answered after it, is
    // unharmed.
    QTRY_COMPARE(m_server->answeredCount(), size_t(1));
    m_server->setDefault(ok(array({ transaction("later", "2021-06-01T10:00:00Z") })));
    PosSearching later;
    QVERIFY(searchAndWait(later, "later"));
    QCOMPARE(contents(later), QStringList({ "later" }));
    QCOMPARE(errors.count(), 0);
}

void TestPosSearching::creatableFromQml_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::newRow("search") << QByteArray("PosSearching");
    QTest::newRow("window download") << QByteArray("PosDownloader");
    QTest::newRow("merge") << QByteArray("Merger");
}

void TestPosSearching::creatableFromQml()
{
    QFETCH(QByteArray, name);
    static const bool registered = [] {
        registerQmlTypes(createSingletons(), EngineUse::Many);
        return true;
    }();
    QVERIFY(registered);
    QQmlEngine engine;
    QQmlComponent component(&engine);
    component.setData("import Tillmark 1.0\n" + name + " {}\n", QUrl("qrc:/creatable.qml"));
    const std::unique_ptr<QObject> object(component.create());
    QVERIFY2(object, qPrintable(component.errorString()));
    QCOMPARE(QByteArray(object->metaObject()->className()), name);
    QVERIFY(QMetaType::type(name + '*') != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("QQmlListProperty<" + name + '>') != QMetaType::UnknownType);
}

void TestPosSearching::matchSnippet_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("visible");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("match");
    QTest::addColumn<QString>("after");

    // One-line texts show each line break of a receipt as a backslash and an "n".
    const QString receipt
        = "CORNER SHOP LTD\\nHigh Street 1\\nTill 2\\nNo. 4711\\n2 x Coffee beans 1kg 25.98\\nTOTAL 25.98";
    const QString offer = "Weekly special offer on premium arabica coffee beans";
    QTest::newRow("at the start") << "COFFEE 4.50\\nTOTAL 4.50"
                                  << "coffee" << 40 << ""
                                  << "COFFEE"
                                  << " 4.50\\nTOTAL 4.50";
    QTest::newRow("in the middle, in view") << "MILK 1.00\\nBREAD 2.00\\nTOTAL 3.00"
                                            << "bread" << 40 << "MILK 1.00\\n"
                                            << "BREAD"
                                            << " 2.00\\nTOTAL 3.00";
    QTest::newRow("ends at the edge of the view") << offer << "premium" << 31 << "Weekly special offer on "
                                                  << "premium"
                                                  << " arabica coffee beans";
    // Past the edge: the text starts shortly before the match, at the start of its receipt line ...
    QTest::newRow("past the view, multi-line receipt") << receipt << "coffee" << 30 << "\u20262 x "
                                                       << "Coffee"
                                                       << " beans 1kg 25.98\\nTOTAL 25.98";
    // ... or of its word.
    QTest::newRow("past the view, one line") << offer << "coffee" << 20 << "\u2026arabica "
                                             << "coffee"
                                             << " beans";
    QTest::newRow("longer than the view") << offer << "premium arabica coffee" << 10 << "\u2026"
                                          << "premium arabica coffee"
                                          << " beans";
    QTest::newRow("letter case and accents") << "Cr\u00e8me br\u00fbl\u00e9e 2.99"
                                             << "BR\u00dbL\u00c9E" << 40 << "Cr\u00e8me "
                                             << "br\u00fbl\u00e9e"
                                             << " 2.99";
    QTest::newRow("not in the text") << receipt << "xyz" << 30 << receipt << ""
                                     << "";
    QTest::newRow("no width yet") << receipt << "total" << 0 << receipt.left(receipt.lastIndexOf("TOTAL")) << "TOTAL"
                                  << " 25.98";
}

void TestPosSearching::matchSnippet()
{
    QFETCH(QString, line);
    QFETCH(QString, query);
    QFETCH(int, visible);
    QFETCH(QString, before);
    QFETCH(QString, match);
    QFETCH(QString, after);
    const MatchSnippet snippet = ::matchSnippet(line, query, visible);
    QCOMPARE(snippet.before, before);
    QCOMPARE(snippet.match, match);
    QCOMPARE(snippet.after, after);
    // The match is in view whenever it fits.
    if (!match.isEmpty() && visible > 0 && match.size() < visible)
        QVERIFY(snippet.before.size() + snippet.match.size() <= visible);
}

void TestPosSearching::matchMarkupEscapesTheText()
{
    PosSearching model;
    QCOMPARE(
        model.matchMarkup("SALT & PEPPER <b>", "pepper", 40), QString("SALT &amp; <b><u>PEPPER</u></b> &lt;b&gt;"));
    // What a screen reader is given: the receipt line with the match.
    const QString receipt = "SHOP\\nSALT & PEPPER    1.89\\nTOTAL    1.89";
    QCOMPARE(model.matchLine(receipt, "pepper"), QString("SALT & PEPPER 1.89"));
    QCOMPARE(model.matchLine(receipt, "total"), QString("TOTAL 1.89"));
    QCOMPARE(model.matchLine(receipt, "xyz"), QString("SHOP"));
}

QTEST_GUILESS_MAIN(TestPosSearching)
#include "tst_possearching.moc"

#include "app/notifier.h"

#include <QSignalSpy>
#include <QtTest>

/// What the window tells the operator: every message read, one after the other, and the busy box up
/// exactly while something keeps the window waiting.
class TestNotifier : public QObject
{
    Q_OBJECT
private slots:
    void messagesOneAfterTheOther();
    void busyWhileAnyHolderIs();
};

void TestNotifier::messagesOneAfterTheOther()
{
    Notifier notifier;
    QCOMPARE(Notifier::get(), &notifier);
    QSignalSpy changed(&notifier, &Notifier::messageChanged);
    notifier.show("The search failed");
    notifier.show("Export failed: no clip");
    // The same message again while it waits is read once; an empty one is none.
    notifier.show("Export failed: no clip");
    notifier.show(QString());
    QCOMPARE(changed.count(), 2);
    QCOMPARE(notifier.message(), QString("The search failed"));

    notifier.dismiss();
    QCOMPARE(notifier.message(), QString("Export failed: no clip"));
    // Once read, the same text is a new message.
    notifier.dismiss();
    QCOMPARE(notifier.message(), QString());
    notifier.show("Export failed: no clip");
    QCOMPARE(notifier.message(), QString("Export failed: no clip"));
    notifier.dismiss();
    changed.clear();
    notifier.dismiss();
    QCOMPARE(changed.count(), 0);
}

void TestNotifier::busyWhileAnyHolderIs()
{
    Notifier notifier;
    QSignalSpy busy(&notifier, &Notifier::busyChanged);
    QObject search;
    auto *download = new QObject;
    notifier.setBusy(&search, true);
    notifier.setBusy(download, true);
    notifier.setBusy(&search, true);
    QCOMPARE(busy.count(), 1);
    notifier.setBusy(&search, false);
    QVERIFY(notifier.busy());
    // A holder that goes while busy (its page closed mid-search) does not keep the box up for good.
    delete download;
    QVERIFY(!notifier.busy());
    QCOMPARE(busy.count(), 2);
    notifier.setBusy(&search, false);
    notifier.setBusy(nullptr, true);
    QCOMPARE(busy.count(), 2);
    // A holder that let go and is destroyed later changes nothing.
    auto *again = new QObject;
    notifier.setBusy(again, true);
    notifier.setBusy(again, false);
    delete again;
    QVERIFY(!notifier.busy());
    QCOMPARE(busy.count(), 4);
}

QTEST_GUILESS_MAIN(TestNotifier)
#include "tst_notifier.moc"

#include "core/dayclock.h"
#include "core/timelineview.h"
#include "testutil.h"

#include <QSignalSpy>
#include <QStandardItemModel>
#include <QtTest>

#include <cmath>

namespace {

const double Width = 800;

/// A list model with one role of the given name holding values.
QStandardItemModel *modelWith(const QByteArray &role, const QList<double> &values, QObject *parent)
{
    auto *model = new QStandardItemModel(parent);
    model->setItemRoleNames({ { Qt::UserRole + 1, role } });
    for (double value : values) {
        auto *item = new QStandardItem;
        item->setData(value, Qt::UserRole + 1);
        model->appendRow(item);
    }
    return model;
}

} // namespace

/// Where the timeline puts the day and its selection: at the day's ends, on the days the clock changes
/// and at the limits of the zoom, where the pages' own tests do not go.
class TestTimelineView : public QObject
{
    Q_OBJECT
private slots:
    void viewStaysWithinTheDay_data();
    void viewStaysWithinTheDay();
    void zoomLimits();
    void noWidthNoDay();
    void selectionStaysWithinTheDay_data();
    void selectionStaysWithinTheDay();
    void keysMoveTheSelection();
    void newDayKeepsTheWallClock_data();
    void newDayKeepsTheWallClock();
    void receiptWindowAcrossMidnight();
    void ticksFollowTheWallClock();
    void periodsCutAtTheDayAndTheView();
    void marksByKeyAndByMouse();

private:
    /// A view Width wide of the local day date.
    struct Setup {
        DayClock day;
        TimelineView view;
        explicit Setup(const QDate &date)
        {
            day.setDate(date);
            view.setDay(&day);
            view.setWidth(Width);
        }
    };
};

void TestTimelineView::viewStaysWithinTheDay_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<int>("minutes");
    QTest::newRow("24 hours") << QDate(2026, 12, 7) << 1440;
    QTest::newRow("23 hours, clock forward") << QDate(2026, 3, 29) << 1380;
    QTest::newRow("25 hours, clock back") << QDate(2026, 10, 25) << 1500;
}

void TestTimelineView::viewStaysWithinTheDay()
{
    QFETCH(QDate, date);
    QFETCH(int, minutes);
    ScopedTimeZone tz("Europe/Berlin");
    Setup s(date);
    QCOMPARE(s.day.minutes(), minutes);
    // The middle of the day at first, a twelfth of it wide.
    QCOMPARE(s.view.zoomFactor(), 12.0);
    QVERIFY(std::abs((s.view.minuteStart() + s.view.minuteEnd()) / 2.0 - minutes / 2.0) <= 1);
    QVERIFY(std::abs(s.view.minuteTotal() - minutes / 12.0) <= 1);

    // Panned as far as it goes either way, the day's ends meet the view's edges and go no further.
    s.view.panBy(1e6);
    QCOMPARE(s.view.xOffset(), -5.5 * Width);
    QCOMPARE(s.view.minuteStart(), 0);
    QCOMPARE(s.view.minuteAt(0), 0);
    s.view.panBy(-1e6);
    QCOMPARE(s.view.xOffset(), 5.5 * Width);
    QCOMPARE(s.view.minuteEnd(), minutes);
    QCOMPARE(s.view.minuteAt(Width), minutes);

    // Centred on a minute near an end, the view goes only as far as that end.
    s.view.centreOn(minutes / 2.0);
    QCOMPARE(s.view.xOffset(), 0.0);
    s.view.centreOn(minutes - 1);
    QCOMPARE(s.view.xOffset(), 5.5 * Width);
    s.view.centreOn(minutes * 0.25);
    QVERIFY(std::abs(s.view.xOfMinute(minutes * 0.25) - Width / 2) < s.view.xPerMinute());

    // Brought into view, wherever it was.
    s.view.ensureVisible(10);
    QVERIFY(s.view.xOfMinute(10) > 0 && s.view.xOfMinute(10) < Width);
    s.view.ensureVisible(minutes);
    QCOMPARE(s.view.minuteEnd(), minutes);
}

void TestTimelineView::zoomLimits()
{
    ScopedTimeZone tz("UTC");
    Setup s(QDate(2026, 12, 7));
    QSignalSpy changed(&s.view, &TimelineView::viewChanged);
    s.view.zoomByWheel(0, 120);
    QVERIFY(std::abs(s.view.zoomFactor() - 12.96) < 1e-9);
    // A wheel that turns sideways zooms by its sideways turn.
    s.view.zoomByWheel(-120, 120);
    QVERIFY(std::abs(s.view.zoomFactor() - 12) < 1e-9);
    QCOMPARE(changed.count(), 2);
    for (int i = 0; i < 100; ++i)
        s.view.zoomByKey(true);
    QCOMPARE(s.view.zoomFactor(), TimelineView::kMaxZoom);
    changed.clear();
    s.view.zoomBy(1);
    QCOMPARE(changed.count(), 0);
    s.view.setZoomFactor(-3);
    QCOMPARE(s.view.zoomFactor(), TimelineView::kMinZoom);

    // Zoomed out from the day's start, the view shows time before it: the offset is not pulled back
    // until the next pan.
    s.view.panBy(1e6);
    QCOMPARE(s.view.minuteStart(), 0);
    s.view.setZoomFactor(12);
    s.view.panBy(1e6);
    s.view.setZoomFactor(10);
    QVERIFY(s.view.minuteStart() < 0);
    QCOMPARE(s.view.minuteAt(0), 0);
    s.view.panBy(0);
    QCOMPARE(s.view.minuteStart(), 0);
}

void TestTimelineView::noWidthNoDay()
{
    // Before it is laid out, or before it has a day, the view is empty rather than full of infinities.
    TimelineView view;
    QCOMPARE(view.minuteStart(), 0);
    QCOMPARE(view.xPerMinute(), 0.0);
    QCOMPARE(view.msPerPixel(), 0.0);
    QCOMPARE(view.minuteAt(100), 0);
    view.select(5, 10);
    QCOMPARE(view.selectMinuteStart(), -1);
    QVERIFY(view.ticks().isEmpty());
    view.centreOn(100);
    QCOMPARE(view.xOffset(), 0.0);

    ScopedTimeZone tz("UTC");
    DayClock day;
    day.setDate(QDate(2026, 12, 7));
    view.setDay(&day);
    QCOMPARE(view.minuteTotal(), 0);
    QVERIFY(!std::isnan(view.xOfMinute(10)) && !std::isinf(view.xOfMinute(10)));
    view.setWidth(Width);
    QVERIFY(view.minuteTotal() > 0);
}

void TestTimelineView::selectionStaysWithinTheDay_data()
{
    viewStaysWithinTheDay_data();
}

void TestTimelineView::selectionStaysWithinTheDay()
{
    QFETCH(QDate, date);
    QFETCH(int, minutes);
    ScopedTimeZone tz("Europe/Berlin");
    Setup s(date);
    QSignalSpy changed(&s.view, &TimelineView::selectionChanged);
    QCOMPARE(s.view.selectMinuteStart(), -1);
    QVERIFY(!s.view.selectionSpan().isValid());

    s.view.select(-30, minutes + 30);
    QCOMPARE(s.view.selectMinuteStart(), 0);
    QCOMPARE(s.view.selectMinuteEnd(), minutes);
    QCOMPARE(s.view.rangeText(), QString("0:0 - 24:0"));
    // An end before the start leaves one minute; the same selection again says nothing.
    s.view.select(600, 590);
    QCOMPARE(s.view.selectMinuteEnd(), 600);
    QCOMPARE(changed.count(), 2);
    s.view.select(600, 600);
    QCOMPARE(changed.count(), 2);

    // Zoomed out at the day's ends, presses and drags beyond them stop at 00:00 and at 24:00.
    s.view.setZoomFactor(12);
    s.view.panBy(-1e6);
    s.view.setZoomFactor(10);
    QVERIFY(s.view.minuteEnd() > minutes);
    s.view.selectAt(s.view.xOfMinute(minutes - 10) + 1);
    s.view.extendTo(Width - 1);
    QCOMPARE(s.view.selectMinuteStart(), minutes - 10);
    QCOMPARE(s.view.selectMinuteEnd(), minutes);
    s.view.selectAt(Width - 1);
    QCOMPARE(s.view.selectMinuteStart(), minutes);
    s.view.extendTo(0);
    QCOMPARE(s.view.selectMinuteEnd(), minutes);
}

void TestTimelineView::keysMoveTheSelection()
{
    ScopedTimeZone tz("UTC");
    Setup s(QDate(2026, 12, 7));
    // The first arrow with nothing selected starts at the middle of the view.
    const int middle = (s.view.minuteStart() + s.view.minuteEnd()) / 2;
    s.view.stepSelection(1, false);
    QCOMPARE(s.view.selectMinuteStart(), middle);
    QCOMPARE(s.view.selectMinuteEnd(), middle + 1);
    s.view.stepSelection(-10, true);
    QCOMPARE(s.view.selectMinuteStart(), middle - 10);
    // The start pushed past the end takes the end with it.
    s.view.stepSelection(30, true);
    QCOMPARE(s.view.selectMinuteStart(), middle + 20);
    QCOMPARE(s.view.selectMinuteEnd(), middle + 20);

    // Far from the view, the end moved by a key comes into view; at the day's end it stays there.
    s.view.select(1430, 1435);
    s.view.stepSelection(10, false);
    QCOMPARE(s.view.selectMinuteEnd(), 1440);
    QCOMPARE(s.view.minuteEnd(), 1440);
    s.view.stepSelection(1, false);
    QCOMPARE(s.view.selectMinuteEnd(), 1440);
    s.view.stepSelection(-3000, true);
    QCOMPARE(s.view.selectMinuteStart(), 0);
    QCOMPARE(s.view.minuteStart(), 0);
    // Zooming by a key keeps the end in view.
    s.view.select(700, 1439);
    s.view.zoomByKey(true);
    QVERIFY(s.view.xOfMinute(1439) <= Width);
}

void TestTimelineView::newDayKeepsTheWallClock_data()
{
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("newStart");
    QTest::addColumn<int>("newEnd");
    QTest::addColumn<QString>("range");
    // 14:00 to 14:05 is minute 840 on most days, 780 on the short one and 900 on the long one.
    QTest::newRow("to the short day") << QDate(2026, 3, 28) << QDate(2026, 3, 29) << 840 << 845 << 780 << 785
                                      << "14:0 - 14:5";
    QTest::newRow("to the long day") << QDate(2026, 3, 28) << QDate(2026, 10, 25) << 840 << 845 << 900 << 905
                                     << "14:0 - 14:5";
    // The short day has no 02:30: that end keeps its minute, which reads 03:30 there.
    QTest::newRow("a time the day skips")
        << QDate(2026, 3, 28) << QDate(2026, 3, 29) << 150 << 300 << 150 << 240 << "3:30 - 5:0";
    // The day's end stays the day's end.
    QTest::newRow("to 24:00") << QDate(2026, 10, 25) << QDate(2026, 3, 29) << 1490 << 1500 << 1370 << 1380
                              << "23:50 - 24:0";
}

void TestTimelineView::newDayKeepsTheWallClock()
{
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(int, newStart);
    QFETCH(int, newEnd);
    QFETCH(QString, range);
    ScopedTimeZone tz("Europe/Berlin");
    Setup s(from);
    s.view.select(start, end);
    QSignalSpy rangeChanged(&s.view, &TimelineView::rangeTextChanged);
    s.day.setDate(to);
    QCOMPARE(s.view.selectMinuteStart(), newStart);
    QCOMPARE(s.view.selectMinuteEnd(), newEnd);
    QCOMPARE(s.view.rangeText(), range);
    QVERIFY(rangeChanged.count() > 0);
}

void TestTimelineView::receiptWindowAcrossMidnight()
{
    ScopedTimeZone tz("UTC");
    Setup s(QDate(2026, 12, 7));
    // Thirty seconds into the day: the window begins the day before, the selection at the day's start.
    s.view.selectAround(30, 90);
    QCOMPARE(s.view.selectMinuteStart(), 0);
    QCOMPARE(s.view.selectMinuteEnd(), 2);
    QCOMPARE(s.view.minuteStart(), 0);
    // Within a minute: the whole minutes that cover the window.
    s.view.selectAround(630 * 60 + 45, 90);
    QCOMPARE(s.view.selectMinuteStart(), 629);
    QCOMPARE(s.view.selectMinuteEnd(), 633);
    QVERIFY(std::abs(s.view.xOfMinute(630.75) - Width / 2) < s.view.xPerMinute());
}

void TestTimelineView::ticksFollowTheWallClock()
{
    ScopedTimeZone tz("Europe/Berlin");
    // The long day: the hour from 02:00 comes twice, and is labelled twice.
    Setup s(QDate(2026, 10, 25));
    s.view.setZoomFactor(TimelineView::kMinZoom);
    s.view.centreOn(180);
    const QVariantList labels = s.view.tickLabels();
    QStringList texts;
    for (int i = 1; i < labels.size(); i += 2)
        texts << labels.at(i).toString();
    QCOMPARE(texts.count("2:30"), 2);
    QVERIFY(texts.contains("3:0"));
    // A tick for each minute in view; none before the day.
    QCOMPARE(s.view.ticks().size(), 2 * s.view.minuteTotal());
    s.view.setZoomFactor(12);
    s.view.panBy(1e6);
    s.view.setZoomFactor(11);
    QVERIFY(s.view.minuteStart() < 0);
    const QVariantList ticks = s.view.ticks();
    QCOMPARE(ticks.size(), 2 * s.view.minuteEnd());
    QCOMPARE(ticks.constFirst().toDouble(), s.view.xOfMinute(0));
}

void TestTimelineView::periodsCutAtTheDayAndTheView()
{
    ScopedTimeZone tz("UTC");
    Setup s(QDate(2026, 12, 7));
    const double midnightMs = s.day.startSecs() * 1000;
    auto *recordings = new QStandardItemModel(&s.view);
    recordings->setItemRoleNames({ { Qt::UserRole + 1, "recStartMS" }, { Qt::UserRole + 2, "recDurationMS" } });
    const auto add = [recordings](double startMs, double durationMs) {
        auto *item = new QStandardItem;
        item->setData(startMs, Qt::UserRole + 1);
        item->setData(durationMs, Qt::UserRole + 2);
        recordings->appendRow(item);
    };
    add(midnightMs - 3600000, 7200000); // 23:00 the day before to 01:00
    add(midnightMs + 750 * 60000, 150 * 60000); // 12:30 to 15:00
    QSignalSpy content(&s.view, &TimelineView::contentChanged);
    s.view.setRecordings(recordings);
    QCOMPARE(content.count(), 1);

    // In the start view (about 11:00 to 13:00) only the second is seen, cut at the right edge.
    QVariantList spans = s.view.periodSpans();
    QCOMPARE(spans.size(), 2);
    QVERIFY(std::abs(spans.at(0).toDouble() - s.view.xOfMinute(750)) < 1e-6);
    QVERIFY(std::abs(spans.at(1).toDouble() - Width) < 1e-6);
    // At the day's start the first is shaded from the day's first moment.
    s.view.panBy(1e6);
    spans = s.view.periodSpans();
    QCOMPARE(spans.size(), 2);
    QCOMPARE(spans.at(0).toDouble(), 0.0);
    QVERIFY(std::abs(spans.at(1).toDouble() - s.view.xOfMinute(60)) < 1e-6);
    // A new load is read again.
    recordings->removeRow(0);
    QCOMPARE(content.count(), 2);
    QVERIFY(s.view.periodSpans().isEmpty());
}

void TestTimelineView::marksByKeyAndByMouse()
{
    ScopedTimeZone tz("UTC");
    Setup s(QDate(2026, 12, 7));
    const double at = s.day.startSecs() * 1000;
    // 09:00, 11:30, 12:00 and 20:00; the view shows about 11:00 to 13:00.
    QStandardItemModel *marks = modelWith(
        "markTimeMS", { at + 540 * 60000.0, at + 690 * 60000.0, at + 720 * 60000.0, at + 1200 * 60000.0 }, &s.view);
    s.view.setMarks(marks);
    QCOMPARE(s.view.stepMark(1), 1); // the first in view
    QCOMPARE(s.view.stepMark(1), 2);
    QCOMPARE(s.view.stepMark(1), 3);
    QCOMPARE(s.view.stepMark(1), 3);
    // The mark the keys went to is brought into view.
    QVERIFY(s.view.xOfTime(at + 1200 * 60000.0) > 0 && s.view.xOfTime(at + 1200 * 60000.0) < Width);
    s.view.setFocusedMark(-1);
    s.view.centreOn(720);
    QCOMPARE(s.view.stepMark(-1), 0); // the last before the view's start
    // New marks: the row the keys were on is another receipt, or none.
    QSignalSpy focused(&s.view, &TimelineView::focusedMarkChanged);
    marks->removeRow(0);
    QCOMPARE(s.view.focusedMark(), -1);
    QCOMPARE(focused.count(), 1);
    marks->clear();
    QCOMPARE(s.view.stepMark(1), -1);

    // The group nearest the mouse, within five pixels, in the band of marks only.
    const auto group = [](double x, int row) {
        return QVariant(QVariantMap { { "x", x }, { "row", row }, { "count", 1 } });
    };
    s.view.setMarkGroups({ group(100, 0), group(108, 1), group(300, 2) });
    QCOMPARE(s.view.markGroupAt(105, 5).toMap().value("row").toInt(), 1);
    QCOMPARE(s.view.markGroupAt(103, 5).toMap().value("row").toInt(), 0);
    QVERIFY(!s.view.markGroupAt(200, 5).isValid());
    QVERIFY(!s.view.markGroupAt(300, TimelineView::kMarkBand + 5).isValid());
}

QTEST_GUILESS_MAIN(TestTimelineView)
#include "tst_timelineview.moc"

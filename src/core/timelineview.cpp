#include "core/timelineview.h"

#include "core/dayclock.h"

#include <QAbstractItemModel>

#include <cmath>

namespace {

int roleOf(const QAbstractItemModel *model, const QByteArray &name)
{
    return model ? model->roleNames().key(name, -1) : -1;
}

QVariantMap span(double from, double to)
{
    return { { QStringLiteral("from"), from }, { QStringLiteral("to"), to } };
}

} // namespace

TimelineView::TimelineView(QObject *parent)
    : QObject(parent)
{
}

DayClock *TimelineView::day() const
{
    return m_day;
}

void TimelineView::setDay(DayClock *day)
{
    if (m_day == day)
        return;
    if (m_day)
        m_day->disconnect(this);
    m_day = day;
    if (m_day)
        connect(m_day, &DayClock::dateChanged, this, &TimelineView::onDateChanged);
    emit dayChanged();
    emit viewChanged();
    emit rangeTextChanged();
}

QAbstractItemModel *TimelineView::recordings() const
{
    return m_recordings;
}

void TimelineView::setRecordings(QAbstractItemModel *model)
{
    if (m_recordings == model)
        return;
    follow(m_recordings, model, &TimelineView::readPeriods);
    emit recordingsChanged();
    readPeriods();
}

QAbstractItemModel *TimelineView::marks() const
{
    return m_marks;
}

void TimelineView::setMarks(QAbstractItemModel *model)
{
    if (m_marks == model)
        return;
    // A row the keyboard was on means another receipt, or none, once the rows change.
    follow(m_marks, model, &TimelineView::onMarksReset);
    emit marksChanged();
    onMarksReset();
}

double TimelineView::width() const
{
    return m_width;
}

void TimelineView::setWidth(double width)
{
    if (m_width == width)
        return;
    m_width = width;
    emit viewChanged();
}

double TimelineView::zoomFactor() const
{
    return m_zoom;
}

void TimelineView::setZoomFactor(double zoom)
{
    zoom = qBound(kMinZoom, zoom, kMaxZoom);
    if (m_zoom == zoom)
        return;
    m_zoom = zoom;
    emit viewChanged();
}

double TimelineView::xOffset() const
{
    return m_xOffset;
}

double TimelineView::fullWidth() const
{
    return m_zoom * m_width;
}

double TimelineView::xBegin() const
{
    return (fullWidth() - m_width) / 2 + m_xOffset;
}

int TimelineView::minuteStart() const
{
    if (fullWidth() <= 0)
        return 0;
    return int(std::floor(xBegin() / fullWidth() * dayMinutes()));
}

int TimelineView::minuteEnd() const
{
    if (fullWidth() <= 0)
        return 0;
    return int(std::floor((xBegin() + m_width) / fullWidth() * dayMinutes()));
}

double TimelineView::secondStart() const
{
    return minuteStart() * 60.0;
}

double TimelineView::secondEnd() const
{
    return minuteEnd() * 60.0;
}

int TimelineView::minuteTotal() const
{
    return minuteEnd() - minuteStart();
}

double TimelineView::xPerMinute() const
{
    // A view too narrow for a minute (or no day yet) shows nothing rather than infinities.
    const int total = minuteTotal();
    return total > 0 ? m_width / total : 0;
}

double TimelineView::xPerSec() const
{
    return xPerMinute() / 60;
}

double TimelineView::viewStartMs() const
{
    return (dayStartSecs() + secondStart()) * 1000;
}

double TimelineView::msPerPixel() const
{
    const double perSec = xPerSec();
    return perSec > 0 ? 1000 / perSec : 0;
}

int TimelineView::selectMinuteStart() const
{
    return m_selectStart;
}

int TimelineView::selectMinuteEnd() const
{
    return m_selectEnd;
}

QString TimelineView::rangeText() const
{
    if (m_selectStart < 0)
        return QString();
    return QStringLiteral("%1 - %2").arg(clockText(m_selectStart), clockText(m_selectEnd));
}

int TimelineView::focusedMark() const
{
    return m_focusedMark;
}

void TimelineView::setFocusedMark(int row)
{
    if (m_focusedMark == row)
        return;
    m_focusedMark = row;
    emit focusedMarkChanged();
}

QVariantList TimelineView::markGroups() const
{
    return m_markGroups;
}

void TimelineView::setMarkGroups(const QVariantList &groups)
{
    if (m_markGroups == groups)
        return;
    m_markGroups = groups;
    emit markGroupsChanged();
}

double TimelineView::markBand() const
{
    return kMarkBand;
}

int TimelineView::minuteAt(double x) const
{
    const double perMinute = xPerMinute();
    const double m = perMinute > 0 ? std::floor(x / perMinute + minuteStart()) : minuteStart();
    return int(qBound(0.0, m, double(dayMinutes())));
}

double TimelineView::xOfMinute(double m) const
{
    return (m - minuteStart()) * xPerMinute();
}

double TimelineView::xOfTime(double ms) const
{
    return xOfMinute((ms / 1000 - dayStartSecs()) / 60);
}

void TimelineView::zoomBy(double step)
{
    setZoomFactor(m_zoom + step);
}

void TimelineView::zoomByWheel(double angleX, double angleY)
{
    zoomBy((angleX != 0 ? angleX : angleY) * kZoomPerWheelUnit);
}

void TimelineView::zoomByKey(bool in)
{
    zoomBy((in ? 120 : -120) * kZoomPerWheelUnit);
    if (m_selectEnd >= 0)
        ensureVisible(m_selectEnd);
}

void TimelineView::panBy(double dx)
{
    setXOffset(m_xOffset - dx);
}

void TimelineView::ensureVisible(double m)
{
    const double x = xOfMinute(m);
    const double margin = 2 * xPerMinute();
    double shift = 0;
    if (x < margin)
        shift = x - margin;
    else if (x > m_width - margin)
        shift = x - m_width + margin;
    setXOffset(m_xOffset + shift);
}

void TimelineView::centreOn(double m)
{
    if (dayMinutes() == 0)
        return;
    setXOffset(m / dayMinutes() * fullWidth() - panLimit() - m_width / 2);
}

void TimelineView::select(int start, int end)
{
    if (!m_day)
        return;
    start = qBound(0, start, dayMinutes());
    end = qMax(start, qBound(0, end, dayMinutes()));
    m_selectStartClock = m_day->timeText(start);
    m_selectEndClock = m_day->timeText(end);
    if (start == m_selectStart && end == m_selectEnd)
        return;
    m_selectStart = start;
    m_selectEnd = end;
    emit selectionChanged();
    emit rangeTextChanged();
}

void TimelineView::selectAt(double x)
{
    const int m = minuteAt(x);
    select(m, m);
}

void TimelineView::extendTo(double x)
{
    select(m_selectStart, minuteAt(x));
}

void TimelineView::stepSelection(int minutes, bool start)
{
    int from = m_selectStart;
    int to = m_selectEnd;
    if (from < 0) {
        from = qBound(0, int(std::floor((minuteStart() + minuteEnd()) / 2.0)), dayMinutes());
        to = from;
    }
    if (start) {
        from = qBound(0, from + minutes, dayMinutes());
        select(from, qMax(from, to));
        ensureVisible(from);
    } else {
        select(from, qMax(from, to + minutes));
        ensureVisible(m_selectEnd);
    }
}

void TimelineView::selectAround(double atSecs, double halfWindowSecs)
{
    select(int(std::floor((atSecs - halfWindowSecs) / 60)), int(std::ceil((atSecs + halfWindowSecs) / 60)));
    centreOn(atSecs / 60);
}

QVariant TimelineView::selectionSpan() const
{
    if (m_selectStart < 0 || m_selectEnd < 0)
        return QVariant();
    return span(xOfMinute(m_selectStart), xOfMinute(m_selectEnd));
}

QVariantMap TimelineView::periodSpan(double startMs, double durationMs) const
{
    // Whole seconds, as the recording covers them: its first full second to its last.
    const double start = std::ceil(startMs / 1000);
    const double duration = std::floor(durationMs / 1000);
    const double midnight = dayStartSecs();
    const double startSince = qMax(start - midnight, 0.0);
    const double endSince = qMax(start + duration - midnight, 0.0);
    const double drawStart = qMax(startSince, secondStart()) - secondStart();
    const double drawEnd = qMin(qMax(endSince, secondStart()), secondEnd()) - secondStart();
    return span(drawStart * xPerSec(), drawEnd * xPerSec());
}

QVariantList TimelineView::periodSpans() const
{
    QVariantList spans;
    for (const auto &period : m_periods) {
        const QVariantMap at = periodSpan(period.first, period.second);
        const double from = at.value(QStringLiteral("from")).toDouble();
        const double to = at.value(QStringLiteral("to")).toDouble();
        if (to > from)
            spans << from << to;
    }
    return spans;
}

QVariantList TimelineView::ticks() const
{
    QVariantList ticks;
    if (!m_day)
        return ticks;
    const int last = qMin(minuteEnd(), dayMinutes());
    for (int m = qMax(minuteStart(), 0); m < last; ++m) {
        const int clock = m_day->clockMinute(m);
        ticks << xOfMinute(m) << (clock % 10 == 0 ? 30 : clock % 5 == 0 ? 25 : 20);
    }
    return ticks;
}

QVariantList TimelineView::tickLabels() const
{
    QVariantList labels;
    if (!m_day)
        return labels;
    const int last = qMin(minuteEnd(), dayMinutes());
    for (int m = qMax(minuteStart(), 0); m < last; ++m) {
        if (m_day->clockMinute(m) % 10 == 0)
            labels << xOfMinute(m) << clockText(m);
    }
    return labels;
}

QVariant TimelineView::markGroupAt(double x, double y) const
{
    if (y > kMarkBand + 4)
        return QVariant();
    QVariant best;
    double bestDistance = 0;
    for (const QVariant &group : m_markGroups) {
        const double distance = std::abs(group.toMap().value(QStringLiteral("x")).toDouble() - x);
        if (distance <= 5 && (!best.isValid() || distance < bestDistance)) {
            best = group;
            bestDistance = distance;
        }
    }
    return best;
}

int TimelineView::stepMark(int step)
{
    const int count = m_marks ? m_marks->rowCount() : 0;
    if (count == 0)
        return -1;
    const int timeRole = roleOf(m_marks, "markTimeMS");
    const auto timeMs = [&](int row) { return m_marks->index(row, 0).data(timeRole).toDouble(); };
    int row = m_focusedMark;
    if (row < 0 || row >= count) {
        const double viewStart = viewStartMs();
        row = step > 0 ? 0 : count - 1;
        for (int i = 0; i < count; ++i) {
            if (timeMs(i) >= viewStart) {
                row = step > 0 ? i : qMax(i - 1, 0);
                break;
            }
        }
    } else {
        row = qBound(0, row + step, count - 1);
    }
    setFocusedMark(row);
    ensureVisible((timeMs(row) / 1000 - dayStartSecs()) / 60);
    return row;
}

QString TimelineView::clockText(int m) const
{
    const int clock = m_day ? m_day->clockMinute(m) : -1;
    if (clock < 0)
        return QString();
    return QStringLiteral("%1:%2").arg(clock / 60).arg(clock % 60);
}

int TimelineView::dayMinutes() const
{
    return m_day ? m_day->minutes() : 0;
}

double TimelineView::dayStartSecs() const
{
    return m_day ? m_day->startSecs() : 0;
}

void TimelineView::follow(
    QPointer<QAbstractItemModel> &member, QAbstractItemModel *model, void (TimelineView::*changed)())
{
    if (member)
        member->disconnect(this);
    member = model;
    if (!model)
        return;
    connect(model, &QAbstractItemModel::modelReset, this, changed);
    connect(model, &QAbstractItemModel::rowsInserted, this, changed);
    connect(model, &QAbstractItemModel::rowsRemoved, this, changed);
    connect(model, &QAbstractItemModel::dataChanged, this, changed);
}

double TimelineView::panLimit() const
{
    return (fullWidth() - m_width) / 2;
}

void TimelineView::setXOffset(double offset)
{
    offset = qBound(-panLimit(), offset, panLimit());
    if (m_xOffset == offset)
        return;
    m_xOffset = offset;
    emit viewChanged();
}

void TimelineView::onDateChanged()
{
    // The selection keeps its wall-clock times where the new day has them, its minutes where it has not.
    if (m_selectStart >= 0) {
        const int start = m_day->minuteAt(m_selectStartClock);
        const int end = m_day->minuteAt(m_selectEndClock);
        select(start < 0 ? m_selectStart : start, end < 0 ? m_selectEnd : end);
    }
    emit viewChanged();
    emit rangeTextChanged();
}

void TimelineView::readPeriods()
{
    m_periods.clear();
    const int startRole = roleOf(m_recordings, "recStartMS");
    const int durationRole = roleOf(m_recordings, "recDurationMS");
    const int count = m_recordings ? m_recordings->rowCount() : 0;
    m_periods.reserve(count);
    for (int row = 0; row < count; ++row) {
        const QModelIndex index = m_recordings->index(row, 0);
        m_periods.append({ index.data(startRole).toDouble(), index.data(durationRole).toDouble() });
    }
    emit contentChanged();
}

void TimelineView::onMarksReset()
{
    setFocusedMark(-1);
    emit contentChanged();
}

#pragma once
// Whole, not declared: moc then makes the models' pointer type known to QML with the properties, which a
// first page would otherwise meet as an unknown property type.
#include <QAbstractItemModel>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QVariantList>
#include <QVector>

class DayClock;

/// What the timeline shows and where: the stretch of the day in view at the zoom and pan chosen, the
/// minutes selected, and where the ticks, the recorded periods and the receipt marks lie in pixels.
/// The timeline component draws what this works out and hands it the mouse and the keys.
///
/// The whole day is zoomFactor times as wide as the view and lies centred on it, moved by xOffset
/// pixels; minute m of the day (see DayClock) lies at x = (m - minuteStart) * xPerMinute. The
/// selection runs from the start of minute selectMinuteStart to the start of selectMinuteEnd.
class TimelineView : public QObject
{
    Q_OBJECT
    Q_PROPERTY(DayClock *day READ day WRITE setDay NOTIFY dayChanged)
    /// The recorded periods: a list model with the roles "recStartMS" and "recDurationMS".
    Q_PROPERTY(QAbstractItemModel *recordings READ recordings WRITE setRecordings NOTIFY recordingsChanged)
    /// The receipts: a list model with the role "markTimeMS", oldest first.
    Q_PROPERTY(QAbstractItemModel *marks READ marks WRITE setMarks NOTIFY marksChanged)
    Q_PROPERTY(double width READ width WRITE setWidth NOTIFY viewChanged)
    /// 10 to 40: how many times the width of the view the whole day is.
    Q_PROPERTY(double zoomFactor READ zoomFactor WRITE setZoomFactor NOTIFY viewChanged)
    Q_PROPERTY(double xOffset READ xOffset NOTIFY viewChanged)
    Q_PROPERTY(double fullWidth READ fullWidth NOTIFY viewChanged)
    /// The pixel of the whole day at the view's left edge.
    Q_PROPERTY(double xBegin READ xBegin NOTIFY viewChanged)
    Q_PROPERTY(int minuteStart READ minuteStart NOTIFY viewChanged)
    Q_PROPERTY(int minuteEnd READ minuteEnd NOTIFY viewChanged)
    Q_PROPERTY(double secondStart READ secondStart NOTIFY viewChanged)
    Q_PROPERTY(double secondEnd READ secondEnd NOTIFY viewChanged)
    Q_PROPERTY(int minuteTotal READ minuteTotal NOTIFY viewChanged)
    Q_PROPERTY(double xPerMinute READ xPerMinute NOTIFY viewChanged)
    Q_PROPERTY(double xPerSec READ xPerSec NOTIFY viewChanged)
    /// The instant at the view's left edge and the time a pixel spans, in milliseconds.
    Q_PROPERTY(double viewStartMs READ viewStartMs NOTIFY viewChanged)
    Q_PROPERTY(double msPerPixel READ msPerPixel NOTIFY viewChanged)
    /// -1 while nothing is selected.
    Q_PROPERTY(int selectMinuteStart READ selectMinuteStart NOTIFY selectionChanged)
    Q_PROPERTY(int selectMinuteEnd READ selectMinuteEnd NOTIFY selectionChanged)
    /// "H:M - H:M", the selection's ends on the wall clock, unpadded; empty while nothing is selected.
    Q_PROPERTY(QString rangeText READ rangeText NOTIFY rangeTextChanged)
    /// The receipt mark the keyboard is on (a row of marks); -1 for none.
    Q_PROPERTY(int focusedMark READ focusedMark WRITE setFocusedMark NOTIFY focusedMarkChanged)
    /// The marks as last drawn, grouped where they lie too close to tell apart: maps with "x", "row"
    /// (the first receipt's) and "count".
    Q_PROPERTY(QVariantList markGroups READ markGroups WRITE setMarkGroups NOTIFY markGroupsChanged)
    /// The height of the band at the top where the marks stand.
    Q_PROPERTY(double markBand READ markBand CONSTANT)
public:
    static constexpr double kMinZoom = 10;
    static constexpr double kMaxZoom = 40;
    static constexpr double kStartZoom = 12;
    /// Zoom per unit of a wheel's angle delta: a notch of 120 zooms by 0.96.
    static constexpr double kZoomPerWheelUnit = 0.008;
    static constexpr double kMarkBand = 16;

    explicit TimelineView(QObject *parent = nullptr);

    DayClock *day() const;
    void setDay(DayClock *day);
    QAbstractItemModel *recordings() const;
    void setRecordings(QAbstractItemModel *model);
    QAbstractItemModel *marks() const;
    void setMarks(QAbstractItemModel *model);
    double width() const;
    void setWidth(double width);
    double zoomFactor() const;
    /// Kept within kMinZoom to kMaxZoom. The offset stays as it is, even where it now pans past the day's
    /// ends: it is kept within them again at the next pan.
    void setZoomFactor(double zoom);
    double xOffset() const;
    double fullWidth() const;
    double xBegin() const;
    int minuteStart() const;
    int minuteEnd() const;
    double secondStart() const;
    double secondEnd() const;
    int minuteTotal() const;
    double xPerMinute() const;
    double xPerSec() const;
    double viewStartMs() const;
    double msPerPixel() const;
    int selectMinuteStart() const;
    int selectMinuteEnd() const;
    QString rangeText() const;
    int focusedMark() const;
    void setFocusedMark(int row);
    QVariantList markGroups() const;
    void setMarkGroups(const QVariantList &groups);
    double markBand() const;

    /// The minute under x, kept within the day.
    Q_INVOKABLE int minuteAt(double x) const;
    /// Where minute m (a fraction allowed) lies, in pixels from the view's left edge.
    Q_INVOKABLE double xOfMinute(double m) const;
    /// Where an instant (milliseconds since the epoch) lies.
    Q_INVOKABLE double xOfTime(double ms) const;

    Q_INVOKABLE void zoomBy(double step);
    /// A turn of the wheel: its horizontal angle delta, or the vertical one where there is none.
    Q_INVOKABLE void zoomByWheel(double angleX, double angleY);
    /// "+" or "-": a notch of the wheel, keeping the selection's end in view.
    Q_INVOKABLE void zoomByKey(bool in);
    /// A drag by dx pixels with the right button: the day follows the mouse as far as its ends reach
    /// the view's edges.
    Q_INVOKABLE void panBy(double dx);
    /// Pans as little as needed to bring minute m into view, with two minutes to spare.
    Q_INVOKABLE void ensureVisible(double m);
    /// Pans so that minute m (a fraction allowed) lies in the middle of the view, or as near it as the
    /// day's ends let the view go.
    Q_INVOKABLE void centreOn(double m);

    /// Selects from minute start to minute end, both kept within the day; an end before the start
    /// makes a one-minute selection.
    Q_INVOKABLE void select(int start, int end);
    /// A press at x: the selection starts again at the minute there.
    Q_INVOKABLE void selectAt(double x);
    /// A drag to x: the selection's end follows, never before its start.
    Q_INVOKABLE void extendTo(double x);
    /// An arrow key: moves the end by minutes, or with Shift the start; with nothing selected yet, both
    /// start at the middle of the view. Keeps what moved in view.
    Q_INVOKABLE void stepSelection(int minutes, bool start);
    /// Selects the whole minutes that cover halfWindowSecs either side of the instant atSecs seconds
    /// after the day's first moment, and centres the view on it.
    Q_INVOKABLE void selectAround(double atSecs, double halfWindowSecs);

    /// The selection in pixels, a map with "from" and "to"; null while nothing is selected.
    Q_INVOKABLE QVariant selectionSpan() const;
    /// Where a recorded period lies in pixels, a map with "from" and "to": cut at the day's start and at
    /// both edges of the view, so that one out of view has from equal to to.
    Q_INVOKABLE QVariantMap periodSpan(double startMs, double durationMs) const;
    /// The recorded periods in view, [from, to, from, to, ...] in pixels.
    Q_INVOKABLE QVariantList periodSpans() const;
    /// A tick for each minute of the day in view, [x, length, ...]: longer every five minutes and
    /// longer still every ten, by the wall clock.
    Q_INVOKABLE QVariantList ticks() const;
    /// The labels of the ten-minute ticks in view, [x, "H:M", ...].
    Q_INVOKABLE QVariantList tickLabels() const;
    /// The mark group within five pixels of x in the band of marks, the nearest; null where there is none.
    Q_INVOKABLE QVariant markGroupAt(double x, double y) const;
    /// Page Down (step 1) or Page Up (-1): the keyboard goes to the next or previous receipt mark, or,
    /// from none, to the first one in view (the last before it going back), which is brought into view.
    /// The row of the mark; -1 when there are no marks.
    Q_INVOKABLE int stepMark(int step);

    /// "H:M" of the wall clock at minute m, unpadded.
    QString clockText(int m) const;

signals:
    void dayChanged();
    void recordingsChanged();
    void marksChanged();
    void viewChanged();
    void selectionChanged();
    void rangeTextChanged();
    void focusedMarkChanged();
    void markGroupsChanged();
    /// The recorded periods or the marks are new.
    void contentChanged();

private:
    int dayMinutes() const;
    double dayStartSecs() const;
    /// Half the width by which the whole day exceeds the view: how far it pans either way.
    double panLimit() const;
    void setXOffset(double offset);
    /// Keeps member on model, calling changed whenever its rows change.
    void follow(QPointer<QAbstractItemModel> &member, QAbstractItemModel *model, void (TimelineView::*changed)());
    void onDateChanged();
    void readPeriods();
    void onMarksReset();

    QPointer<DayClock> m_day;
    QPointer<QAbstractItemModel> m_recordings;
    QPointer<QAbstractItemModel> m_marks;
    double m_width = 0;
    double m_zoom = kStartZoom;
    double m_xOffset = 0;
    int m_selectStart = -1;
    int m_selectEnd = -1;
    /// The selection's ends as the wall clock showed them: a new day keeps those times where it has them.
    QString m_selectStartClock;
    QString m_selectEndClock;
    int m_focusedMark = -1;
    QVariantList m_markGroups;
    /// Start and duration of each recorded period in milliseconds, read once per load rather than once
    /// per repaint.
    QVector<QPair<double, double>> m_periods;
};

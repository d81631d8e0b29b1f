import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// A camera's recordings of one day on a zoomable timeline; a range of minutes marked on it (with the
// mouse, the time fields or the arrow keys) is downloaded into a file the operator picks.
Page {
    id: page
    padding: 10
    title: qsTr("Recordings") + I18n.localeNotify

    // Why there are no cameras: the server time or the camera list failed. "Retry" asks again.
    property string loadError: ""
    property bool timeKnown: false
    property bool waitingForTime: false

    // A receipt mark was chosen: the receipt (a row of receiptMarks) and the camera it was seen by.
    signal receiptChosen(var receipt, string streamId)

    function showError(message) {
        popMessage.message = message
        popMessage.open()
    }

    function selectedStreamId() {
        return StreamsList.get(lstStreams.currentIndex).strmId
    }

    function clockText(m) {
        var clock = day.clockMinute(m)
        return "%1:%2".arg(canvas.getHour(clock)).arg(canvas.getMinute(clock))
    }

    // The range label and the time fields follow the selection, whoever made it.
    function updateRangeLabel() {
        lblRange.text = "%1 - %2".arg(clockText(canvas.selectMinuteStart)).arg(clockText(canvas.selectMinuteEnd))
        txtStart.show()
        txtEnd.show()
    }

    function select(start, end) {
        canvas.selectMinuteStart = day.clamp(start)
        canvas.selectMinuteEnd = Math.max(canvas.selectMinuteStart, day.clamp(end))
        updateRangeLabel()
        canvas.requestPaint()
    }

    function fetchTime() {
        loadError = ""
        waitingForTime = true
        apiCall.fetchTimezone()
    }

    function retry() {
        if (timeKnown) {
            loadError = ""
            StreamsList.loadStreams()
        } else {
            fetchTime()
        }
    }

    function loadDay() {
        if (lstStreams.currentIndex < 0)
            return
        recordingsList.loadRecordingsOfDay(selectedStreamId(), datePicker.selectedDate)
        canvas.focusedMark = -1
        receiptMarks.loadDay(selectedStreamId(), datePicker.selectedDate)
    }

    // The receipt's time and first lines, as the mark's tooltip and the screen reader give them.
    function markText(row) {
        var mark = receiptMarks.get(row)
        var lines = String(mark.markPreview).split("\n").map(function (line) { return line.replace(/\s+$/, "") })
        return "%1\n%2".arg(Utils.formatDateTime(mark.markCreatedAt)).arg(lines.join("\n"))
    }

    // Arrows move the end by a minute (ten with Ctrl), Shift+arrows the start; a first arrow with
    // nothing selected starts at the middle of the view; "+" and "-" zoom.
    function timelineKey(event) {
        if (event.key === Qt.Key_Plus || event.key === Qt.Key_Equal || event.key === Qt.Key_Minus) {
            canvas.zoomBy(event.key === Qt.Key_Minus ? -0.96 : 0.96)
            // The keys keep what they work on in view.
            if (canvas.selectMinuteEnd >= 0)
                canvas.ensureVisible(canvas.selectMinuteEnd)
        } else if (event.key === Qt.Key_Left || event.key === Qt.Key_Right) {
            var step = (event.key === Qt.Key_Left ? -1 : 1) * (event.modifiers & Qt.ControlModifier ? 10 : 1)
            var start = canvas.selectMinuteStart
            var end = canvas.selectMinuteEnd
            if (start < 0)
                start = end = day.clamp(Math.floor((canvas.minuteStart + canvas.minuteEnd) / 2))
            if (event.modifiers & Qt.ShiftModifier) {
                start = day.clamp(start + step)
                select(start, Math.max(start, end))
                canvas.ensureVisible(start)
            } else {
                select(start, Math.max(start, end + step))
                canvas.ensureVisible(canvas.selectMinuteEnd)
            }
        } else {
            return
        }
        event.accepted = true
    }

    function chooseMark(row) {
        page.receiptChosen(receiptMarks.get(row), selectedStreamId())
    }

    // Shows the receipt on this page's timeline: its camera, its day, the view centred on it and the
    // whole minutes of the three minutes around it selected.
    function showReceipt(streamId, createdAt) {
        var row = StreamsList.indexOf(streamId)
        if (row < 0) {
            showError(qsTr("The camera of this receipt is not among the video server's cameras.") + I18n.localeNotify)
            return false
        }
        var when = new Date(createdAt)
        // Each of the two loads the day when it changes something.
        datePicker.setDay(when)
        lstStreams.currentIndex = row
        lstStreams.positionViewAtIndex(row, ListView.Contain)
        var atSecs = when.getTime() / 1000 - day.startSecs
        select(Math.floor((atSecs - 90) / 60), Math.ceil((atSecs + 90) / 60))
        canvas.centreOn(atSecs / 60)
        mouseArea.forceActiveFocus()
        return true
    }

    // The save dialog opens on "download.mkv" in the working directory, so that Return keeps the
    // program's usual file; the dialog itself asks before an existing file is overwritten.
    function askAndDownload() {
        var id = selectedStreamId()
        var start = day.startSecs + canvas.selectMinuteStart * 60
        var duration = (canvas.selectMinuteEnd - canvas.selectMinuteStart) * 60
        saveFileDialog.okCallback = function (url) {
            apiCall.download(id, start, duration, Utils.localFilePath(url))
        }
        saveFileDialog.cancelCallback = function () { }
        saveFileDialog.defaultSuffix = "mkv"
        saveFileDialog.openOn(Utils.workingFileUrl("download.mkv"))
    }

    Component.onCompleted: {
        // Work starts at the camera list: the arrow keys pick a camera at once.
        lstStreams.forceActiveFocus()
        fetchTime()
    }

    ApiCall {
        id: apiCall
        objectName: "apiCall"

        function formatSize(val) {
            if (val === -1)
                return "N/A"
            return "%1MB".arg((val / (1024 * 1024)).toFixed(2))
        }

        onTimezoneReceived: {
            page.waitingForTime = false
            page.timeKnown = true
            StreamsList.loadStreams()
        }
        onErrorOccured: {
            if (page.waitingForTime) {
                page.waitingForTime = false
                page.loadError = message
            } else {
                page.showError(message)
            }
        }
        onDownloadProgress: txtDownload.text = "%1/%2".arg(formatSize(downloaded)).arg(formatSize(total))
        onDownloadComplete: {
            popDownloaded.path = filepath
            popDownloaded.open()
        }
        onDownloadCancelled: page.showError(
                                 qsTr("The download was cancelled and the unfinished file \"%1\" removed.")
                                 .arg(filepath) + I18n.localeNotify)
    }

    RecordingsList {
        id: recordingsList
        objectName: "recordingsList"
        onErrorOccured: page.showError(message)
        onLoadingFinished: canvas.requestPaint()
    }

    // The receipts of the chosen camera's day, marked on the timeline above the recordings.
    ReceiptMarks {
        id: receiptMarks
        objectName: "receiptMarks"
        onModelReset: canvas.requestPaint()
    }

    // The day on the timeline; a change of day keeps the selection's wall-clock times where that day
    // has them.
    DayClock {
        id: day
        objectName: "dayClock"
        date: datePicker.selectedDate
        onDateChanged: {
            if (canvas.selectMinuteStart < 0)
                return
            var start = day.minuteAt(txtStart.text)
            var end = day.minuteAt(txtEnd.text)
            page.select(start < 0 ? canvas.selectMinuteStart : start, end < 0 ? canvas.selectMinuteEnd : end)
        }
    }

    Connections {
        target: recordingsList
        function onModelReset() {
            var rows = []
            for (var i = 0; i < recordingsList.count; ++i) {
                var item = recordingsList.get(i)
                rows.push(item.recStartMS, item.recDurationMS)
            }
            canvas.periods = rows
        }
    }

    Connections {
        target: StreamsList
        function onErrorOccured(message) {
            page.loadError = message
        }
    }

    SplitView {
        anchors.fill: parent
        orientation: Qt.Vertical

        ColumnLayout {
            SplitView.fillHeight: true

            Label {
                objectName: "lblStreams"
                text: qsTr("List of streams") + I18n.localeNotify
                font.bold: true
            }

            RowLayout {
                objectName: "loadErrorRow"
                Layout.fillWidth: true
                visible: page.loadError !== ""
                Label {
                    objectName: "lblLoadError"
                    Layout.fillWidth: true
                    color: "red"
                    wrapMode: Text.Wrap
                    text: page.loadError
                }
                Button {
                    objectName: "btnRetry"
                    text: qsTr("Retry") + I18n.localeNotify
                    onClicked: page.retry()
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                border.width: lstStreams.activeFocus ? 2 : 1
                border.color: lstStreams.activeFocus ? palette.highlight : "grey"

                ListView {
                    id: lstStreams
                    objectName: "lstStreams"
                    anchors.fill: parent
                    anchors.margins: 2
                    clip: true
                    currentIndex: -1
                    model: StreamsList
                    focus: true
                    activeFocusOnTab: true
                    keyNavigationEnabled: true
                    Accessible.role: Accessible.List
                    Accessible.name: qsTr("Cameras") + I18n.localeNotify
                    ScrollBar.vertical: ScrollBar {
                        Accessible.name: qsTr("Scroll the cameras") + I18n.localeNotify
                    }
                    // However the row became current (a click, the arrow keys), its day is loaded.
                    onCurrentIndexChanged: page.loadDay()

                    delegate: ItemDelegate {
                        width: ListView.view.width
                        text: model.strmName
                        highlighted: ListView.isCurrentItem
                        // The list takes Tab once; the arrow keys move between its rows.
                        focusPolicy: Qt.NoFocus
                        Accessible.focusable: true
                        onClicked: {
                            lstStreams.forceActiveFocus()
                            if (lstStreams.currentIndex === index)
                                page.loadDay()
                            else
                                lstStreams.currentIndex = index
                        }
                    }
                }
            }
        }

        ColumnLayout {
            objectName: "timelinePane"
            SplitView.minimumHeight: 150
            SplitView.preferredHeight: 260
            visible: lstStreams.currentIndex >= 0

            Item {
                Layout.preferredHeight: 6
            }

            RowLayout {
                Label {
                    text: qsTr("Date:") + I18n.localeNotify
                    font.bold: true
                }
                DatePicker {
                    id: datePicker
                    objectName: "datePicker"
                    onSelectedDateChanged: page.loadDay()
                }
                Label {
                    text: qsTr("From") + I18n.localeNotify
                }
                TimeField {
                    id: txtStart
                    objectName: "txtStart"
                    day: day
                    minute: canvas.selectMinuteStart
                    Accessible.name: qsTr("Selection start") + I18n.localeNotify
                    onTimeEntered: page.select(entered, canvas.selectMinuteStart < 0 ? entered
                                                                                      : canvas.selectMinuteEnd)
                }
                Label {
                    text: qsTr("to") + I18n.localeNotify
                }
                TimeField {
                    id: txtEnd
                    objectName: "txtEnd"
                    day: day
                    minute: canvas.selectMinuteEnd
                    Accessible.name: qsTr("Selection end") + I18n.localeNotify
                    onTimeEntered: page.select(canvas.selectMinuteStart < 0 ? entered : canvas.selectMinuteStart,
                                               entered)
                }
                Button {
                    objectName: "btnDownload"
                    text: qsTr("Download") + I18n.localeNotify
                    // Follows the time fields as they are typed: Tab from the end field must find it.
                    enabled: txtStart.typedMinute >= 0 && txtEnd.typedMinute > txtStart.typedMinute
                    onClicked: page.askAndDownload()
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                border.width: mouseArea.activeFocus ? 2 : 1
                border.color: mouseArea.activeFocus ? palette.highlight : "grey"

                Canvas {
                    id: canvas
                    objectName: "canvas"
                    anchors.fill: parent
                    anchors.margins: 2

                    // Minute m is m minutes after the day's first moment: the timeline is as long as the
                    // day really is, and each minute is labelled by the wall clock.
                    property real zoomFactor: 12
                    property real fullWidth: zoomFactor * width
                    property real xOffset: 0
                    property real xBegin: (fullWidth - width) / 2 + xOffset
                    property real xEnd: xBegin + width
                    property real minuteStart: Math.floor(xBegin / fullWidth * day.minutes)
                    property real secondStart: minuteStart * 60
                    property real minuteEnd: Math.floor(xEnd / fullWidth * day.minutes)
                    property real secondEnd: minuteEnd * 60
                    property real minuteTotal: minuteEnd - minuteStart
                    property real xPerMinute: width / minuteTotal
                    property real xPerSec: xPerMinute / 60
                    property int selectMinuteStart: -1
                    property int selectMinuteEnd: -1
                    // The rows of recordingsList as start and duration pairs in milliseconds, read once
                    // per load rather than once per repaint.
                    property var periods: []
                    // The receipt marks as last drawn, grouped where they lie too close to tell apart:
                    // maps with "x", "row" (the first receipt's) and "count".
                    property var markGroups: []
                    // The receipt mark the keyboard is on (a row of receiptMarks), -1 for none.
                    property int focusedMark: -1
                    readonly property real markBand: 16

                    function getHour(min) {
                        return Math.floor(min / 60)
                    }

                    function getMinute(min) {
                        return min % 60
                    }

                    function tickLength(clock) {
                        if (clock % 10 === 0)
                            return 30
                        return clock % 5 === 0 ? 25 : 20
                    }

                    // Where a recorded period lies on the canvas, in pixels from the left edge: cut at
                    // the day's start and at both edges of the view.
                    function periodSpan(recStartMS, recDurationMS, midnight) {
                        var recStart = Math.ceil(recStartMS / 1000)
                        var duration = Math.floor(recDurationMS / 1000)
                        var startSince = Math.max(recStart - midnight, 0)
                        var endSince = Math.max(recStart + duration - midnight, 0)
                        var drawStart = Math.max(startSince, secondStart) - secondStart
                        var drawEnd = Math.min(Math.max(endSince, secondStart), secondEnd) - secondStart
                        return { from: drawStart * xPerSec, to: drawEnd * xPerSec }
                    }

                    // The shaded selection, or null when there is none.
                    function selectionSpan() {
                        if (selectMinuteStart < 0 || selectMinuteEnd < 0)
                            return null
                        return { from: (selectMinuteStart - minuteStart) * xPerMinute,
                                 to: (selectMinuteEnd - minuteStart) * xPerMinute }
                    }

                    // Pans as little as needed to bring minute m into view.
                    function ensureVisible(m) {
                        var x = (m - minuteStart) * xPerMinute
                        var margin = 2 * xPerMinute
                        var shift = x < margin ? x - margin : (x > width - margin ? x - width + margin : 0)
                        var canvasPadding = (fullWidth - width) / 2
                        xOffset = Math.max(-canvasPadding, Math.min(canvasPadding, xOffset + shift))
                    }

                    // Pans so that minute m (a fraction allowed) lies in the middle of the view.
                    function centreOn(m) {
                        var canvasPadding = (fullWidth - width) / 2
                        var x = m / day.minutes * fullWidth - canvasPadding - width / 2
                        xOffset = Math.max(-canvasPadding, Math.min(canvasPadding, x))
                        requestPaint()
                    }

                    // The mark group under x on the band of marks at the top, or null.
                    function markGroupAt(x, y) {
                        if (y > markBand + 4)
                            return null
                        var best = null
                        for (var i = 0; i < markGroups.length; ++i) {
                            var distance = Math.abs(markGroups[i].x - x)
                            if (distance <= 5 && (best === null || distance < Math.abs(best.x - x)))
                                best = markGroups[i]
                        }
                        return best
                    }

                    function zoomBy(step) {
                        zoomFactor = Math.min(Math.max(zoomFactor + step, 10), 40)
                        requestPaint()
                    }

                    function paintTicks(ctx) {
                        ctx.strokeStyle = "rgb(90, 90, 90)"
                        ctx.lineWidth = 1
                        var first = Math.max(minuteStart, 0)
                        var last = Math.min(minuteEnd, day.minutes)
                        var labels = []
                        // One path for all ticks: a stroke per tick costs more than the rest of the repaint.
                        ctx.beginPath()
                        for (var m = first; m < last; ++m) {
                            var clock = day.clockMinute(m)
                            var x = (m - minuteStart) * xPerMinute
                            ctx.moveTo(x, height)
                            ctx.lineTo(x, height - tickLength(clock))
                            if (clock % 10 === 0)
                                labels.push(x, clock)
                        }
                        ctx.stroke()
                        for (var i = 0; i < labels.length; i += 2)
                            ctx.fillText("%1:%2".arg(getHour(labels[i + 1])).arg(getMinute(labels[i + 1])),
                                         labels[i], height - 45)
                    }

                    function paintRecordings(ctx) {
                        ctx.fillStyle = "rgba(0, 255, 0, 0.1)"
                        var count = periods.length
                        for (var i = 0; i < count; i += 2) {
                            var span = periodSpan(periods[i], periods[i + 1], day.startSecs)
                            if (span.to > span.from)
                                ctx.fillRect(span.from, 0, span.to - span.from, height)
                        }
                    }

                    function paintSelection(ctx) {
                        ctx.fillStyle = "rgba(0, 0, 0, 0.4)"
                        var span = selectionSpan()
                        if (span)
                            ctx.fillRect(span.from, 0, span.to - span.from, height)
                    }

                    // Each receipt as a mark at the top, over the recordings; marks a few pixels apart are one
                    // mark with their count.
                    function paintMarks(ctx) {
                        var viewStartMs = (day.startSecs + secondStart) * 1000
                        var groups = receiptMarks.count > 0
                                ? receiptMarks.clusters(viewStartMs, 1000 / xPerSec, width, 6) : []
                        markGroups = groups
                        var band = markBand
                        ctx.fillStyle = "rgb(230, 120, 0)"
                        // Rectangles on whole pixels: an antialiased path of a few hundred marks costs more
                        // than the rest of the repaint.
                        var i
                        for (i = 0; i < groups.length; ++i) {
                            var x = Math.round(groups[i].x)
                            ctx.fillRect(x - 3, 0, 7, 5)
                            ctx.fillRect(x - 1, 0, 3, band)
                        }
                        ctx.fillStyle = "rgb(0, 0, 0)"
                        ctx.textAlign = "left"
                        // A count only where it has room before the next mark: packed marks would smear
                        // their numbers into each other, and every text costs more than the marks.
                        for (i = 0; i < groups.length; ++i) {
                            var room = (i + 1 < groups.length ? groups[i + 1].x : width) - groups[i].x
                            var label = String(groups[i].count)
                            if (groups[i].count > 1 && room >= 8 + 7 * label.length)
                                ctx.fillText(label, groups[i].x + 5, band - 2)
                        }
                        if (focusedMark >= 0) {
                            var at = (receiptMarks.get(focusedMark).markTimeMS - viewStartMs) / 1000 * xPerSec
                            ctx.strokeStyle = "rgb(0, 90, 200)"
                            ctx.lineWidth = 2
                            ctx.strokeRect(at - 6, 1, 12, band)
                        }
                    }

                    onPaint: {
                        var ctx = getContext("2d")
                        ctx.clearRect(0, 0, width, height)
                        ctx.fillStyle = "rgb(0, 0, 0)"
                        ctx.textAlign = "center"
                        ctx.font = "11px sans-serif"
                        paintTicks(ctx)
                        paintRecordings(ctx)
                        paintSelection(ctx)
                        paintMarks(ctx)
                    }

                    onWidthChanged: requestPaint()
                    onHeightChanged: requestPaint()
                }

                Label {
                    id: lblRange
                    objectName: "lblRange"
                    anchors.top: parent.top
                    anchors.right: parent.right
                    anchors.margins: 5
                    // Below the band of receipt marks.
                    anchors.topMargin: canvas.markBand + 6
                }

                MouseArea {
                    id: mouseArea
                    objectName: "timelineMouseArea"
                    anchors.fill: canvas
                    acceptedButtons: Qt.AllButtons
                    // The page sits in a swipe view, which would otherwise take over a sideways drag
                    // and slide to the next page in the middle of a selection.
                    preventStealing: true
                    activeFocusOnTab: true

                    Accessible.role: Accessible.Chart
                    Accessible.name: (canvas.focusedMark >= 0
                                      ? qsTr("Receipt %1").arg(page.markText(canvas.focusedMark))
                                      : canvas.selectMinuteStart < 0
                                        ? qsTr("Timeline, nothing selected")
                                        : qsTr("Timeline, selected %1 to %2").arg(txtStart.text).arg(txtEnd.text))
                                     + I18n.localeNotify
                    Accessible.description: qsTr("Arrow keys move the end of the selection, Shift and arrow keys its start; plus and minus zoom; Page Down and Page Up go from receipt to receipt, Return opens it") + I18n.localeNotify
                    hoverEnabled: true

                    property bool isPressed: false
                    property real lastX: 0
                    // The mark group a press landed on: the press opens it and selects nothing.
                    property var pressedGroup: null

                    // The minute under x, kept within the chosen day.
                    function getMinuteFromXPos(x) {
                        return day.clamp(Math.floor(x / canvas.xPerMinute + canvas.minuteStart))
                    }

                    function showMarkTip(group) {
                        if (!group) {
                            markTip.hide()
                            return
                        }
                        markTip.x = Math.min(group.x, canvas.width - markTip.width)
                        markTip.text = page.markText(group.row)
                                + (group.count > 2 ? "\n" + qsTr("and %1 more receipts").arg(group.count - 1)
                                   : group.count > 1 ? "\n" + qsTr("and 1 more receipt") : "")
                        markTip.show(markTip.text)
                    }

                    function openGroup(group) {
                        if (group.count === 1) {
                            page.chooseMark(group.row)
                            return
                        }
                        var rows = []
                        for (var i = 0; i < group.count; ++i)
                            rows.push(group.row + i)
                        popMarks.rows = rows
                        popMarks.open()
                    }

                    // Moves the keyboard to the next (step 1) or previous (-1) receipt mark and brings
                    // it into view.
                    function stepMark(step) {
                        if (receiptMarks.count === 0)
                            return
                        var row = canvas.focusedMark
                        if (row < 0) {
                            var viewStartMs = (day.startSecs + canvas.secondStart) * 1000
                            row = step > 0 ? 0 : receiptMarks.count - 1
                            for (var i = 0; i < receiptMarks.count; ++i) {
                                if (receiptMarks.get(i).markTimeMS >= viewStartMs) {
                                    row = step > 0 ? i : Math.max(i - 1, 0)
                                    break
                                }
                            }
                        } else {
                            row = Math.max(0, Math.min(receiptMarks.count - 1, row + step))
                        }
                        canvas.focusedMark = row
                        var atMinute = (receiptMarks.get(row).markTimeMS / 1000 - day.startSecs) / 60
                        canvas.ensureVisible(atMinute)
                        canvas.requestPaint()
                        var x = (atMinute - canvas.minuteStart) * canvas.xPerMinute
                        showMarkTip({ x: x, row: row, count: 1 })
                    }

                    onPressed: {
                        forceActiveFocus()
                        pressedGroup = mouse.button === Qt.LeftButton ? canvas.markGroupAt(mouse.x, mouse.y) : null
                        if (pressedGroup)
                            return
                        isPressed = true
                        lastX = mouse.x
                        var m = getMinuteFromXPos(mouse.x)
                        page.select(m, m)
                    }

                    onPositionChanged: {
                        if (!pressed) {
                            showMarkTip(canvas.markGroupAt(mouse.x, mouse.y))
                            return
                        }
                        if (pressedGroup)
                            return
                        if (mouse.buttons & Qt.RightButton) {
                            var delta = mouse.x - lastX
                            lastX = mouse.x
                            var canvasPadding = (canvas.fullWidth - canvas.width) / 2
                            var next = canvas.xOffset - delta
                            canvas.xOffset = Math.sign(next) * Math.min(Math.abs(next), canvasPadding)
                            canvas.requestPaint()
                            return
                        }
                        page.select(canvas.selectMinuteStart, getMinuteFromXPos(mouse.x))
                    }

                    onReleased: {
                        isPressed = false
                        var group = pressedGroup
                        pressedGroup = null
                        if (group && canvas.markGroupAt(mouse.x, mouse.y) === group) {
                            markTip.hide()
                            openGroup(group)
                        }
                    }

                    onExited: if (canvas.focusedMark < 0) markTip.hide()

                    onWheel: {
                        var pixels = wheel.angleDelta.x !== 0 ? wheel.angleDelta.x : wheel.angleDelta.y
                        canvas.zoomBy(pixels * 0.008)
                    }

                    onActiveFocusChanged: {
                        if (!activeFocus) {
                            canvas.focusedMark = -1
                            markTip.hide()
                            canvas.requestPaint()
                        }
                    }

                    Keys.onPressed: {
                        if (event.key === Qt.Key_PageDown || event.key === Qt.Key_PageUp) {
                            stepMark(event.key === Qt.Key_PageDown ? 1 : -1)
                            event.accepted = true
                            return
                        }
                        if ((event.key === Qt.Key_Return || event.key === Qt.Key_Enter) && canvas.focusedMark >= 0) {
                            markTip.hide()
                            page.chooseMark(canvas.focusedMark)
                            event.accepted = true
                            return
                        }
                        if (event.key === Qt.Key_Escape && canvas.focusedMark >= 0) {
                            canvas.focusedMark = -1
                            markTip.hide()
                            canvas.requestPaint()
                            event.accepted = true
                            return
                        }
                        page.timelineKey(event)
                    }
                }

                ToolTip {
                    id: markTip
                    objectName: "markTip"
                    parent: canvas
                    y: canvas.markBand + 4
                    delay: 0
                    // Receipts line their columns up in a fixed-width font, and keep their lines.
                    contentItem: Label {
                        text: markTip.text
                        font.family: "monospace"
                    }
                }
            }

            // The receipts' side of the timeline in one line: how many marks, or why there are none.
            Label {
                objectName: "lblMarksStatus"
                Layout.fillWidth: true
                elide: Text.ElideRight
                font.pixelSize: 11
                color: receiptMarks.status !== "" ? "firebrick" : palette.mid
                text: receiptMarks.status !== "" ? receiptMarks.status
                      : receiptMarks.isLoading ? qsTr("Loading receipts…") + I18n.localeNotify
                      : (receiptMarks.count === 1 ? qsTr("1 receipt of this camera on this day")
                                                  : qsTr("%1 receipts of this camera on this day").arg(receiptMarks.count))
                        + I18n.localeNotify
            }
        }
    }

    // The receipts of a mark that stands for several: one of them is picked.
    Popup {
        id: popMarks
        objectName: "popMarks"
        property var rows: []
        anchors.centerIn: parent
        width: Math.min(page.width * 0.8, 520)
        height: Math.min(page.height * 0.7, lstMarks.contentHeight + topPadding + bottomPadding)
        modal: true
        dim: true
        focus: true
        onOpened: lstMarks.forceActiveFocus()

        ListView {
            id: lstMarks
            objectName: "lstMarks"
            anchors.fill: parent
            clip: true
            model: popMarks.rows
            keyNavigationEnabled: true
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Receipts at this mark") + I18n.localeNotify
            Keys.onReturnPressed: choose(currentIndex)
            Keys.onEnterPressed: choose(currentIndex)

            function choose(index) {
                var row = popMarks.rows[index]
                popMarks.close()
                page.chooseMark(row)
            }

            delegate: ItemDelegate {
                width: ListView.view.width
                highlighted: ListView.isCurrentItem
                focusPolicy: Qt.NoFocus
                text: page.markText(modelData).replace(/\n/g, " · ")
                Accessible.name: text
                onClicked: lstMarks.choose(index)
            }
        }
    }

    Popup {
        id: popDownload
        objectName: "popDownload"
        anchors.centerIn: parent
        modal: true
        dim: true
        closePolicy: Popup.NoAutoClose
        visible: apiCall.isDownloading
        focus: true
        onAboutToShow: txtDownload.text = qsTr("Waiting ...") + I18n.localeNotify

        GridLayout {
            columns: 2

            Label {
                Layout.columnSpan: 2
                text: qsTr("Downloading") + I18n.localeNotify
                font.bold: true
            }
            Label {
                text: qsTr("Download") + I18n.localeNotify
            }
            TextField {
                id: txtDownload
                objectName: "txtDownload"
                Layout.preferredWidth: 200
                readOnly: true
                Accessible.name: qsTr("Downloaded so far") + I18n.localeNotify
            }
            Button {
                objectName: "btnCancelDownload"
                Layout.columnSpan: 2
                Layout.alignment: Qt.AlignRight
                focus: true
                text: qsTr("Cancel") + I18n.localeNotify
                onClicked: apiCall.cancelDownload()
            }
        }
    }

    // Where the clip went, with the way to its folder.
    Popup {
        id: popDownloaded
        objectName: "popDownloaded"
        property string path: ""
        anchors.centerIn: parent
        width: Math.min(implicitWidth, page.width)
        modal: true
        dim: true
        focus: true

        ColumnLayout {
            anchors.fill: parent
            Label {
                objectName: "lblDownloaded"
                Layout.fillWidth: true
                wrapMode: Text.WrapAnywhere
                text: qsTr("Saved to %1").arg(popDownloaded.path) + I18n.localeNotify
            }
            RowLayout {
                Layout.alignment: Qt.AlignRight
                Button {
                    objectName: "btnOpenFolder"
                    focus: true
                    text: qsTr("Open folder") + I18n.localeNotify
                    onClicked: {
                        Qt.openUrlExternally(Utils.folderUrl(popDownloaded.path))
                        popDownloaded.close()
                    }
                }
                Button {
                    objectName: "btnDownloadedClose"
                    text: qsTr("Close") + I18n.localeNotify
                    onClicked: popDownloaded.close()
                }
            }
        }
    }

    Popup {
        objectName: "popStreamsLoading"
        anchors.centerIn: parent
        modal: true
        dim: true
        closePolicy: Popup.NoAutoClose
        visible: StreamsList.isLoading
        focus: true

        RowLayout {
            BusyIndicator {
                running: true
            }
            Label {
                text: qsTr("Loading ...") + I18n.localeNotify
            }
        }
    }
}

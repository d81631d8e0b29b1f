import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// A camera's recordings of one day on a zoomable 24-hour timeline; a range of minutes marked on it
// is downloaded into "download.mkv".
Page {
    id: page
    padding: 10

    function showError(message) {
        popMessage.message = message
        popMessage.open()
    }

    function selectedStreamId() {
        return StreamsList.get(lstStreams.currentIndex).strmId
    }

    function updateRangeLabel() {
        lblRange.text = "%1:%2 - %3:%4"
            .arg(canvas.getHour(canvas.selectMinuteStart)).arg(canvas.getMinute(canvas.selectMinuteStart))
            .arg(canvas.getHour(canvas.selectMinuteEnd)).arg(canvas.getMinute(canvas.selectMinuteEnd))
    }

    Component.onCompleted: apiCall.fetchTimezone()

    ApiCall {
        id: apiCall
        objectName: "apiCall"

        function formatSize(val) {
            if (val === -1)
                return "N/A"
            return "%1MB".arg((val / (1024 * 1024)).toFixed(2))
        }

        onTimezoneReceived: StreamsList.loadStreams()
        onErrorOccured: page.showError(message)
        onDownloadProgress: txtDownload.text = "%1/%2".arg(formatSize(downloaded)).arg(formatSize(total))
        onDownloadComplete: { }
    }

    RecordingsList {
        id: recordingsList
        objectName: "recordingsList"
        onErrorOccured: page.showError(message)
        onLoadingFinished: canvas.requestPaint()
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
            page.showError(message)
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

            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                border.width: 1
                border.color: "grey"

                ListView {
                    id: lstStreams
                    objectName: "lstStreams"
                    anchors.fill: parent
                    anchors.margins: 1
                    clip: true
                    currentIndex: -1
                    model: StreamsList
                    ScrollBar.vertical: ScrollBar { }

                    delegate: ItemDelegate {
                        width: ListView.view.width
                        text: model.strmName
                        highlighted: ListView.isCurrentItem
                        onClicked: {
                            lstStreams.currentIndex = index
                            recordingsList.loadRecordingsOfDay(model.strmId, datePicker.selectedDate)
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
                    onSelectedDateChanged: {
                        if (lstStreams.currentIndex >= 0)
                            recordingsList.loadRecordingsOfDay(page.selectedStreamId(), selectedDate)
                    }
                }
                Button {
                    objectName: "btnDownload"
                    text: qsTr("Download") + I18n.localeNotify
                    enabled: canvas.selectMinuteStart !== canvas.selectMinuteEnd
                    onClicked: {
                        var midnight = Utils.startDayTimestamp(datePicker.selectedDate)
                        apiCall.download(page.selectedStreamId(), midnight + canvas.selectMinuteStart * 60,
                                         (canvas.selectMinuteEnd - canvas.selectMinuteStart) * 60)
                    }
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                border.width: 1
                border.color: "grey"

                Canvas {
                    id: canvas
                    objectName: "canvas"
                    anchors.fill: parent
                    anchors.margins: 1

                    property real zoomFactor: 12
                    property real fullWidth: zoomFactor * width
                    property real xOffset: 0
                    property real xBegin: (fullWidth - width) / 2 + xOffset
                    property real xEnd: xBegin + width
                    property real minuteStart: Math.floor(xBegin / fullWidth * 24 * 60)
                    property real secondStart: minuteStart * 60
                    property real minuteEnd: Math.floor(xEnd / fullWidth * 24 * 60)
                    property real secondEnd: minuteEnd * 60
                    property real minuteTotal: minuteEnd - minuteStart
                    property real xPerMinute: width / minuteTotal
                    property real xPerSec: xPerMinute / 60
                    property int selectMinuteStart: -1
                    property int selectMinuteEnd: -1
                    // The rows of recordingsList as start and duration pairs in milliseconds, read once
                    // per load rather than once per repaint.
                    property var periods: []

                    function getHour(min) {
                        return Math.floor(min / 60)
                    }

                    function getMinute(min) {
                        return min % 60
                    }

                    function tickLength(m) {
                        if (m % 10 === 0)
                            return 30
                        return m % 5 === 0 ? 25 : 20
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

                    // The shaded selection, or null when there is none to shade (one starting at
                    // 00:00 included).
                    function selectionSpan() {
                        if (selectMinuteStart <= 0 || selectMinuteEnd <= 0)
                            return null
                        return { from: (selectMinuteStart - minuteStart) * xPerMinute,
                                 to: (selectMinuteEnd - minuteStart) * xPerMinute }
                    }

                    function paintTicks(ctx) {
                        ctx.strokeStyle = "rgb(90, 90, 90)"
                        ctx.lineWidth = 1
                        // One path for all ticks: a stroke per tick costs more than the rest of the repaint.
                        ctx.beginPath()
                        var m
                        var x
                        for (m = minuteStart; m < minuteEnd; ++m) {
                            if (m < 0 || m > 1439)
                                continue
                            x = (m - minuteStart) * xPerMinute
                            ctx.moveTo(x, height)
                            ctx.lineTo(x, height - tickLength(m))
                        }
                        ctx.stroke()
                        for (m = minuteStart; m < minuteEnd; ++m) {
                            if (m < 0 || m > 1439 || m % 10 !== 0)
                                continue
                            x = (m - minuteStart) * xPerMinute
                            ctx.fillText("%1:%2".arg(getHour(m)).arg(getMinute(m)), x, height - 45)
                        }
                    }

                    function paintRecordings(ctx) {
                        ctx.fillStyle = "rgba(0, 255, 0, 0.1)"
                        var midnight = Utils.startDayTimestamp(datePicker.selectedDate)
                        var count = periods.length
                        for (var i = 0; i < count; i += 2) {
                            var span = periodSpan(periods[i], periods[i + 1], midnight)
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

                    onPaint: {
                        var ctx = getContext("2d")
                        ctx.clearRect(0, 0, width, height)
                        ctx.fillStyle = "rgb(0, 0, 0)"
                        ctx.textAlign = "center"
                        ctx.font = "11px sans-serif"
                        paintTicks(ctx)
                        paintRecordings(ctx)
                        paintSelection(ctx)
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
                }

                MouseArea {
                    id: mouseArea
                    objectName: "timelineMouseArea"
                    anchors.fill: canvas
                    acceptedButtons: Qt.AllButtons
                    // The page sits in a swipe view, which would otherwise take over a sideways drag
                    // and slide to the next page in the middle of a selection.
                    preventStealing: true

                    property bool isPressed: false
                    property real lastX: 0

                    function getMinuteFromXPos(x) {
                        return Math.floor(x / canvas.xPerMinute + canvas.minuteStart)
                    }

                    onPressed: {
                        isPressed = true
                        lastX = mouse.x
                        canvas.selectMinuteStart = getMinuteFromXPos(mouse.x)
                        canvas.selectMinuteEnd = canvas.selectMinuteStart
                        page.updateRangeLabel()
                        canvas.requestPaint()
                    }

                    onPositionChanged: {
                        if (mouse.buttons & Qt.RightButton) {
                            var delta = mouse.x - lastX
                            lastX = mouse.x
                            var canvasPadding = (canvas.fullWidth - canvas.width) / 2
                            var next = canvas.xOffset - delta
                            canvas.xOffset = Math.sign(next) * Math.min(Math.abs(next), canvasPadding)
                            canvas.requestPaint()
                            return
                        }
                        canvas.selectMinuteEnd = Math.max(canvas.selectMinuteStart, getMinuteFromXPos(mouse.x))
                        page.updateRangeLabel()
                        canvas.requestPaint()
                    }

                    onReleased: isPressed = false

                    onWheel: {
                        var pixels = wheel.angleDelta.x !== 0 ? wheel.angleDelta.x : wheel.angleDelta.y
                        canvas.zoomFactor = Math.min(Math.max(canvas.zoomFactor + pixels * 0.008, 10), 40)
                        canvas.requestPaint()
                    }
                }
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

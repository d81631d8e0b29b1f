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

    /// The window's save dialog, for the download.
    property AppDialogs dialogs: null

    // Why there are no cameras: the server time or the camera list failed. "Retry" asks again.
    property string loadError: ""
    property bool timeKnown: false
    property bool waitingForTime: false

    // A receipt mark was chosen: the receipt (a row of receiptMarks) and the camera it was seen by.
    signal receiptChosen(var receipt, string streamId)
    // For the review player: a receipt mark's window (W on it), and the selection ("Play").
    signal watchRequested(var receipt, string streamId, string streamName)
    signal playRequested(string streamId, string streamName, var from, var to)

    readonly property TimelineView view: timeline.view

    function selectedStreamId() {
        return StreamsList.get(lstStreams.currentIndex).strmId
    }

    function playSelection() {
        var camera = StreamsList.get(lstStreams.currentIndex)
        var startSecs = day.startSecs + view.selectMinuteStart * 60
        playRequested(camera.strmId, camera.strmName, new Date(startSecs * 1000),
                      new Date((startSecs + (view.selectMinuteEnd - view.selectMinuteStart) * 60) * 1000))
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
        receiptMarks.loadDay(selectedStreamId(), datePicker.selectedDate)
    }

    // Shows the receipt on this page's timeline: its camera, its day, the view centred on it and the
    // whole minutes of the export's window around it selected.
    function showReceipt(streamId, createdAt) {
        var row = StreamsList.indexOf(streamId)
        if (row < 0) {
            Notifier.show(qsTr("The camera of this receipt is not among the video server's cameras.")
                          + I18n.localeNotify)
            return false
        }
        var when = new Date(createdAt)
        // Each of the two loads the day when it changes something.
        datePicker.setDay(when)
        lstStreams.currentIndex = row
        lstStreams.positionViewAtIndex(row, ListView.Contain)
        view.selectAround(when.getTime() / 1000 - day.startSecs, Exports.halfWindowSecs)
        timeline.takeFocus()
        return true
    }

    // The save dialog opens on "download.mkv" in the working directory, so that Return keeps the
    // program's usual file; the dialog itself asks before an existing file is overwritten.
    function askAndDownload() {
        var id = selectedStreamId()
        var start = day.startSecs + view.selectMinuteStart * 60
        var duration = (view.selectMinuteEnd - view.selectMinuteStart) * 60
        dialogs.saveFile(Utils.workingFileUrl("download.mkv"), "mkv", function (path) {
            apiCall.download(id, start, duration, path)
        })
    }

    // What a certificate not trusted yet stopped (the receipts of the day, on the POS server that the
    // login did not meet) is asked for again once the operator trusts it.
    Connections {
        target: CertificateTrust
        function onTrusted(server) {
            if (page.loadError !== "")
                page.retry()
            else
                page.loadDay()
        }
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
                Notifier.show(message)
            }
        }
        onDownloadProgress: txtDownload.text = "%1/%2".arg(formatSize(downloaded)).arg(formatSize(total))
        onDownloadComplete: {
            popDownloaded.path = filepath
            popDownloaded.open()
        }
        onDownloadCancelled: Notifier.show(qsTr("The download was cancelled and the unfinished file \"%1\" removed.")
                                           .arg(filepath) + I18n.localeNotify)
    }

    RecordingsList {
        id: recordingsList
        objectName: "recordingsList"
        onErrorOccured: Notifier.show(message)
    }

    // The receipts of the chosen camera's day, marked on the timeline above the recordings.
    ReceiptMarks {
        id: receiptMarks
        objectName: "receiptMarks"
        // Receipts that an exception rule flags take a colour of their own.
        flagger: Rules
    }

    // The day on the timeline; a change of day keeps the selection's wall-clock times where that day
    // has them (see TimelineView).
    DayClock {
        id: day
        objectName: "dayClock"
        date: datePicker.selectedDate
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
                    minute: page.view.selectMinuteStart
                    Accessible.name: qsTr("Selection start") + I18n.localeNotify
                    onTimeEntered: page.view.select(entered, page.view.selectMinuteStart < 0 ? entered
                                                                                              : page.view.selectMinuteEnd)
                }
                Label {
                    text: qsTr("to") + I18n.localeNotify
                }
                TimeField {
                    id: txtEnd
                    objectName: "txtEnd"
                    day: day
                    minute: page.view.selectMinuteEnd
                    Accessible.name: qsTr("Selection end") + I18n.localeNotify
                    onTimeEntered: page.view.select(page.view.selectMinuteStart < 0 ? entered
                                                                                     : page.view.selectMinuteStart, entered)
                }
                Button {
                    objectName: "btnDownload"
                    text: qsTr("Download") + I18n.localeNotify
                    // Follows the time fields as they are typed: Tab from the end field must find it.
                    enabled: txtStart.typedMinute >= 0 && txtEnd.typedMinute > txtStart.typedMinute
                    onClicked: page.askAndDownload()
                }

            }

            Timeline {
                id: timeline
                objectName: "timeline"
                Layout.fillWidth: true
                Layout.fillHeight: true
                day: day
                recordings: recordingsList
                marks: receiptMarks
                onMarkChosen: page.receiptChosen(receiptMarks.get(row), page.selectedStreamId())
                onMarkWatchRequested: page.watchRequested(receiptMarks.get(row), page.selectedStreamId(),
                                                          StreamsList.get(lstStreams.currentIndex).strmName)
            }

            RowLayout {
                Layout.fillWidth: true
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
                // After the timeline, where Tab goes next from it.
                Button {
                    objectName: "btnPlaySelection"
                    text: qsTr("Play") + I18n.localeNotify
                    enabled: page.view.selectMinuteStart >= 0 && page.view.selectMinuteEnd > page.view.selectMinuteStart
                    Accessible.name: qsTr("Play the selection") + I18n.localeNotify
                    Accessible.description: qsTr("The selected minutes of this camera in the player") + I18n.localeNotify
                    onClicked: page.playSelection()
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

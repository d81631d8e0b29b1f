import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// Searches the till receipts by their text; one opened receipt exports the three minutes around it
// from one of its cameras, with the receipts of that camera burnt into the video.
Page {
    id: page
    padding: 10
    title: qsTr("Receipts") + I18n.localeNotify

    // "Show on timeline" in the detail box: the receipt's camera and time, for the recordings page.
    signal showOnTimelineRequested(string streamId, var createdAt)

    function showError(message) {
        popMessage.message = message
        popMessage.open()
    }

    /// Opens the detail box on a receipt, with the camera streamId chosen when the receipt lists it.
    function openReceipt(createdAt, content, streams, streamId) {
        popDetail.message = content
        popDetail.createdAt = createdAt
        popDetail.streams = streams
        var chosen = streamId ? cbStream.indexOfValue(streamId) : -1
        cbStream.currentIndex = chosen >= 0 ? chosen : (streams.length > 0 ? 0 : -1)
        popDetail.open()
    }

    /// The path behind the save dialog's answer. The dialog may give the URL percent-encoded
    /// ("my%20clip.mp4"), and FFmpeg must write exactly the file that was chosen.
    function chosenPath(url) {
        var text = String(url)
        try {
            text = decodeURIComponent(text)
        } catch (malformed) {
            // A lone "%" that starts no escape is part of the name.
        }
        return Utils.fileUriToFilePath(text)
    }

    // Ctrl+F: the search field, from either page.
    Shortcut {
        sequence: StandardKey.Find
        onActivated: {
            if (page.SwipeView.view)
                page.SwipeView.view.setCurrentIndex(page.SwipeView.index)
            txtText.forceActiveFocus()
            txtText.selectAll()
        }
    }

    function search() {
        if (txtText.text.trim().length < 3) {
            showError(qsTr("The search text must at least 3 characters"))
            return
        }
        if (!chkFrom.checked && !chkTo.checked) {
            posSearching.searchByContent(txtText.text)
            return
        }
        if (chkFrom.checked && chkTo.checked && dayFrom.selectedDate > dayTo.selectedDate) {
            showError(qsTr("The “from” day is after the “to” day."))
            return
        }
        posSearching.searchByContentInDays(txtText.text, chkFrom.checked ? dayFrom.selectedDate : undefined,
                                           chkTo.checked ? dayTo.selectedDate : undefined)
    }

    /// Asks where to put the export of the three minutes around a receipt, then starts it. Refused at
    /// once, with the running export named, while another one runs.
    function exportAround(createdAt, streamId, streamName, content, highQuality) {
        var busy = exporter.busyRefusal()
        if (busy !== "") {
            showError(busy)
            return
        }
        saveFileDialog.okCallback = function (url) {
            // The receipt, the camera and the window travel together in the job, whatever the detail
            // box shows by the time the servers answer.
            exporter.exportReceipt(createdAt, content === undefined ? "" : content, streamId, streamName,
                                   highQuality === true, page.chosenPath(url))
        }
        saveFileDialog.cancelCallback = function () { }
        var suggested = exporter.suggestedFile(streamName, Utils.addDateTime(createdAt, -90),
                                               Utils.addDateTime(createdAt, 90))
        saveFileDialog.currentFile = suggested
        saveFileDialog.open()
        // A dialog that is built on its first opening (the Widgets one where the platform has no native
        // dialog) starts on its folder alone; once it is open it takes the name.
        if (String(saveFileDialog.currentFile) !== suggested)
            saveFileDialog.currentFile = suggested
    }

    ExportController {
        id: exporter
        objectName: "exporter"
        onJobChanged: {
            if (job && job.isRunning) {
                popDetail.close()
                downloading.open()
            }
        }
        // The next box opens before the progress box closes, so that the keys go to it.
        onJobEnded: {
            if (job.state === ExportJob.Done) {
                exportDone.videoPath = job.videoPath
                exportDone.open()
            } else if (job.state === ExportJob.Cancelled) {
                page.showError(job.message)
            } else {
                page.showError(qsTr("Export failed: %1").arg(job.message) + I18n.localeNotify)
            }
            downloading.close()
        }
        onRefused: page.showError(message)
        onVerified: page.showError(report)
    }

    footer: ExportVerify {
        controller: exporter
    }

    PosSearching {
        id: posSearching
        objectName: "posSearching"
        onErrorOccured: page.showError(message)
        onIsLoadingChanged: popLoading.visible = isLoading
    }

    RowLayout {
        anchors.fill: parent

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true

            RowLayout {
                Layout.fillWidth: true
                Label {
                    text: qsTr("Search") + I18n.localeNotify
                    font.bold: true
                }
                TextField {
                    id: txtText
                    objectName: "txtText"
                    focus: true
                    Layout.fillWidth: true
                    text: Utils.isDebug() ? "line" : ""
                    selectByMouse: true
                    Accessible.name: qsTr("Search text") + I18n.localeNotify
                    onAccepted: page.search()
                }
                Button {
                    objectName: "btnSearch"
                    text: qsTr("Search") + I18n.localeNotify
                    onClicked: page.search()
                }
            }

            // Optional days that bound the search: receipts from the first moment of the "from" day to
            // the last of the "to" day.
            RowLayout {
                Layout.fillWidth: true
                CheckBox {
                    id: chkFrom
                    objectName: "chkFrom"
                    text: qsTr("from") + I18n.localeNotify
                    Accessible.name: qsTr("Only receipts from a day on") + I18n.localeNotify
                }
                DatePicker {
                    id: dayFrom
                    objectName: "dayFrom"
                    enabled: chkFrom.checked
                    Accessible.name: qsTr("From day: %1").arg(selectedDate.toLocaleDateString(Qt.locale(),
                                                                                            Locale.LongFormat))
                                     + I18n.localeNotify
                }
                CheckBox {
                    id: chkTo
                    objectName: "chkTo"
                    text: qsTr("to") + I18n.localeNotify
                    Accessible.name: qsTr("Only receipts up to a day") + I18n.localeNotify
                }
                DatePicker {
                    id: dayTo
                    objectName: "dayTo"
                    enabled: chkTo.checked
                    Accessible.name: qsTr("To day: %1").arg(selectedDate.toLocaleDateString(Qt.locale(),
                                                                                          Locale.LongFormat))
                                     + I18n.localeNotify
                }
                Item {
                    Layout.fillWidth: true
                }
            }

            // What the last search found, so that a search without matches is seen to have run.
            Label {
                objectName: "lblCount"
                visible: posSearching.searchText !== ""
                text: (lstResult.count === 0
                       ? qsTr("No receipt contains \u201c%1\u201d").arg(posSearching.searchText)
                       : lstResult.count === 1 ? qsTr("1 receipt") : qsTr("%1 receipts").arg(lstResult.count))
                      + I18n.localeNotify
            }

            ListView {
                id: lstResult
                objectName: "lstResult"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                model: posSearching
                activeFocusOnTab: true
                keyNavigationEnabled: true
                Accessible.role: Accessible.List
                Accessible.name: qsTr("Receipts found") + I18n.localeNotify
                ScrollBar.vertical: ScrollBar {
                    Accessible.name: qsTr("Scroll the receipts") + I18n.localeNotify
                }
                Keys.onReturnPressed: if (currentItem) currentItem.openDetail()
                Keys.onEnterPressed: if (currentItem) currentItem.openDetail()
                Keys.onSpacePressed: if (currentItem) currentItem.openDetail()

                delegate: ItemDelegate {
                    width: lstResult.width
                    highlighted: ListView.isCurrentItem
                    // The list takes Tab once; the arrow keys move between its rows.
                    focusPolicy: Qt.NoFocus
                    Accessible.focusable: true
                    Accessible.name: [Utils.formatDateTime(posCreatedAt),
                                      posStreams.map(function (s) { return s.strmName }).join(", "),
                                      posSearching.matchLine(posContentOneLine, posSearching.searchText)]
                                     .join(", ")
                    function openDetail() {
                        page.openReceipt(posCreatedAt, posContent, posStreams, "")
                    }
                    onClicked: {
                        lstResult.currentIndex = index
                        lstResult.forceActiveFocus()
                        openDetail()
                    }

                    contentItem: RowLayout {
                        spacing: 8
                        Label {
                            objectName: "lblCreatedAt"
                            Layout.preferredWidth: 120
                            Layout.maximumWidth: 120
                            color: "red"
                            // The whole date and time in the width the row gives it.
                            fontSizeMode: Text.HorizontalFit
                            minimumPixelSize: 8
                            minimumPointSize: 6
                            verticalAlignment: Text.AlignVCenter
                            text: Utils.formatDateTime(posCreatedAt)
                        }
                        Flickable {
                            Layout.preferredWidth: 100
                            Layout.maximumWidth: 100
                            Layout.preferredHeight: streamRow.height
                            clip: true
                            // Only a strip that overflows takes the press; otherwise the row gets the click.
                            interactive: contentWidth > width
                            flickableDirection: Flickable.HorizontalFlick
                            contentWidth: streamRow.width
                            contentHeight: streamRow.height

                            Row {
                                id: streamRow
                                objectName: "streamRow"
                                spacing: 5
                                Repeater {
                                    model: posStreams
                                    Label {
                                        text: modelData.strmName
                                        color: "transparent"
                                        style: Text.Outline
                                        styleColor: "blue"
                                    }
                                }
                            }
                        }
                        Label {
                            id: lblContent
                            objectName: "lblContent"
                            // About as many characters as the width shows; the match is kept among them.
                            readonly property int visibleChars: Math.floor(width / contentMetrics.averageCharacterWidth)
                            Layout.fillWidth: true
                            elide: Text.ElideRight
                            textFormat: Text.StyledText
                            text: posSearching.matchMarkup(posContentOneLine, posSearching.searchText, visibleChars)
                            FontMetrics {
                                id: contentMetrics
                                font: lblContent.font
                            }
                        }
                    }
                }
            }
        }
    }

    Popup {
        id: popDetail
        objectName: "popDetail"
        property date createdAt: new Date()
        property alias message: txtContent.text
        property var streams: []
        // Over the window rather than this page: a receipt can be opened, and its export followed, from
        // the recordings page as well, while this page is out of view.
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.8
        height: parent.height * 0.8
        modal: true
        dim: true
        // Keys go to the box while it is open (Tab through it, Escape closes it).
        focus: true

        ColumnLayout {
            anchors.fill: parent

            Label {
                text: qsTr("Created at") + I18n.localeNotify
                font.bold: true
            }
            Label {
                objectName: "lblDetailCreatedAt"
                color: "red"
                text: Utils.formatDateTime(popDetail.createdAt)
            }
            Label {
                text: qsTr("Content") + I18n.localeNotify
                font.bold: true
            }
            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                border.width: 1
                border.color: "lightgrey"

                ScrollView {
                    anchors.fill: parent
                    anchors.margins: 1
                    clip: true
                    TextArea {
                        id: txtContent
                        objectName: "txtContent"
                        readOnly: true
                        activeFocusOnTab: true
                        Accessible.name: qsTr("Content") + I18n.localeNotify
                        // Receipts line their prices up in columns.
                        font.family: "monospace"
                    }
                }
            }
            Label {
                objectName: "lblWindow"
                text: "3 minutes around: %1 - %2"
                    .arg(Utils.formatDateTime(Utils.addDateTime(popDetail.createdAt, -90)))
                    .arg(Utils.formatDateTime(Utils.addDateTime(popDetail.createdAt, 90)))
            }
            ComboBox {
                id: cbStream
                objectName: "cbStream"
                Layout.fillWidth: true
                model: popDetail.streams
                textRole: "strmName"
                valueRole: "strmId"
                Accessible.name: qsTr("Camera") + I18n.localeNotify
            }
            ComboBox {
                id: cbQuality
                objectName: "cbQuality"
                Layout.fillWidth: true
                // The video server's usual stream, or its high-quality one (a larger download).
                model: [qsTr("Standard quality (hi=0)") + I18n.localeNotify,
                    qsTr("High quality (hi=1)") + I18n.localeNotify]
                Accessible.name: qsTr("Video quality") + I18n.localeNotify
            }
            Label {
                id: lblNotExportable
                objectName: "lblNotExportable"
                Layout.fillWidth: true
                visible: text !== ""
                wrapMode: Text.Wrap
                color: "darkred"
                text: exporter.refusalFor(popDetail.createdAt, popDetail.streams) + I18n.localeNotify
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            RowLayout {
                Layout.alignment: Qt.AlignHCenter
                Button {
                    objectName: "btnClose"
                    text: qsTr("Close") + I18n.localeNotify
                    onClicked: popDetail.close()
                }
                Button {
                    objectName: "btnShowOnTimeline"
                    text: qsTr("Show on timeline") + I18n.localeNotify
                    enabled: cbStream.currentIndex >= 0 && !isNaN(popDetail.createdAt.getTime())
                    Accessible.description: qsTr("The recordings of the chosen camera on the receipt's day, with the minutes around it selected") + I18n.localeNotify
                    onClicked: {
                        popDetail.close()
                        page.showOnTimelineRequested(cbStream.currentValue, popDetail.createdAt)
                    }
                }
                // A disabled button hears no hover: the item around it shows why it is disabled.
                Item {
                    implicitWidth: btnExport.implicitWidth
                    implicitHeight: btnExport.implicitHeight
                    HoverHandler {
                        id: exportHover
                    }
                    Button {
                        id: btnExport
                        objectName: "btnExport"
                        anchors.fill: parent
                        enabled: lblNotExportable.text === ""
                        text: qsTr("Download 3 mins around") + I18n.localeNotify
                        ToolTip.visible: exportHover.hovered && !enabled
                        ToolTip.text: lblNotExportable.text
                        Accessible.description: lblNotExportable.text
                        onClicked: page.exportAround(popDetail.createdAt,
                                                     cbStream.currentValue === undefined ? "" : cbStream.currentValue,
                                                     cbStream.currentText, popDetail.message,
                                                     cbQuality.currentIndex === 1)
                    }
                }
            }
        }
    }

    ExportProgress {
        id: downloading
        objectName: "downloading"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.6
        job: exporter.job
        onCancelRequested: exporter.cancel()
    }

    ExportDone {
        id: exportDone
        objectName: "exportDone"
        parent: Overlay.overlay
        anchors.centerIn: parent
        onOpenFolderRequested: exporter.openFolder(videoPath)
    }
}

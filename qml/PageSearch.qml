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

    function showError(message) {
        popMessage.message = message
        popMessage.open()
    }

    /// Text with the password of every "scheme://user:password@" replaced by "***": the clip URL
    /// carries the video server's credentials, and neither the log nor the screen may show them.
    function maskCredentials(text) {
        return String(text).replace(/(\w+:\/\/[^:@\/\s]*):[^@\/\s]*@/g, "$1:***@")
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
        posSearching.searchByContent(txtText.text)
    }

    function exportAround(createdAt, streamId, streamName) {
        var from = Utils.addDateTime(createdAt, -90)
        var to = Utils.addDateTime(createdAt, 90)
        saveFileDialog.okCallback = function (url) {
            merger.filePath = page.chosenPath(url)
            // The window and the camera travel together, whatever the camera box shows by the time
            // the POS server answers.
            downloader.start = from
            downloader.end = to
            downloader.streamId = streamId
            downloader.downloadByISODate(from, to, streamId)
        }
        saveFileDialog.cancelCallback = function () { }
        // Joined rather than filled in with arg(): a camera name holding "%2" stays as it is.
        var suggested = "file:///" + streamName + "-" + Utils.formatDatetimeForDownload(from) + "-"
                + Utils.formatDatetimeForDownload(to)
        saveFileDialog.currentFile = suggested
        saveFileDialog.open()
        // A dialog that is built on its first opening (the Widgets one where the platform has no native
        // dialog) starts on its folder alone; once it is open it takes the name.
        if (String(saveFileDialog.currentFile) !== suggested)
            saveFileDialog.currentFile = suggested
    }

    Merger {
        id: merger
        objectName: "merger"
        onStarted: {
            popDetail.close()
            downloading.frame = "0"
            downloading.open()
        }
        onFrameProcessed: downloading.frame = frame
        onFinished: downloading.close()
        onErrorOccured: {
            downloading.close()
            page.showError("Error: %1".arg(page.maskCredentials(message)))
        }
    }

    PosDownloader {
        id: downloader
        objectName: "downloader"
        property var start
        property var end
        property string streamId
        onPosDownloaded: {
            var url = Utils.getVideoUrl(streamId, start, end)
            console.log(page.maskCredentials(url))
            merger.merge(url, "sub.ass")
        }
        // The export does not start; the detail box stays open under the message.
        onErrorOccured: page.showError(message)
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
                        popDetail.message = posContent
                        popDetail.createdAt = posCreatedAt
                        popDetail.streams = posStreams
                        popDetail.open()
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
        anchors.centerIn: parent
        width: page.width * 0.8
        height: page.height * 0.8
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
            RowLayout {
                Layout.alignment: Qt.AlignHCenter
                Button {
                    objectName: "btnClose"
                    text: qsTr("Close") + I18n.localeNotify
                    onClicked: popDetail.close()
                }
                Button {
                    objectName: "btnExport"
                    text: qsTr("Download 3 mins around") + I18n.localeNotify
                    onClicked: page.exportAround(popDetail.createdAt,
                                                 cbStream.currentValue === undefined ? "" : cbStream.currentValue,
                                                 cbStream.currentText)
                }
            }
        }
    }

    Popup {
        id: downloading
        objectName: "downloading"
        property string frame: "0"
        anchors.centerIn: parent
        width: page.width * 0.6
        modal: true
        dim: true

        ColumnLayout {
            anchors.fill: parent

            ProgressBar {
                Layout.fillWidth: true
                indeterminate: true
            }
            Label {
                text: qsTr("Downloading") + I18n.localeNotify
            }
            TextField {
                objectName: "txtFrames"
                Layout.fillWidth: true
                readOnly: true
                text: "Processed: %1 frame(s)".arg(downloading.frame)
            }
        }
    }
}

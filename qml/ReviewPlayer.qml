import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// The review player: the clip of a receipt's window with the receipts drawn as the export burns them
// in, the receipts beside it, and every action on a key as well as on a button. The caller gives the
// receipts and the clip's first instant (receipts.setRows, or setReceipts from C++; the time under the
// picture is given in that date-time's zone or offset), the script (video.setSubtitleText or
// setSubtitleFile: the bytes the export burns in), what a still records (video.cameraId, cameraName,
// clipRequest), opens it (openClip or openFile) and connects saveStillRequested, exportRequested and
// closeRequested.
FocusScope {
    id: pane
    objectName: "reviewPlayer"

    property alias video: video
    property alias receipts: receiptModel
    // The clip's length where the server's clip does not say (a window is three minutes).
    property real windowSeconds: 180
    // What the caller says about where playback starts, e.g. "Starting 5 s before the receipt".
    property string startNote: ""
    readonly property real length: video.duration > 0 ? video.duration : windowSeconds
    readonly property alias receiptsOnPicture: chkReceipts.checked
    // The receipts can be switched off the picture: the player draws them (a review copy has them burnt in).
    property bool receiptsSwitchable: true
    property bool canExport: true
    // The receipt playback last passed, seconds into the clip; -1 before the first.
    readonly property real currentOffset: receiptModel.current >= 0
                                          ? receiptModel.get(receiptModel.current).offsetSeconds : -1

    // The still of the frame shown, with the receipts as the picture shows them; the caller asks
    // where and calls video.saveStill(path, withReceipts, receipt).
    signal saveStillRequested(bool withReceipts, var receipt)
    signal exportRequested()
    signal closeRequested()

    function openClip(url, startSeconds) {
        video.open(url, startSeconds)
        pane.forceActiveFocus()
    }
    function openFile(path, startSeconds) {
        video.openFile(path, startSeconds)
        pane.forceActiveFocus()
    }
    function close() {
        video.close()
        closeRequested()
    }
    function seekToReceipt(row) {
        if (row >= 0 && row < receiptModel.count)
            video.seek(receiptModel.seekTarget(row))
    }
    function step(forward) {
        if (!video.paused)
            return
        if (forward)
            video.frameStep()
        else
            video.frameBackStep()
    }
    function saveStill() {
        // Where they cannot be switched off, they are in the picture itself.
        if (video.frameDrawn)
            saveStillRequested(chkReceipts.checked || !receiptsSwitchable, receiptModel.receipt(receiptModel.current))
    }
    function exportThis() {
        if (canExport)
            exportRequested()
    }
    // The pane's keys, wherever the focus is inside it; true when the key was one of them.
    function handleKey(event) {
        const shift = (event.modifiers & Qt.ShiftModifier) !== 0
        // The letters alone: with Ctrl or Alt they belong to the window.
        if ((event.key === Qt.Key_S || event.key === Qt.Key_E) && event.modifiers !== Qt.NoModifier)
            return false
        switch (event.key) {
        case Qt.Key_Space: video.togglePause(); break
        case Qt.Key_Left: video.seekRelative(shift ? -1 : -5); break
        case Qt.Key_Right: video.seekRelative(shift ? 1 : 5); break
        case Qt.Key_Comma: step(false); break
        case Qt.Key_Period: step(true); break
        case Qt.Key_BracketLeft: video.speedDown(); break
        case Qt.Key_BracketRight: video.speedUp(); break
        case Qt.Key_PageUp: seekToReceipt(receiptModel.previousRow(video.framePts)); break
        case Qt.Key_PageDown: seekToReceipt(receiptModel.nextRow(video.framePts)); break
        case Qt.Key_Home: video.seek(0); break
        case Qt.Key_End: video.seekToEnd(); break
        case Qt.Key_S: saveStill(); break
        case Qt.Key_E: exportThis(); break
        case Qt.Key_Escape: close(); break
        default: return false
        }
        event.accepted = true
        return true
    }

    Keys.onPressed: handleKey(event)

    PlayerReceipts {
        id: receiptModel
        position: video.framePts
    }

    RowLayout {
        anchors.fill: parent
        spacing: 8

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true

            Label {
                objectName: "lblStartNote"
                visible: text !== ""
                text: pane.startNote
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.fillHeight: true
                color: "black"

                VideoPlayer {
                    id: video
                    objectName: "video"
                    anchors.fill: parent
                    subtitlesVisible: chkReceipts.checked
                    // The still's time, from the same start as the time under the picture.
                    clipStart: receiptModel.clipStart
                }
                Label {
                    objectName: "lblPlayerMessage"
                    anchors.centerIn: parent
                    width: parent.width - 40
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    color: video.errorText !== "" ? "#ff8080" : "white"
                    visible: text !== ""
                    text: video.errorText !== "" ? video.errorText
                          : video.isOpen && !video.frameDrawn ? qsTr("Fetching the clip …") + I18n.localeNotify
                          : ""
                    Accessible.role: Accessible.AlertMessage
                    Accessible.name: text
                }
            }

            // The seek bar, a tick at each receipt.
            Slider {
                id: sldPosition
                objectName: "sldPosition"
                Layout.fillWidth: true
                from: 0
                to: pane.length
                focusPolicy: Qt.NoFocus
                onMoved: video.seek(value)
                Accessible.name: qsTr("Position in the clip") + I18n.localeNotify
                Binding on value {
                    value: video.framePts
                    when: !sldPosition.pressed
                }
                // A review copy's chapters, one at each receipt, where the clip has them.
                Repeater {
                    model: video.chapters
                    Rectangle {
                        objectName: "tickChapter"
                        visible: modelData > 0
                        width: 2
                        height: sldPosition.height / 2
                        y: sldPosition.height / 4
                        x: sldPosition.leftPadding
                           + sldPosition.availableWidth * Math.min(1, Math.max(0, modelData / pane.length)) - 1
                        color: Math.abs(modelData - pane.currentOffset) < 0.05 ? "red" : "orange"
                    }
                }
                Repeater {
                    model: video.chapters.length > 0 ? 0 : receiptModel
                    Rectangle {
                        objectName: "tickReceipt"
                        width: 2
                        height: sldPosition.height / 2
                        y: sldPosition.height / 4
                        x: sldPosition.leftPadding
                           + sldPosition.availableWidth * Math.min(1, Math.max(0, offsetSeconds / pane.length)) - 1
                        color: index === receiptModel.current ? "red" : "orange"
                    }
                }
            }

            RowLayout {
                Label {
                    objectName: "lblWallTime"
                    font.bold: true
                    text: receiptModel.wallTime(video.framePts)
                    Accessible.role: Accessible.StaticText
                    Accessible.name: qsTr("Time of the picture: %1").arg(text) + I18n.localeNotify
                }
                Item { Layout.fillWidth: true }
                Label {
                    objectName: "lblSpeed"
                    text: qsTr("Speed %1×").arg(video.speed) + I18n.localeNotify
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }

            Flow {
                Layout.fillWidth: true
                spacing: 4

                Button {
                    objectName: "btnBack5"
                    text: qsTr("−5 s") + I18n.localeNotify
                    Accessible.name: qsTr("Back 5 seconds (Left; Shift+Left 1 second)") + I18n.localeNotify
                    onClicked: video.seekRelative(-5)
                }
                Button {
                    objectName: "btnFrameBack"
                    text: qsTr("◂ Frame") + I18n.localeNotify
                    enabled: video.paused
                    Accessible.name: qsTr("One frame back (comma), while paused") + I18n.localeNotify
                    onClicked: pane.step(false)
                }
                Button {
                    objectName: "btnPlayPause"
                    text: (video.paused ? qsTr("Play") : qsTr("Pause")) + I18n.localeNotify
                    Accessible.name: (video.paused ? qsTr("Play (Space)") : qsTr("Pause (Space)")) + I18n.localeNotify
                    onClicked: video.togglePause()
                }
                Button {
                    objectName: "btnFrameForward"
                    text: qsTr("Frame ▸") + I18n.localeNotify
                    enabled: video.paused
                    Accessible.name: qsTr("One frame forward (full stop), while paused") + I18n.localeNotify
                    onClicked: pane.step(true)
                }
                Button {
                    objectName: "btnForward5"
                    text: qsTr("+5 s") + I18n.localeNotify
                    Accessible.name: qsTr("Forward 5 seconds (Right; Shift+Right 1 second)") + I18n.localeNotify
                    onClicked: video.seekRelative(5)
                }
                Button {
                    objectName: "btnSlower"
                    text: qsTr("Slower") + I18n.localeNotify
                    Accessible.name: qsTr("Slower ([)") + I18n.localeNotify
                    onClicked: video.speedDown()
                }
                Button {
                    objectName: "btnFaster"
                    text: qsTr("Faster") + I18n.localeNotify
                    Accessible.name: qsTr("Faster (])") + I18n.localeNotify
                    onClicked: video.speedUp()
                }
                Button {
                    objectName: "btnPreviousReceipt"
                    text: qsTr("Previous receipt") + I18n.localeNotify
                    Accessible.name: qsTr("Previous receipt (Page Up)") + I18n.localeNotify
                    onClicked: pane.seekToReceipt(receiptModel.previousRow(video.framePts))
                }
                Button {
                    objectName: "btnNextReceipt"
                    text: qsTr("Next receipt") + I18n.localeNotify
                    Accessible.name: qsTr("Next receipt (Page Down)") + I18n.localeNotify
                    onClicked: pane.seekToReceipt(receiptModel.nextRow(video.framePts))
                }
                Button {
                    objectName: "btnStart"
                    text: qsTr("Start") + I18n.localeNotify
                    Accessible.name: qsTr("To the start (Home)") + I18n.localeNotify
                    onClicked: video.seek(0)
                }
                Button {
                    objectName: "btnEnd"
                    text: qsTr("End") + I18n.localeNotify
                    Accessible.name: qsTr("To the end (End)") + I18n.localeNotify
                    onClicked: video.seekToEnd()
                }
                CheckBox {
                    id: chkReceipts
                    objectName: "chkReceiptsOnPicture"
                    visible: pane.receiptsSwitchable
                    checked: true
                    text: qsTr("Receipts on the picture") + I18n.localeNotify
                    Accessible.name: text
                }
                Button {
                    objectName: "btnSaveStill"
                    text: qsTr("Save still") + I18n.localeNotify
                    enabled: video.frameDrawn
                    Accessible.name: qsTr("Save still (S)") + I18n.localeNotify
                    onClicked: pane.saveStill()
                }
                // The receipt chosen in the list happens in the frame shown: its till's clock is set by it.
                Button {
                    objectName: "btnTillClockHere"
                    readonly property string till: receiptModel.count > 0 ? receiptModel.tillOf(lstReceipts.currentIndex) : ""
                    visible: pane.receiptsSwitchable
                    enabled: till !== "" && video.frameDrawn
                    text: (till !== "" ? qsTr("%1's clock: here").arg(till) : qsTr("Till's clock: here")) + I18n.localeNotify
                    Accessible.name: qsTr("The receipt chosen in the list happens in this frame: set its till's clock by it")
                                     + I18n.localeNotify
                    onClicked: {
                        var said = receiptModel.setTillClockHere(lstReceipts.currentIndex, video.framePts)
                        Notifier.show(said !== "" ? said
                                                  : qsTr("The till's clock could not be set from this frame.") + I18n.localeNotify)
                    }
                }
                Button {
                    objectName: "btnExportThis"
                    text: qsTr("Export this") + I18n.localeNotify
                    visible: pane.canExport
                    Accessible.name: qsTr("Export this camera and window (E)") + I18n.localeNotify
                    onClicked: pane.exportThis()
                }
                Button {
                    objectName: "btnClosePlayer"
                    text: qsTr("Close") + I18n.localeNotify
                    Accessible.name: qsTr("Close the player (Escape)") + I18n.localeNotify
                    onClicked: pane.close()
                }
            }
        }

        ListView {
            id: lstReceipts
            objectName: "lstPlayerReceipts"
            Layout.preferredWidth: 280
            Layout.fillHeight: true
            clip: true
            focus: true
            model: receiptModel
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Receipts in this clip") + I18n.localeNotify
            Keys.onPressed: pane.handleKey(event)
            Keys.onReturnPressed: pane.seekToReceipt(currentIndex)
            Keys.onEnterPressed: pane.seekToReceipt(currentIndex)
            ScrollBar.vertical: ScrollBar {}
            // Follows playback; the arrows still choose another row for Return.
            Connections {
                target: receiptModel
                function onCurrentChanged() {
                    lstReceipts.currentIndex = receiptModel.current
                }
            }

            delegate: ItemDelegate {
                objectName: "receiptRow"
                width: lstReceipts.width
                // The receipt playback last passed.
                highlighted: index === receiptModel.current
                // The list's current row has the keys: Space plays and pauses here too, rather than
                // pressing the row.
                Keys.onPressed: pane.handleKey(event)
                text: timeText + "  " + preview
                Accessible.name: timeText + " " + preview
                onClicked: {
                    lstReceipts.currentIndex = index
                    pane.seekToReceipt(index)
                }
            }
        }
    }
}

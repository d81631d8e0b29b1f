import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// One receipt opened: its time and text, the export's window around it, the camera and quality to export
// with, and the way to its minutes on the timeline.
Popup {
    id: popDetail

    property date createdAt: new Date()
    property alias message: txtContent.text
    /// The receipt's cameras: maps with "strmId" and "strmName".
    property var streams: []
    /// How far the receipt's till's clock was taken to be off; createdAt is on the video's clock.
    property real tillClockOffsetMs: 0

    signal showOnTimelineRequested(string streamId, var createdAt)
    signal exportRequested(var createdAt, string streamId, string streamName, string content, bool highQuality)
    /// The export's window in the review player, from the chosen camera in the chosen quality.
    signal watchRequested(var createdAt, string streamId, string streamName, string content, bool highQuality)
    /// The window from each of cameras, into one folder.
    signal exportCamerasRequested(var createdAt, string content, var cameras, bool highQuality)

    /// Opens on a receipt, with the camera streamId chosen when the receipt lists it.
    function showReceipt(createdAt, content, streams, streamId, tillClockOffsetMs) {
        popDetail.message = content
        popDetail.createdAt = createdAt
        popDetail.tillClockOffsetMs = tillClockOffsetMs || 0
        popDetail.streams = streams
        var chosen = streamId ? cbStream.indexOfValue(streamId) : -1
        cbStream.currentIndex = chosen >= 0 ? chosen : (streams.length > 0 ? 0 : -1)
        open()
    }

    // Over the window rather than the page: a receipt can be opened, and its export followed, from the
    // recordings page as well, while the search page is out of view.
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
        // The time the till sent, where its clock is taken to be off; the time above is the cameras'.
        Label {
            objectName: "lblTillClock"
            visible: popDetail.tillClockOffsetMs !== 0
            text: qsTr("The till sent %1: its clock runs %2 s %3 the cameras'")
                  .arg(Utils.formatDateTime(Utils.addDateTime(popDetail.createdAt,
                                                              Math.round(popDetail.tillClockOffsetMs / 1000))))
                  .arg(Tills.secondsText(Math.abs(popDetail.tillClockOffsetMs)))
                  .arg(popDetail.tillClockOffsetMs > 0 ? qsTr("ahead of") : qsTr("behind"))
                  + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
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
                .arg(Utils.formatDateTime(Utils.addDateTime(popDetail.createdAt, -Exports.halfWindowSecs)))
                .arg(Utils.formatDateTime(Utils.addDateTime(popDetail.createdAt, Exports.halfWindowSecs)))
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
        // The same window from several cameras in one go, into one folder.
        CameraTicks {
            id: detailTicks
            objectName: "detailTicks"
            Layout.fillWidth: true
            cameras: Utils.knownCameras(popDetail.streams, StreamsList)
            initiallyTicked: popDetail.streams.map(function (camera) { return camera.strmId })
        }
        Label {
            id: lblNotExportable
            objectName: "lblNotExportable"
            Layout.fillWidth: true
            visible: text !== ""
            wrapMode: Text.Wrap
            color: "darkred"
            text: Exports.refusalFor(popDetail.createdAt, popDetail.streams) + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        // Wraps onto a second line where the window is too narrow for the buttons.
        Flow {
            Layout.fillWidth: true
            spacing: 6
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
                    popDetail.showOnTimelineRequested(cbStream.currentValue, popDetail.createdAt)
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
                    onClicked: popDetail.exportRequested(popDetail.createdAt,
                                                         cbStream.currentValue === undefined ? "" : cbStream.currentValue,
                                                         cbStream.currentText, popDetail.message,
                                                         cbQuality.currentIndex === 1)
                }
            }
            Button {
                objectName: "btnWatch"
                enabled: lblNotExportable.text === ""
                text: qsTr("Watch") + I18n.localeNotify
                Accessible.description: qsTr("The export's window from the chosen camera in the player, from 5 s before the receipt") + I18n.localeNotify
                onClicked: popDetail.watchRequested(popDetail.createdAt, cbStream.currentValue, cbStream.currentText,
                                                    popDetail.message, cbQuality.currentIndex === 1)
            }
            Button {
                objectName: "btnExportTicked"
                // A receipt without a valid time has no window, whatever the cameras.
                enabled: detailTicks.tickedCameras.length > 0
                         && Exports.refusalFor(popDetail.createdAt, detailTicks.tickedCameras) === ""
                text: qsTr("Export from the ticked cameras\u2026") + I18n.localeNotify
                Accessible.name: qsTr("Export the window from every ticked camera") + I18n.localeNotify
                onClicked: popDetail.exportCamerasRequested(popDetail.createdAt, popDetail.message,
                                                            detailTicks.tickedCameras, cbQuality.currentIndex === 1)
            }
        }
    }
}

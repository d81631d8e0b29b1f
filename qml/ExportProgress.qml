import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// A running export: what it is doing, how much of the window is encoded and the frames FFmpeg has
// done. While it runs only "Cancel" and "Continue in the background" close the box; neither Escape nor
// a click outside does.
Popup {
    id: box
    property ExportJob job: null
    signal cancelRequested()

    modal: true
    dim: true
    focus: true
    closePolicy: Popup.NoAutoClose

    ColumnLayout {
        anchors.fill: parent

        Label {
            objectName: "lblExportPhase"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: box.job ? box.job.phase : ""
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        ProgressBar {
            objectName: "barExport"
            Layout.fillWidth: true
            from: 0
            to: 100
            // Moves from "Save" on: indeterminate until FFmpeg says how far it is.
            indeterminate: !box.job || box.job.percent < 0
            value: box.job && box.job.percent >= 0 ? box.job.percent : 0
            Accessible.name: (indeterminate ? qsTr("Export in progress") : qsTr("%1% of the window encoded").arg(value))
                             + I18n.localeNotify
        }
        Label {
            objectName: "lblExportPercent"
            visible: box.job !== null && box.job.percent >= 0
            text: qsTr("%1% of the window encoded").arg(box.job ? box.job.percent : 0) + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        TextField {
            objectName: "txtFrames"
            Layout.fillWidth: true
            readOnly: true
            text: "Processed: %1 frame(s)".arg(box.job ? box.job.frame : "0")
            Accessible.name: text
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter
            Button {
                objectName: "btnCancelExport"
                text: qsTr("Cancel") + I18n.localeNotify
                enabled: box.job !== null && box.job.isRunning
                Accessible.name: qsTr("Cancel the export") + I18n.localeNotify
                onClicked: box.cancelRequested()
            }
            // The export goes on in the queue, and the window is free for other work meanwhile.
            Button {
                objectName: "btnExportBackground"
                text: qsTr("Continue in the background") + I18n.localeNotify
                enabled: box.job !== null && box.job.isRunning
                Accessible.name: text
                onClicked: box.close()
            }
        }
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// Asks once, for all the receipts chosen, which cameras to export from, in what quality and into
// which folder.
Popup {
    id: box
    /// The rows of the list of receipts to export.
    property var rows: []
    property int receiptCount: 0
    /// Of the receipts chosen, the cameras each names, added up.
    property int ownCameraCount: 0
    /// Every camera known: of the video server and of the receipts.
    property var cameras: []
    property alias folder: txtBatchFolder.text
    readonly property int videoCount: rbOwnCameras.checked ? ownCameraCount
                                      : receiptCount * (rbAllCameras.checked ? cameras.length
                                                                             : batchTicks.tickedCameras.length)
    signal chooseFolderRequested()
    /// cameras: those to take from every receipt; ownCameras: each receipt's own instead.
    signal exportRequested(bool ownCameras, var cameras, bool highQuality, string folder)

    modal: true
    dim: true
    focus: true
    onAboutToShow: rbOwnCameras.checked = true

    /// Opens on rows of results (a list of receipts: the search results, the flagged receipts).
    function ask(results, chosenRows) {
        var own = Exports.camerasOf(results, chosenRows)
        rows = chosenRows
        receiptCount = chosenRows.length
        ownCameraCount = own.length
        cameras = Utils.knownCameras(own, StreamsList)
        if (folder === "")
            folder = Exports.suggestedFolder()
        open()
    }

    ColumnLayout {
        anchors.fill: parent

        Label {
            objectName: "lblBatchTitle"
            font.bold: true
            text: (box.receiptCount === 1 ? qsTr("Export the selected receipt")
                                          : qsTr("Export the %1 selected receipts").arg(box.receiptCount))
                  + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        ButtonGroup {
            id: cameraChoice
        }
        RadioButton {
            id: rbOwnCameras
            objectName: "rbOwnCameras"
            checked: true
            focus: true
            ButtonGroup.group: cameraChoice
            text: qsTr("From each receipt's own cameras") + I18n.localeNotify
            Accessible.name: text
        }
        RadioButton {
            id: rbAllCameras
            objectName: "rbAllCameras"
            ButtonGroup.group: cameraChoice
            text: qsTr("From all cameras") + I18n.localeNotify
            Accessible.name: text
        }
        RadioButton {
            id: rbTickedCameras
            objectName: "rbTickedCameras"
            ButtonGroup.group: cameraChoice
            text: qsTr("From the cameras ticked here:") + I18n.localeNotify
            Accessible.name: text
        }
        CameraTicks {
            id: batchTicks
            objectName: "batchTicks"
            Layout.fillWidth: true
            Layout.leftMargin: 24
            enabled: rbTickedCameras.checked
            cameras: box.cameras
        }
        ComboBox {
            id: cbBatchQuality
            objectName: "cbBatchQuality"
            Layout.fillWidth: true
            model: [qsTr("Standard quality (hi=0)") + I18n.localeNotify,
                qsTr("High quality (hi=1)") + I18n.localeNotify]
            Accessible.name: qsTr("Video quality") + I18n.localeNotify
        }
        RowLayout {
            Layout.fillWidth: true
            Label {
                text: qsTr("Folder") + I18n.localeNotify
            }
            TextField {
                id: txtBatchFolder
                objectName: "txtBatchFolder"
                Layout.fillWidth: true
                Layout.minimumWidth: 300
                selectByMouse: true
                Accessible.name: qsTr("Folder for the exports") + I18n.localeNotify
            }
            Button {
                objectName: "btnBatchFolder"
                text: qsTr("Choose\u2026") + I18n.localeNotify
                Accessible.name: qsTr("Choose the folder for the exports") + I18n.localeNotify
                onClicked: box.chooseFolderRequested()
            }
        }
        Label {
            objectName: "lblBatchCount"
            text: (box.videoCount === 1 ? qsTr("1 video and its evidence package")
                                        : qsTr("%1 videos, each with its evidence package").arg(box.videoCount))
                  + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter
            Button {
                objectName: "btnBatchCancel"
                text: qsTr("Cancel") + I18n.localeNotify
                Accessible.name: qsTr("Cancel, export nothing") + I18n.localeNotify
                onClicked: box.close()
            }
            Button {
                objectName: "btnBatchExport"
                enabled: box.videoCount > 0 && txtBatchFolder.text.trim() !== ""
                text: qsTr("Export") + I18n.localeNotify
                Accessible.name: text
                onClicked: box.exportRequested(rbOwnCameras.checked,
                                               rbAllCameras.checked ? box.cameras : batchTicks.tickedCameras,
                                               cbBatchQuality.currentIndex === 1, txtBatchFolder.text.trim())
            }
        }
    }
}

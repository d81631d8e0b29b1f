import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// A finished export: where its video is, and a way to its folder.
Popup {
    id: box
    property string videoPath: ""
    signal openFolderRequested()

    modal: true
    dim: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    // The progress box that closes just before this one opens hands the keys back behind it.
    onOpened: btnOpenFolder.forceActiveFocus()

    ColumnLayout {
        anchors.fill: parent

        Label {
            objectName: "lblExportDone"
            font.bold: true
            text: qsTr("Export finished") + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Label {
            objectName: "lblExportWhere"
            text: qsTr("The video and its evidence package are in:") + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        // Read-only but selectable, so that the path can be copied.
        TextField {
            objectName: "txtExportPath"
            Layout.fillWidth: true
            Layout.minimumWidth: 400
            readOnly: true
            selectByMouse: true
            text: box.videoPath
            Accessible.name: qsTr("Exported video") + I18n.localeNotify
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter
            Button {
                id: btnOpenFolder
                objectName: "btnExportOpenFolder"
                focus: true
                text: qsTr("Open folder") + I18n.localeNotify
                Accessible.name: qsTr("Open the folder of the exported video") + I18n.localeNotify
                onClicked: box.openFolderRequested()
            }
            Button {
                objectName: "btnExportDoneClose"
                text: qsTr("Close") + I18n.localeNotify
                Accessible.name: text
                onClicked: box.close()
            }
        }
    }
}

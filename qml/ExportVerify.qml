import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Qt.labs.platform 1.1 as Platform
import Tillmark 1.0

// "Verify export…": the operator picks an export's checksum file or manifest, and the controller checks
// the package again.
RowLayout {
    id: row
    property ExportController controller: null

    Button {
        objectName: "btnVerifyExport"
        text: qsTr("Verify export…") + I18n.localeNotify
        enabled: row.controller !== null && !row.controller.isVerifying
        Accessible.name: qsTr("Verify an exported evidence package") + I18n.localeNotify
        onClicked: dlgVerify.open()
    }
    BusyIndicator {
        objectName: "busyVerify"
        running: row.controller !== null && row.controller.isVerifying
        visible: running
        Layout.preferredHeight: 24
        Layout.preferredWidth: 24
        Accessible.name: qsTr("Checking the export") + I18n.localeNotify
    }

    Platform.FileDialog {
        id: dlgVerify
        objectName: "dlgVerify"
        title: qsTr("Verify export") + I18n.localeNotify
        fileMode: Platform.FileDialog.OpenFile
        nameFilters: [qsTr("Export checksums or manifest (*.sha256 *.manifest.json)") + I18n.localeNotify]
        folder: Platform.StandardPaths.writableLocation(Platform.StandardPaths.MoviesLocation)
        onAccepted: row.controller.verify(String(file))
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// The tills met so far, each with how far its clock runs ahead of the cameras' (negative: behind). A
// receipt meets the video at its till's time less that: on the timeline, in the exports and their scripts.
Popup {
    id: box

    property string error: ""

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: parent ? Math.min(parent.width * 0.8, 560) : 560
    height: parent ? parent.height * 0.7 : 400
    modal: true
    dim: true
    focus: true
    onAboutToShow: error = ""

    function setOffset(row, text) {
        var seconds = Number(String(text).trim().replace(",", "."))
        if (String(text).trim() === "" || isNaN(seconds) || !Tills.setOffsetSecs(row, seconds)) {
            error = qsTr("A till's offset is a number of seconds between -%1 and %1, such as 20 or -3.5.")
                    .arg(Tills.limitSecs) + I18n.localeNotify
            return false
        }
        error = ""
        return true
    }

    ColumnLayout {
        anchors.fill: parent

        Label {
            text: qsTr("Tills' clocks") + I18n.localeNotify
            font.bold: true
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: qsTr("How many seconds each till's clock runs ahead of the cameras (negative: behind). Receipts are shown, marked on the timeline and exported at their till's time less this; the evidence package keeps the time the till sent and the offset.")
                  + I18n.localeNotify
        }
        Label {
            objectName: "lblNoTills"
            visible: Tills.count === 0
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: qsTr("No till met yet: search for receipts or exceptions first.") + I18n.localeNotify
        }
        ListView {
            id: lstTills
            objectName: "lstTills"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: Tills
            spacing: 4
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Tills") + I18n.localeNotify

            delegate: RowLayout {
                width: ListView.view.width
                Label {
                    Layout.fillWidth: true
                    elide: Text.ElideRight
                    text: tillName === "" ? qsTr("Till %1").arg(tillId) + I18n.localeNotify
                                          : tillId === "" ? tillName : "%1 (%2)".arg(tillName).arg(tillId)
                }
                TextField {
                    id: txtOffset
                    objectName: "txtTillOffset"
                    Layout.preferredWidth: 90
                    horizontalAlignment: Text.AlignRight
                    selectByMouse: true
                    text: offsetText
                    validator: RegularExpressionValidator {
                        regularExpression: /-?[0-9]*([.,][0-9]{0,3})?/
                    }
                    Accessible.name: qsTr("Seconds the clock of %1 runs ahead").arg(tillName === "" ? tillId : tillName)
                                     + I18n.localeNotify
                    // A value refused goes back to the one in use.
                    onEditingFinished: if (!box.setOffset(index, text)) text = Qt.binding(function () { return offsetText })
                }
                Label {
                    text: qsTr("s") + I18n.localeNotify
                }
            }
        }
        Label {
            objectName: "lblTillsError"
            Layout.fillWidth: true
            visible: box.error !== ""
            wrapMode: Text.Wrap
            color: "darkred"
            text: box.error
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Button {
            objectName: "btnTillsClose"
            Layout.alignment: Qt.AlignRight
            text: qsTr("Close") + I18n.localeNotify
            onClicked: box.close()
        }
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// Asked before receipts exported in this session already are exported again: again, without those (when
// there are others), or not at all.
Popup {
    id: box
    property alias question: lblAgain.text
    property var yesAction: null
    property var skipAction: null

    /// Asks text; yes or skip (null: no such choice) runs on the answer.
    function ask(text, yes, skip) {
        question = text
        yesAction = yes
        skipAction = skip
        open()
    }
    function answer(then) {
        close()
        if (then)
            then()
    }

    modal: true
    dim: true
    focus: true

    ColumnLayout {
        anchors.fill: parent
        Label {
            id: lblAgain
            objectName: "lblAgain"
            Layout.maximumWidth: box.parent ? box.parent.width * 0.8 : 600
            wrapMode: Text.Wrap
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        RowLayout {
            Layout.alignment: Qt.AlignHCenter
            Button {
                objectName: "btnAgainYes"
                focus: true
                text: qsTr("Export again") + I18n.localeNotify
                Accessible.name: text
                onClicked: box.answer(box.yesAction)
            }
            Button {
                objectName: "btnAgainSkip"
                visible: box.skipAction !== null
                text: qsTr("Leave those out") + I18n.localeNotify
                Accessible.name: qsTr("Export only those not exported yet") + I18n.localeNotify
                onClicked: box.answer(box.skipAction)
            }
            Button {
                objectName: "btnAgainNo"
                text: qsTr("Cancel") + I18n.localeNotify
                Accessible.name: qsTr("Cancel, export nothing") + I18n.localeNotify
                onClicked: box.answer(null)
            }
        }
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import QtQuick.Window 2.15
import Qt.labs.platform 1.1
import Tillmark 1.0

ApplicationWindow {
    id: window
    width: 800
    height: 600
    visible: true
    title: qsTr("Tillmark") + I18n.localeNotify

    StackView {
        id: stackMain
        anchors.fill: parent
        initialItem: compLogin
    }

    Component {
        id: compLogin
        PageLogin {
            onLoggedIn: stackMain.replace(compMain)
        }
    }

    Component {
        id: compMain
        PageDirection { }
    }

    // Not pushed: the search page lives inside PageDirection.
    Component {
        id: compSearch
        PageSearch { }
    }

    Popup {
        id: popMessage
        objectName: "popMessage"
        property string message: ""
        x: (window.width - width) / 2
        y: (window.height - height) / 2
        modal: true
        dim: true
        closePolicy: Popup.NoAutoClose

        ColumnLayout {
            anchors.fill: parent
            Label {
                objectName: "popMessageText"
                Layout.alignment: Qt.AlignHCenter
                Layout.maximumWidth: window.width * 0.8
                text: popMessage.message
                wrapMode: Text.Wrap
            }
            Button {
                objectName: "popMessageClose"
                Layout.alignment: Qt.AlignHCenter
                text: qsTr("Close") + I18n.localeNotify
                onClicked: popMessage.close()
            }
        }
    }

    Popup {
        id: popLoading
        objectName: "popLoading"
        x: (window.width - width) / 2
        y: (window.height - height) / 2
        modal: true
        dim: true
        closePolicy: Popup.NoAutoClose

        RowLayout {
            anchors.fill: parent
            BusyIndicator {
                running: popLoading.visible
            }
            Label {
                text: qsTr("Loading") + I18n.localeNotify
            }
        }
    }

    FileDialog {
        id: saveFileDialog
        objectName: "saveFileDialog"
        property var okCallback: null
        property var cancelCallback: null
        title: qsTr("Save file") + I18n.localeNotify
        fileMode: FileDialog.SaveFile
        defaultSuffix: "mp4"
        onAccepted: {
            if (okCallback)
                okCallback(currentFile)
        }
        onRejected: {
            if (cancelCallback)
                cancelCallback()
        }
    }
}

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

    // The window does not give the keyboard back to anything by itself once another window (the save
    // dialog) has had it: the control that had it last takes it again.
    property Item lastFocusItem: null
    onActiveFocusItemChanged: if (activeFocusItem)
                                  lastFocusItem = activeFocusItem
    onActiveChanged: {
        if (active && !activeFocusItem && lastFocusItem && lastFocusItem.visible)
            lastFocusItem.forceActiveFocus()
    }

    /// Exports waiting or running on the page shown.
    function exportsLeft() {
        var page = stackMain.currentItem
        return page && page.exportsLeft !== undefined ? page.exportsLeft : 0
    }

    // Exports that wait or run are not dropped without a word: the operator is asked first.
    onClosing: {
        if (exportsLeft() > 0) {
            close.accepted = false
            popLeave.ask(false)
        }
    }

    // Focus down the whole chain of pages: when a box closes, the keys go back to where they were.
    StackView {
        id: stackMain
        anchors.fill: parent
        focus: true
        initialItem: compLogin
    }

    Component {
        id: compLogin
        PageLogin {
            focus: true
            onLoggedIn: stackMain.replace(compMain)
        }
    }

    Component {
        id: compMain
        PageDirection {
            focus: true
            onLoggedOut: window.logOut()
        }
    }

    // Back to the login page with the servers and the user name as typed; the password is forgotten,
    // and so are the cameras and the credentials the video server accepted.
    function logOut() {
        if (exportsLeft() > 0) {
            popLeave.ask(true)
            return
        }
        var kept = {
            posHost: AppState.posBase.replace(/^http:\/\//, ""),
            host: AppState.base.replace(/^http:\/\//, ""),
            userName: AppState.user,
            password: ""
        }
        AppState.password = ""
        StreamsList.clear()
        stackMain.replace(compLogin, kept)
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
        // Keys go to the box while it shows, not to the control under it.
        focus: true

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
                focus: true
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
        focus: true

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

    // Asked when the window closes, or the operator logs out, while exports wait or run.
    Popup {
        id: popLeave
        objectName: "popLeave"
        property bool loggingOut: false
        x: (window.width - width) / 2
        y: (window.height - height) / 2
        modal: true
        dim: true
        focus: true

        function ask(logOut) {
            loggingOut = logOut
            open()
        }

        ColumnLayout {
            anchors.fill: parent
            Label {
                objectName: "lblLeave"
                Layout.maximumWidth: window.width * 0.8
                wrapMode: Text.Wrap
                text: (window.exportsLeft() === 1 ? qsTr("An export is still waiting or running.")
                                                  : qsTr("%1 exports are still waiting or running.")
                                                    .arg(window.exportsLeft()))
                      + " " + (popLeave.loggingOut ? qsTr("Cancel them and log out?") : qsTr("Cancel them and close?"))
                      + I18n.localeNotify
                Accessible.role: Accessible.StaticText
                Accessible.name: text
            }
            RowLayout {
                Layout.alignment: Qt.AlignHCenter
                Button {
                    objectName: "btnLeaveKeep"
                    focus: true
                    text: qsTr("Keep exporting") + I18n.localeNotify
                    Accessible.name: text
                    onClicked: popLeave.close()
                }
                Button {
                    objectName: "btnLeaveCancel"
                    text: (popLeave.loggingOut ? qsTr("Cancel the exports and log out")
                                               : qsTr("Cancel the exports and close")) + I18n.localeNotify
                    Accessible.name: text
                    onClicked: {
                        popLeave.close()
                        // Cancelled jobs remove their partial files before this returns.
                        stackMain.currentItem.cancelExports()
                        if (popLeave.loggingOut)
                            window.logOut()
                        else
                            window.close()
                    }
                }
            }
        }
    }

    FolderDialog {
        id: folderDialog
        objectName: "folderDialog"
        property var okCallback: null
        title: qsTr("Folder for the exports") + I18n.localeNotify
        onAccepted: {
            if (okCallback)
                okCallback(folder)
        }

        function openOn(folderUrl) {
            if (widgetFolderDialog.available) {
                widgetFolderDialog.open(title, folderUrl)
                return
            }
            currentFolder = folderUrl
            open()
        }
    }

    // Stands in for the folder dialog where the platform has none (see FolderChooser).
    FolderChooser {
        id: widgetFolderDialog
        onChosen: {
            if (folderDialog.okCallback)
                folderDialog.okCallback(folder)
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
        // An opener may set its own suffix; the next one that sets none gets "mp4" again.
        onAccepted: {
            defaultSuffix = "mp4"
            if (okCallback)
                okCallback(currentFile)
        }
        onRejected: {
            defaultSuffix = "mp4"
            if (cancelCallback)
                cancelCallback()
        }

        /// Opens the dialog on fileUrl (its folder and name). A dialog that is built on its first
        /// opening (the Widgets one where the platform has no native dialog) starts on its folder
        /// alone, so the name is given again once it is open.
        function openOn(fileUrl) {
            currentFile = fileUrl
            open()
            if (String(currentFile) !== String(fileUrl))
                currentFile = fileUrl
        }
    }
}

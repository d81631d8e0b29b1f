import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import QtQuick.Window 2.15
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

    // Exports that wait or run are not dropped without a word: the operator is asked first.
    onClosing: {
        if (Exports.queue.pendingCount > 0) {
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
            dialogs: appDialogs
            onLoggedOut: window.logOut()
        }
    }

    // Back to the login page with the servers and the user name as typed; the password is forgotten,
    // and so are the cameras, the credentials the video server accepted and the session's exports.
    function logOut() {
        if (Exports.queue.pendingCount > 0) {
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
        Exports.forget()
        stackMain.replace(compLogin, kept)
    }

    // What any page or export has to say, one message at a time.
    Popup {
        id: popMessage
        objectName: "popMessage"
        readonly property string message: Notifier.message
        visible: message !== ""
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
                onClicked: Notifier.dismiss()
            }
        }
    }

    Popup {
        id: popLoading
        objectName: "popLoading"
        visible: Notifier.busy
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
                text: (Exports.queue.pendingCount === 1 ? qsTr("An export is still waiting or running.")
                                                        : qsTr("%1 exports are still waiting or running.")
                                                          .arg(Exports.queue.pendingCount))
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
                        Exports.cancelAll()
                        if (popLeave.loggingOut)
                            window.logOut()
                        else
                            window.close()
                    }
                }
            }
        }
    }

    AppDialogs {
        id: appDialogs
    }

    // A server's certificate the system does not trust, for the operator to look at.
    CertificateQuestion { }

    // Found out during the login: said at once, wherever the operator is by then; the login page says it
    // too, before the password is typed again.
    Connections {
        target: VmsClient
        function onBasicInClearChanged() {
            if (VmsClient.basicInClear)
                Notifier.show(VmsClient.basicInClearText)
        }
    }
}

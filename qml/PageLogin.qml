import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

Page {
    id: page
    padding: 10

    signal loggedIn()

    function login() {
        txtError.text = ""
        AppState.posBase = "http://%1".arg(txtPosHost.text)
        AppState.base = "http://%1".arg(txtHost.text)
        AppState.user = txtUsername.text
        AppState.password = txtPassword.text
        apiCall.testLogin()
    }

    ApiCall {
        id: apiCall
        objectName: "apiCall"
        onErrorOccured: txtError.text = message
        onLoggedIn: page.loggedIn()
    }

    GridLayout {
        anchors.centerIn: parent
        columns: 2

        Label {
            text: qsTr("POS") + I18n.localeNotify
        }
        TextField {
            id: txtPosHost
            objectName: "txtPosHost"
            Layout.preferredWidth: 260
            text: "localhost:8000"
            selectByMouse: true
        }

        Label {
            text: qsTr("Host") + I18n.localeNotify
        }
        TextField {
            id: txtHost
            objectName: "txtHost"
            Layout.preferredWidth: 260
            text: "localhost:7001"
            selectByMouse: true
        }

        Label {
            text: qsTr("Username") + I18n.localeNotify
        }
        TextField {
            id: txtUsername
            objectName: "txtUsername"
            Layout.preferredWidth: 260
            text: "admin"
            selectByMouse: true
        }

        Label {
            text: qsTr("Password") + I18n.localeNotify
        }
        TextField {
            id: txtPassword
            objectName: "txtPassword"
            Layout.preferredWidth: 260
            text: "Pelmo4826"
            echoMode: TextInput.Password
            Accessible.passwordEdit: true
            onAccepted: if (btnLogin.enabled) page.login()
        }

        RowLayout {
            Layout.columnSpan: 2
            Layout.alignment: Qt.AlignRight
            Label {
                id: txtError
                objectName: "txtError"
                Layout.maximumWidth: 300
                color: "red"
                visible: text !== ""
                wrapMode: Text.Wrap
            }
            Button {
                id: btnLogin
                objectName: "btnLogin"
                text: qsTr("Login") + I18n.localeNotify
                enabled: !apiCall.isLoggingIn
                onClicked: page.login()
            }
        }
    }
}

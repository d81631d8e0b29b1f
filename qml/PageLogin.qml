import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

Page {
    id: page
    padding: 10
    // Screen readers name the page by its title.
    title: qsTr("Login") + I18n.localeNotify

    // What the fields start with; after a log-out, what was typed before it.
    property string posHost: "localhost:8000"
    property string host: "localhost:7001"
    property string userName: "admin"
    property string password: "Pelmo4826"

    signal loggedIn()

    // The cursor starts in the first field, or in the password field when only that is left to type.
    Component.onCompleted: (password === "" && posHost !== "" ? txtPassword : txtPosHost).forceActiveFocus()

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

        // Return in any field logs in, as does the button.
        Keys.onReturnPressed: if (btnLogin.enabled) page.login()
        Keys.onEnterPressed: if (btnLogin.enabled) page.login()

        Label {
            text: qsTr("POS") + I18n.localeNotify
        }
        TextField {
            id: txtPosHost
            objectName: "txtPosHost"
            Layout.preferredWidth: 260
            text: page.posHost
            selectByMouse: true
            Accessible.name: qsTr("POS") + I18n.localeNotify
        }

        Label {
            text: qsTr("Host") + I18n.localeNotify
        }
        TextField {
            id: txtHost
            objectName: "txtHost"
            Layout.preferredWidth: 260
            text: page.host
            selectByMouse: true
            Accessible.name: qsTr("Host") + I18n.localeNotify
        }

        Label {
            text: qsTr("Username") + I18n.localeNotify
        }
        TextField {
            id: txtUsername
            objectName: "txtUsername"
            Layout.preferredWidth: 260
            text: page.userName
            selectByMouse: true
            Accessible.name: qsTr("Username") + I18n.localeNotify
        }

        Label {
            text: qsTr("Password") + I18n.localeNotify
        }
        TextField {
            id: txtPassword
            objectName: "txtPassword"
            Layout.preferredWidth: 260
            text: page.password
            echoMode: TextInput.Password
            // Also its name for screen readers, which are not given Accessible.name of a password field.
            placeholderText: qsTr("Password") + I18n.localeNotify
            Accessible.passwordEdit: true
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

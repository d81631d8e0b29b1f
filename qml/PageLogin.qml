import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

Page {
    id: page
    padding: 10
    // Screen readers name the page by its title.
    title: qsTr("Login") + I18n.localeNotify

    // What the fields start with: the settings (the servers and user of the last login, or the
    // program's defaults); after a log-out, what was typed before it. A plain HTTP server is shown as
    // "host:port", as it is typed.
    function shown(base) {
        return base.replace(/^http:\/\//, "")
    }
    property string posHost: shown(AppState.posBase)
    property string host: shown(AppState.base)
    property string userName: AppState.user
    property string password: AppState.password

    // A login stopped by a certificate not trusted yet is tried again once the operator trusts it.
    property bool waitingForTrust: false

    signal loggedIn()

    // The cursor starts in the first field, or in the password field when only that is left to type.
    Component.onCompleted: (password === "" && posHost !== "" ? txtPassword : txtPosHost).forceActiveFocus()

    function login() {
        txtError.text = ""
        waitingForTrust = false
        AppState.posBase = PosClient.baseFor(txtPosHost.text)
        AppState.base = VmsClient.baseFor(txtHost.text)
        AppState.user = txtUsername.text
        AppState.password = txtPassword.text
        apiCall.testLogin()
    }

    ApiCall {
        id: apiCall
        objectName: "apiCall"
        onErrorOccured: {
            txtError.text = message
            page.waitingForTrust = CertificateTrust.asking
        }
        onLoggedIn: {
            AppState.rememberConnection()
            page.loggedIn()
        }
    }

    Connections {
        target: CertificateTrust
        function onTrusted(server) {
            if (page.waitingForTrust)
                page.login()
        }
        function onQuestionChanged() {
            if (!CertificateTrust.asking && page.waitingForTrust)
                page.waitingForTrust = false
        }
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

        // The server takes the password in the clear: said before it is typed again.
        Label {
            id: lblBasicInClear
            objectName: "lblBasicInClear"
            Layout.columnSpan: 2
            Layout.maximumWidth: 400
            visible: VmsClient.basicInClear && VmsClient.baseFor(txtHost.text) === AppState.base
                     && !AppState.base.startsWith("https://")
            color: "darkorange"
            wrapMode: Text.Wrap
            text: VmsClient.basicInClearText + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        RowLayout {
            Layout.columnSpan: 2
            Layout.alignment: Qt.AlignRight
            // The certificates trusted so far for servers the system does not trust, forgotten: each is
            // shown again the next time.
            Button {
                objectName: "btnForgetCertificates"
                visible: CertificateTrust.trustedCount > 0
                flat: true
                text: qsTr("Forget trusted certificates (%1)").arg(CertificateTrust.trustedCount) + I18n.localeNotify
                Accessible.description: qsTr("Each server's certificate is shown again for you to trust on the next connection") + I18n.localeNotify
                onClicked: CertificateTrust.forgetAll()
            }
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

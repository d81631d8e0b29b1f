import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// A server's certificate that the system does not trust, shown the first time it is met: the operator
// compares it (its fingerprint, best) with what the server's administrator says, and trusts it or not.
Popup {
    id: box
    objectName: "certificateQuestion"
    anchors.centerIn: Overlay.overlay
    width: Math.min(parent ? parent.width * 0.9 : 640, 640)
    modal: true
    dim: true
    focus: true
    closePolicy: Popup.NoAutoClose
    visible: CertificateTrust.asking

    ColumnLayout {
        anchors.fill: parent
        spacing: 8

        Label {
            Layout.fillWidth: true
            font.bold: true
            wrapMode: Text.Wrap
            text: qsTr("Trust the certificate of %1?").arg(CertificateTrust.server) + I18n.localeNotify
            Accessible.role: Accessible.Heading
            Accessible.name: text
        }
        Label {
            objectName: "lblCertificateReason"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: qsTr("The system does not trust it: %1").arg(CertificateTrust.reason) + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        TextArea {
            objectName: "txtCertificate"
            Layout.fillWidth: true
            readOnly: true
            wrapMode: TextEdit.WrapAnywhere
            font.family: "monospace"
            text: CertificateTrust.details
            Accessible.name: qsTr("The certificate") + I18n.localeNotify
        }
        Label {
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: qsTr("Compare the fingerprint with the one the server's administrator gives you. Trusted, this certificate is remembered for this server; a different one later is refused.") + I18n.localeNotify
        }
        RowLayout {
            Layout.alignment: Qt.AlignRight
            Button {
                objectName: "btnTrustCertificate"
                text: qsTr("Trust this certificate") + I18n.localeNotify
                onClicked: CertificateTrust.trust()
            }
            Button {
                objectName: "btnDeclineCertificate"
                // The safe answer has the keys.
                focus: true
                text: qsTr("Cancel") + I18n.localeNotify
                onClicked: CertificateTrust.decline()
            }
        }
    }
}

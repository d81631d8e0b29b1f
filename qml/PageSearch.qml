import QtQuick 2.15
import QtQuick.Controls 2.15
import Tillmark 1.0

Page {
    Label {
        anchors.centerIn: parent
        text: qsTr("Search") + I18n.localeNotify
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// A day, picked on a month calendar and taken over with "Ok".
ComboBox {
    id: root

    property date selectedDate: new Date()

    implicitWidth: 160
    // Follows the calendar as the operator browses it, before "Ok" takes the day over.
    displayText: calendar.selectedDate.toLocaleDateString(Qt.locale(), Locale.ShortFormat)

    popup: Popup {
        objectName: "datePopup"
        y: root.height
        padding: 6
        // The arrow keys move the day as soon as the calendar opens.
        focus: true

        contentItem: ColumnLayout {
            Calendar {
                id: calendar
                objectName: "calendar"
                focus: true
                Layout.preferredWidth: 300
                Layout.preferredHeight: 230
            }
            Button {
                objectName: "btnDateOk"
                Layout.alignment: Qt.AlignRight
                text: qsTr("Ok") + I18n.localeNotify
                onClicked: {
                    root.selectedDate = calendar.selectedDate
                    root.popup.close()
                }
            }
        }
    }
}

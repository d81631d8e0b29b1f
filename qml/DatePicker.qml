import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// A day, picked on a month calendar and taken over with "Ok" (or Return).
ComboBox {
    id: root

    property date selectedDate: new Date()

    // Takes over the local day of a date-time, as "Ok" takes over the calendar's.
    function setDay(when) {
        root.selectedDate = new Date(when.getFullYear(), when.getMonth(), when.getDate())
    }

    // However the day was set, the calendar opens on it and the box shows it.
    onSelectedDateChanged: calendar.selectedDate = selectedDate

    function accept() {
        root.selectedDate = calendar.selectedDate
        root.popup.close()
    }

    implicitWidth: 160
    // Follows the calendar as the operator browses it, before "Ok" takes the day over.
    displayText: calendar.selectedDate.toLocaleDateString(Qt.locale(), Locale.ShortFormat)
    Accessible.name: qsTr("Date: %1").arg(selectedDate.toLocaleDateString(Qt.locale(), Locale.LongFormat))
                     + I18n.localeNotify

    // A label rather than the style's read-only text field: the box is one control for the keyboard and
    // for screen readers, which would meet an unnamed text field inside it.
    contentItem: Label {
        leftPadding: 12
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        text: root.displayText
    }

    popup: Popup {
        objectName: "datePopup"
        y: root.height
        padding: 6
        // The arrow keys move the day as soon as the calendar opens.
        focus: true
        // Closed without "Ok" (Escape, a click elsewhere): the calendar goes back to the day in use, so
        // the box never shows a day other than the one the page loads and downloads.
        onClosed: calendar.selectedDate = root.selectedDate

        contentItem: ColumnLayout {
            Calendar {
                id: calendar
                objectName: "calendar"
                focus: true
                activeFocusOnTab: true
                Layout.preferredWidth: 300
                Layout.preferredHeight: 230
                Accessible.name: qsTr("Calendar") + I18n.localeNotify
                Keys.onReturnPressed: root.accept()
                Keys.onEnterPressed: root.accept()
            }
            Button {
                objectName: "btnDateOk"
                Layout.alignment: Qt.AlignRight
                text: qsTr("Ok") + I18n.localeNotify
                onClicked: root.accept()
            }
        }
    }
}

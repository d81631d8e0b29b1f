import QtQuick 2.15
import QtQuick.Controls 2.15
import Tillmark 1.0

// One end of the timeline's selection as a wall-clock time, "HH:MM", that can be typed. Red while the
// text is no time of the day (on the day the clock goes forward, an hour of it does not exist).
TextField {
    id: field

    property DayClock day
    // The selection's minute this field stands for; -1 when nothing is selected.
    property int minute: -1
    // What the text means: the selection's own minute while the field shows it, so that an hour the
    // clock repeats keeps its second pass; else the first minute of the day with the typed time.
    readonly property int typedMinute: day === null ? -1
                                       : (day.date, text === day.timeText(minute) ? minute : day.minuteAt(text))
    readonly property bool valid: text === "" || typedMinute >= 0

    // A new time that the day has, as the day's minute: on Return, or when the field is left.
    signal timeEntered(int entered)

    function show() {
        text = day ? day.timeText(minute) : ""
    }

    // The field follows the selection, whoever made it, and the day's clock.
    onMinuteChanged: show()
    Connections {
        target: field.day
        function onDateChanged() {
            field.show()
        }
    }

    implicitWidth: 64
    placeholderText: "HH:MM"
    inputMethodHints: Qt.ImhPreferNumbers
    selectByMouse: true
    color: valid ? palette.text : "red"
    Accessible.description: valid ? "" : qsTr("Not a time of this day") + I18n.localeNotify

    // Typing replaces the time shown rather than adding to it.
    onActiveFocusChanged: if (activeFocus) selectAll()

    onEditingFinished: {
        if (text === day.timeText(minute))
            return
        if (typedMinute >= 0) {
            timeEntered(typedMinute)
            // As the day writes it, also where the selection stayed as it was.
            show()
        } else if (!activeFocus) {
            show()
        }
    }
}

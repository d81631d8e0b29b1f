import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// One flagged receipt: the rules that flagged it, its time on the video's clock, its till and cameras,
// and the receipt line that matched, set apart; ticked for the exports of the ticked ones.
ItemDelegate {
    id: flaggedRow

    property int row: -1
    property RowSelection selection: null
    property var createdAt
    property string rules: ""
    property string till: ""
    /// Maps with "strmId" and "strmName".
    property var streams: []
    property string lineText: ""
    property real tillClockOffsetMs: 0

    readonly property bool ticked: selection !== null && selection.rows.indexOf(row) >= 0
    readonly property bool hasCamera: streams.length > 0

    /// Open it (a click on the row, Return).
    signal chosen()
    signal showOnTimelineRequested()
    signal exportRequested()
    signal watchRequested()

    focusPolicy: Qt.NoFocus
    Accessible.focusable: true
    Accessible.selected: ticked
    Accessible.name: [rules, Utils.formatDateTime(createdAt), till,
                      streams.map(function (s) { return s.strmName }).join(", "), lineText]
                     .concat(ticked ? [qsTr("ticked") + I18n.localeNotify] : []).join(", ")
    onClicked: chosen()
    Keys.onSpacePressed: selection.toggle(row)

    contentItem: RowLayout {
        spacing: 8
        CheckBox {
            objectName: "chkFlagged"
            checked: flaggedRow.ticked
            focusPolicy: Qt.NoFocus
            Accessible.name: qsTr("Tick for the export of the ticked receipts") + I18n.localeNotify
            onClicked: flaggedRow.selection.toggle(flaggedRow.row)
        }
        ColumnLayout {
            Layout.fillWidth: true
            spacing: 2
            RowLayout {
                Layout.fillWidth: true
                spacing: 8
                Label {
                    objectName: "lblFlagRules"
                    Layout.maximumWidth: 160
                    elide: Text.ElideRight
                    font.bold: true
                    color: "#b03060"
                    text: flaggedRow.rules
                }
                Label {
                    objectName: "lblFlagTime"
                    color: "red"
                    text: Utils.formatDateTime(flaggedRow.createdAt)
                }
                // The till and its cameras give way first when the window is narrow: the buttons stay in it.
                Label {
                    objectName: "lblFlagTill"
                    Layout.fillWidth: true
                    Layout.minimumWidth: 40
                    elide: Text.ElideRight
                    textFormat: Text.PlainText
                    color: "blue"
                    text: [flaggedRow.till].concat(flaggedRow.streams.map(function (s) { return s.strmName }))
                          .filter(function (part) { return part !== "" }).join(" \u00b7 ")
                    Accessible.ignored: true
                }
            }
            // The line that matched, as printed, marked.
            Label {
                objectName: "lblFlagLine"
                Layout.fillWidth: true
                elide: Text.ElideRight
                font.family: "monospace"
                text: flaggedRow.lineText.trim()
                background: Rectangle {
                    color: "#fff2a8"
                }
            }
        }
        Button {
            objectName: "btnFlagTimeline"
            focusPolicy: Qt.NoFocus
            enabled: flaggedRow.hasCamera
            text: qsTr("Timeline") + I18n.localeNotify
            Accessible.name: qsTr("Show on timeline") + I18n.localeNotify
            onClicked: flaggedRow.showOnTimelineRequested()
        }
        Button {
            objectName: "btnFlagWatch"
            focusPolicy: Qt.NoFocus
            enabled: flaggedRow.hasCamera
            text: qsTr("Watch") + I18n.localeNotify
            Accessible.name: qsTr("Watch it in the player (W)") + I18n.localeNotify
            onClicked: flaggedRow.watchRequested()
        }
        Button {
            objectName: "btnFlagExport"
            focusPolicy: Qt.NoFocus
            enabled: flaggedRow.hasCamera
            text: qsTr("Export\u2026") + I18n.localeNotify
            Accessible.name: qsTr("Export the three minutes around it from its first camera") + I18n.localeNotify
            onClicked: flaggedRow.exportRequested()
        }
    }
}

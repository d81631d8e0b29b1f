import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// One receipt found: its time, its cameras and the place in its text where the search text is, marked;
// shaded when chosen for "Export selected…", ticked when exported in this session.
ItemDelegate {
    id: resultRow

    /// The row of results this shows.
    property int row: -1
    property PosSearching results: null
    property RowSelection selection: null
    property var createdAt
    /// Maps with "strmId" and "strmName".
    property var streams: []
    property string content: ""
    property string oneLine: ""
    /// How far the receipt's till's clock was taken to be off (its time is on the video's clock).
    property real tillClockOffsetMs: 0

    readonly property bool selected: selection !== null && selection.rows.indexOf(row) >= 0
    // Bound to the count of finished exports, so that the mark comes when one finishes.
    readonly property bool exported: Exports.queue.doneCount > 0 && Exports.exportedRows(results, [row]).length > 0

    /// A click on the row, with the keyboard's modifiers (Qt.KeyboardModifiers).
    signal chosen(int modifiers)

    // The list takes Tab once; the arrow keys move between its rows.
    focusPolicy: Qt.NoFocus
    Accessible.focusable: true
    Accessible.selected: selected
    Accessible.name: [Utils.formatDateTime(createdAt),
                      streams.map(function (s) { return s.strmName }).join(", "),
                      results.matchLine(oneLine, results.searchText)]
                     .concat(exported ? [qsTr("exported") + I18n.localeNotify] : [])
                     .concat(selected ? [qsTr("selected") + I18n.localeNotify] : [])
                     .join(", ")
    // Only from a screen reader's press: the mouse goes to the area below.
    onClicked: chosen(Qt.NoModifier)
    // The current row has the keys: Space ticks it for "Export selected…" rather than pressing it
    // (Return opens it).
    Keys.onSpacePressed: selection.toggle(row)

    // Below the row's content: the camera strip, when it scrolls, keeps its presses.
    MouseArea {
        objectName: "rowMouse"
        anchors.fill: parent
        z: -1
        onClicked: resultRow.chosen(mouse.modifiers)
    }
    Rectangle {
        objectName: "selectedMark"
        anchors.fill: parent
        visible: resultRow.selected
        color: "#3874d8"
        opacity: 0.25
    }

    contentItem: RowLayout {
        spacing: 8
        Label {
            objectName: "lblCreatedAt"
            Layout.preferredWidth: 120
            Layout.maximumWidth: 120
            color: "red"
            // The whole date and time in the width the row gives it.
            fontSizeMode: Text.HorizontalFit
            minimumPixelSize: 8
            minimumPointSize: 6
            verticalAlignment: Text.AlignVCenter
            text: Utils.formatDateTime(resultRow.createdAt)
        }
        // Exported in this session already.
        Label {
            objectName: "lblExported"
            visible: resultRow.exported
            color: "darkgreen"
            text: "\u2714"
            ToolTip.visible: exportedHover.hovered
            ToolTip.text: qsTr("Exported in this session") + I18n.localeNotify
            HoverHandler {
                id: exportedHover
            }
        }
        Flickable {
            Layout.preferredWidth: 100
            Layout.maximumWidth: 100
            Layout.preferredHeight: streamRow.height
            clip: true
            // Only a strip that overflows takes the press; otherwise the row gets the click.
            interactive: contentWidth > width
            flickableDirection: Flickable.HorizontalFlick
            contentWidth: streamRow.width
            contentHeight: streamRow.height

            Row {
                id: streamRow
                objectName: "streamRow"
                spacing: 5
                Repeater {
                    model: resultRow.streams
                    Label {
                        text: modelData.strmName
                        color: "transparent"
                        style: Text.Outline
                        styleColor: "blue"
                    }
                }
            }
        }
        Label {
            id: lblContent
            objectName: "lblContent"
            // About as many characters as the width shows; the match is kept among them.
            readonly property int visibleChars: Math.floor(width / contentMetrics.averageCharacterWidth)
            Layout.fillWidth: true
            elide: Text.ElideRight
            textFormat: Text.StyledText
            text: resultRow.results.matchMarkup(resultRow.oneLine, resultRow.results.searchText, visibleChars)
            // What it shows, without the marking: a screen reader would read the markup out.
            Accessible.name: resultRow.results.matchLine(resultRow.oneLine, resultRow.results.searchText)
            FontMetrics {
                id: contentMetrics
                font: lblContent.font
            }
        }
    }
}

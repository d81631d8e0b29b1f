import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// A small bar chart of counts: a bar a row with its label before it (columns side by side, labelled
// below, when vertical). The screen reader hears the title and every figure.
FocusScope {
    id: chart

    property string title: ""
    /// Maps with "label" and "count".
    property var bars: []
    /// Columns side by side rather than bars one under the other.
    property bool vertical: false
    /// Of the columns, every how many has its label written below it.
    property int labelEvery: 1

    readonly property int largest: Math.max.apply(null, [1].concat(bars.map(function (bar) { return bar.count })))
    readonly property color barColour: "#b03060"

    implicitHeight: column.implicitHeight + 8
    clip: true
    activeFocusOnTab: true
    Accessible.role: Accessible.Chart
    Accessible.name: title + ": " + (bars.length === 0 ? qsTr("nothing") + I18n.localeNotify
                                                       : bars.map(function (bar) { return bar.label + " " + bar.count })
                                                         .join(", "))

    Rectangle {
        anchors.fill: parent
        color: "transparent"
        border.width: chart.activeFocus ? 2 : 0
        border.color: palette.highlight
    }

    ColumnLayout {
        id: column
        anchors.fill: parent
        anchors.margins: 4
        spacing: 2

        Label {
            Layout.fillWidth: true
            text: chart.title
            font.bold: true
            elide: Text.ElideRight
        }

        // Bars one under the other.
        Repeater {
            model: chart.vertical ? [] : chart.bars
            RowLayout {
                Layout.fillWidth: true
                spacing: 4
                Label {
                    Layout.preferredWidth: 110
                    Layout.maximumWidth: 110
                    text: modelData.label
                    elide: Text.ElideRight
                    font.pixelSize: 11
                }
                Item {
                    Layout.fillWidth: true
                    implicitHeight: 12
                    Rectangle {
                        height: parent.height
                        width: Math.max(modelData.count > 0 ? 2 : 0, parent.width * modelData.count / chart.largest)
                        color: chart.barColour
                    }
                }
                Label {
                    Layout.preferredWidth: 32
                    horizontalAlignment: Text.AlignRight
                    text: modelData.count
                    font.pixelSize: 11
                }
            }
        }

        // The bars from the top, whatever room is left below them.
        Item {
            visible: !chart.vertical
            Layout.fillHeight: true
        }

        // Columns side by side, the tallest as high as the chart allows.
        Item {
            visible: chart.vertical
            Layout.fillWidth: true
            Layout.fillHeight: true
            Layout.minimumHeight: 60
            Row {
                id: columns
                anchors.fill: parent
                anchors.bottomMargin: 14
                readonly property real step: width / Math.max(1, chart.bars.length)
                Repeater {
                    model: chart.vertical ? chart.bars : []
                    Item {
                        width: columns.step
                        height: columns.height
                        Rectangle {
                            anchors.bottom: parent.bottom
                            anchors.horizontalCenter: parent.horizontalCenter
                            width: Math.max(1, parent.width - 2)
                            height: Math.max(modelData.count > 0 ? 2 : 0,
                                             parent.height * modelData.count / chart.largest)
                            color: chart.barColour
                            ToolTip.visible: columnHover.hovered
                            ToolTip.text: modelData.label + ": " + modelData.count
                            HoverHandler {
                                id: columnHover
                            }
                        }
                        Label {
                            visible: index % chart.labelEvery === 0
                            anchors.top: parent.bottom
                            anchors.horizontalCenter: parent.horizontalCenter
                            text: modelData.label
                            font.pixelSize: 9
                        }
                    }
                }
            }
        }
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15

// A tab of the bar over the pages. The page shown has its tab underlined in the highlight colour and
// its name in bold; the others are plain, on the same background, so that no other tab looks open.
TabButton {
    id: tab

    font.bold: checked
    contentItem: Label {
        text: tab.text
        font: tab.font
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        color: tab.palette.windowText
    }
    background: Rectangle {
        implicitHeight: 40
        color: tab.down ? tab.palette.midlight : tab.palette.window
        // The keyboard's place, when Tab has brought it here.
        border.width: tab.visualFocus ? 2 : 0
        border.color: tab.palette.highlight

        Rectangle {
            objectName: "shownMark"
            anchors.left: parent.left
            anchors.right: parent.right
            anchors.bottom: parent.bottom
            height: 3
            visible: tab.checked
            color: tab.palette.highlight
        }
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// The two pages after login, side by side: recordings first, then the POS search.
Page {
    ColumnLayout {
        anchors.fill: parent

        SwipeView {
            id: stackView
            objectName: "stackView"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true

            PageMain { }
            PageSearch { }
        }

        PageIndicator {
            objectName: "pageIndicator"
            Layout.alignment: Qt.AlignHCenter
            count: stackView.count
            currentIndex: stackView.currentIndex
        }
    }
}

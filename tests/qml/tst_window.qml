import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.15
import Tillmark 1.0

Item {
    id: root

    TestCase {
        name: "MainWindow"
        when: windowShown

        function test_messageBoxClosesOnlyThroughItsButton() {
            var component = Qt.createComponent("qrc:/main.qml")
            compare(component.status, Component.Ready, component.errorString())
            var window = createTemporaryObject(component, root)
            verify(window)
            waitForRendering(window.contentItem)
            var pop = findChild(window, "popMessage")
            verify(pop, "popMessage")
            // Two messages at once: the box shows them one after the other, in the order they came.
            Notifier.show("Something failed")
            Notifier.show("Something else failed")
            tryCompare(pop, "opened", true)
            compare(findChild(pop.contentItem, "popMessageText").text, "Something failed")
            keyClick(Qt.Key_Escape)
            wait(50)
            verify(pop.visible)
            mouseClick(window.contentItem, 5, 5)
            wait(50)
            verify(pop.visible)
            var close = findChild(pop.contentItem, "popMessageClose")
            verify(close)
            mouseClick(close)
            compare(findChild(pop.contentItem, "popMessageText").text, "Something else failed")
            verify(pop.visible)
            mouseClick(close)
            tryCompare(pop, "visible", false)
            compare(Notifier.message, "")
        }

        function test_windowStartsOnLoginPage() {
            var window = createTemporaryObject(Qt.createComponent("qrc:/main.qml"), root)
            verify(window)
            compare(window.width, 800)
            compare(window.height, 600)
            compare(window.title, "Tillmark")
            verify(findChild(window.contentItem, "btnLogin"))
        }
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.15
import Tillmark 1.0
import "qrc:/"

Item {
    id: root
    width: 800
    height: 600

    Component {
        id: loginComponent
        PageLogin {
            anchors.fill: parent
        }
    }

    SignalSpy {
        id: loggedInSpy
        signalName: "loggedIn"
    }

    TestCase {
        name: "LoginPage"
        when: windowShown

        function findByName(item, name) {
            return findChild(item, name)
        }

        function makePage() {
            testServer.reset()
            var page = createTemporaryObject(loginComponent, root)
            verify(page)
            loggedInSpy.clear()
            loggedInSpy.target = page
            findByName(page, "txtPosHost").text = "127.0.0.1:1"
            findByName(page, "txtHost").text = testServer.hostPort
            waitForRendering(page) // laid out, so that clicks land on the buttons
            return page
        }

        // The fields start from the settings: the program's defaults, or what the last login saved; a
        // plain HTTP server as it is typed, without its scheme.
        function test_fieldsStartFromTheSettings() {
            AppState.posBase = "http://pos.a:1"
            AppState.base = "https://vms.b:2"
            AppState.user = "clerk"
            AppState.password = "Pelmo4826"
            var page = createTemporaryObject(loginComponent, root)
            compare(findByName(page, "txtPosHost").text, "pos.a:1")
            compare(findByName(page, "txtHost").text, "https://vms.b:2")
            compare(findByName(page, "txtUsername").text, "clerk")
            compare(findByName(page, "txtPassword").text, "Pelmo4826")
            compare(findByName(page, "txtPassword").echoMode, TextInput.Password)
        }

        function test_fieldsGoToSettingsWithScheme() {
            var page = makePage()
            findByName(page, "txtPosHost").text = "pos.shop:8000"
            findByName(page, "txtUsername").text = "Op "
            findByName(page, "txtPassword").text = "s3cr%3t"
            mouseClick(findByName(page, "btnLogin"))
            compare(AppState.posBase, "http://pos.shop:8000")
            compare(AppState.base, "http://" + testServer.hostPort)
            compare(AppState.user, "Op ")
            compare(AppState.password, "s3cr%3t")
            loggedInSpy.wait(5000)
        }

        function test_schemeTypedIsKept_data() {
            return [ { tag: "http", typed: "http://pos:8000", base: "http://pos:8000" },
                     { tag: "https", typed: "https://pos:8443/", base: "https://pos:8443" } ]
        }

        function test_schemeTypedIsKept(data) {
            var page = makePage()
            findByName(page, "txtPosHost").text = data.typed
            mouseClick(findByName(page, "btnLogin"))
            compare(AppState.posBase, data.base)
            loggedInSpy.wait(5000)
        }

        function test_buttonDisabledWhileLoginRuns() {
            var page = makePage()
            testServer.route("/api/statistics", 200, "{}", 600)
            var button = findByName(page, "btnLogin")
            verify(button.enabled)
            mouseClick(button)
            verify(!button.enabled)
            mouseClick(button) // a second click finds the button disabled
            loggedInSpy.wait(5000)
            tryCompare(button, "enabled", true)
            compare(testServer.requestCount(), 1)
            compare(loggedInSpy.count, 1)
        }

        function test_errorLabel() {
            var page = makePage()
            testServer.requireAuth("digest", "admin", "other")
            var error = findByName(page, "txtError")
            var button = findByName(page, "btnLogin")
            verify(!error.visible)
            var buttonWidthAlone = button.parent.width
            compare(buttonWidthAlone, button.width) // the empty label takes no room
            mouseClick(button)
            tryCompare(error, "text", "Invalid credentials", 5000)
            verify(error.visible)
            // The row lays itself out again on the next polish, not at once.
            tryVerify(function() { return button.parent.width > buttonWidthAlone }, 5000)
            compare(loggedInSpy.count, 0)
            tryCompare(button, "enabled", true)
            // The next try clears the label first.
            testServer.reset()
            mouseClick(button)
            compare(error.text, "")
            loggedInSpy.wait(5000)
        }

        function test_returnInPasswordFieldLogsIn() {
            var page = makePage()
            var password = findByName(page, "txtPassword")
            password.forceActiveFocus()
            keyClick(Qt.Key_Return)
            loggedInSpy.wait(5000)
            compare(loggedInSpy.count, 1)
        }
    }
}

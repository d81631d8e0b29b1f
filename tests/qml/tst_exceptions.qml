import QtQuick 2.15
import QtQuick.Controls 2.15
import QtTest 1.15
import Tillmark 1.0
import "qrc:/"

Item {
    id: root
    width: 800
    height: 600

    DialogsStandIn {
        id: standIn
    }

    Component {
        id: rulesComponent
        RulesDialog {
            dialogs: standIn
        }
    }

    // The rules dialog as the operator uses it: the rules handed on as a file through the window's
    // dialogs and read back, an import that fails, a change refused, a rule that cannot work.
    TestCase {
        name: "RulesDialog"
        when: windowShown

        property var box: null

        function init() {
            Rules.list.restoreDefaults()
            standIn.reset()
            box = createTemporaryObject(rulesComponent, root)
            box.open()
            tryCompare(box, "opened", true)
        }

        function names() {
            var all = []
            for (var row = 0; row < Rules.list.count; ++row)
                all.push(Rules.list.get(row).name)
            return all
        }

        function note() {
            return findChild(box, "lblRulesNote").text
        }

        /// Types text into a field of the dialog and leaves it, as Tab would.
        function typeInto(name, text) {
            var field = findChild(box, name)
            field.forceActiveFocus()
            field.selectAll()
            keyClick(Qt.Key_Delete)
            for (var i = 0; i < text.length; ++i)
                keyClick(text[i])
            keyClick(Qt.Key_Tab)
        }

        function test_exportedThenImportedBack() {
            var file = testFolder + "/chain rules.json"
            mouseClick(findChild(box, "btnRulesExport"))
            compare(standIn.saveCount, 1)
            compare(String(standIn.offered), Rules.suggestedFile())
            standIn.acceptSave(file)
            verify(note().indexOf("The rules were saved to") === 0, note())
            var exported = names()

            // The store changes its rules...
            mouseClick(findChild(box, "btnRuleRemove"))
            typeInto("txtRulePattern", "STORNO")
            compare(Rules.list.count, 4)
            compare(Rules.list.get(0).pattern, "STORNO")

            // ... and takes the chain's file back.
            mouseClick(findChild(box, "btnRulesImport"))
            compare(standIn.openCount, 1)
            standIn.acceptOpen(file)
            compare(names(), exported)
            compare(Rules.list.get(0).pattern, "REFUND*, RETURN, RETURNED, MONEY BACK")
            compare(findChild(box, "txtRulePattern").text, Rules.list.get(0).pattern)
            verify(note().indexOf("Imported 5 rules") === 0, note())
        }

        function test_failedImportSaysWhyAndChangesNothing() {
            mouseClick(findChild(box, "btnRuleRemove"))
            var before = names()
            mouseClick(findChild(box, "btnRulesImport"))
            standIn.acceptOpen(testFolder + "/no such rules.json")
            compare(names(), before)
            verify(note().indexOf("could not be read") > 0, note())
            compare(String(findChild(box, "lblRulesNote").color), "#8b0000") // dark red: something went wrong
        }

        function test_changeRefusedIsSaidAndUndone() {
            var lstRules = findChild(box, "lstRules")
            lstRules.currentIndex = 1
            compare(findChild(box, "txtRuleName").text, "Void/cancel")
            typeInto("txtRuleName", "Refund")
            verify(note().indexOf("another rule has that name") > 0, note())
            compare(Rules.list.get(1).name, "Void/cancel")
            compare(findChild(box, "txtRuleName").text, "Void/cancel")
        }

        function test_ruleThatCannotWorkIsMarked() {
            var problem = findChild(box, "lblRuleProblem")
            verify(!problem.visible)
            findChild(box, "cbRuleMatch").currentIndex = 1
            findChild(box, "cbRuleMatch").activated(1)
            typeInto("txtRulePattern", "REFUND(")
            compare(Rules.list.get(0).match, "regex")
            verify(problem.visible)
            verify(problem.text.indexOf("This rule cannot work: the regular expression does not compile") === 0,
                   problem.text)
            var row = findChild(box, "lstRules").itemAtIndex(0)
            verify(row.text.indexOf("\u26a0 ") === 0, row.text)
        }
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// The exception rules: the list on the left, the rule chosen on the right. Every change is kept at once;
// one that would make the set unreadable is refused with its reason, and a rule that cannot work is
// marked with why. A set goes to and comes from a rules file, so that a chain can give every store one.
Popup {
    id: box

    /// The window's dialogs, for the rules file.
    property AppDialogs dialogs: null
    readonly property RuleListModel rules: Rules.list
    property int current: 0
    /// Why the last change or import was refused, or where the last export went.
    property string note: ""
    property bool noteIsError: false
    // Bumped at every change of the rules, so that the fields read the rule again.
    property int revision: 0
    readonly property var rule: {
        revision
        return rules.get(current)
    }

    parent: Overlay.overlay
    anchors.centerIn: parent
    width: parent ? parent.width * 0.94 : 760
    height: parent ? parent.height * 0.94 : 560
    modal: true
    dim: true
    focus: true
    onAboutToShow: {
        note = ""
        current = Math.min(current, rules.count - 1)
        revision++
    }

    function say(text, isError) {
        note = text
        noteIsError = isError
    }

    /// Sets a field of the rule chosen; a refusal is said and the field shows the rule as it is.
    function edit(field, value) {
        if (rules.setField(current, field, value))
            say("", false)
        else
            say(rules.lastError(), true)
        revision++
    }

    function importFile() {
        dialogs.openFile(Rules.suggestedFolder(), [qsTr("Rules files (*.json)") + I18n.localeNotify,
                                                   qsTr("All files (*)") + I18n.localeNotify], function (path) {
            if (Rules.importFromFile(path)) {
                current = 0
                say(qsTr("Imported %1 rules from %2").arg(rules.count).arg(path) + I18n.localeNotify, false)
            } else {
                say(Rules.lastError(), true)
            }
            revision++
        })
    }

    function exportFile() {
        dialogs.saveFile(Rules.suggestedFile(), "json", function (path) {
            if (Rules.exportToFile(path))
                say(qsTr("The rules were saved to %1").arg(path) + I18n.localeNotify, false)
            else
                say(Rules.lastError(), true)
        })
    }

    Connections {
        target: box.rules
        function onDataChanged() {
            box.revision++
        }
        function onModelReset() {
            box.revision++
        }
        function onCountChanged() {
            box.current = Math.min(box.current, box.rules.count - 1)
            box.revision++
        }
    }

    ColumnLayout {
        anchors.fill: parent

        Label {
            text: qsTr("Exception rules") + I18n.localeNotify
            font.bold: true
        }
        Label {
            objectName: "lblRulesLoadProblem"
            Layout.fillWidth: true
            visible: Rules.loadProblem !== ""
            wrapMode: Text.Wrap
            color: "darkred"
            text: qsTr("The rules kept could not be read (%1); these are the default rules.").arg(Rules.loadProblem)
                  + I18n.localeNotify
        }

        RowLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true

            Rectangle {
                Layout.preferredWidth: 200
                Layout.fillHeight: true
                border.width: lstRules.activeFocus ? 2 : 1
                border.color: lstRules.activeFocus ? palette.highlight : "grey"
                ListView {
                    id: lstRules
                    objectName: "lstRules"
                    anchors.fill: parent
                    anchors.margins: 2
                    clip: true
                    model: box.rules
                    currentIndex: box.current
                    focus: true
                    activeFocusOnTab: true
                    keyNavigationEnabled: true
                    Accessible.role: Accessible.List
                    Accessible.name: qsTr("Rules") + I18n.localeNotify
                    onCurrentIndexChanged: box.current = currentIndex
                    delegate: ItemDelegate {
                        width: ListView.view.width
                        highlighted: ListView.isCurrentItem
                        focusPolicy: Qt.NoFocus
                        font.strikeout: !model.enabled
                        text: (model.problem !== "" ? "\u26a0 " : "") + model.name
                        Accessible.name: [model.name].concat(model.enabled ? [] : [qsTr("off") + I18n.localeNotify])
                                         .concat(model.problem !== "" ? [model.problem] : []).join(", ")
                        onClicked: lstRules.currentIndex = index
                    }
                }
            }

            // The rule chosen.
            GridLayout {
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignTop
                columns: 2
                enabled: box.current >= 0

                Label {
                    text: qsTr("Name") + I18n.localeNotify
                }
                TextField {
                    objectName: "txtRuleName"
                    Layout.fillWidth: true
                    selectByMouse: true
                    text: box.rule.name || ""
                    Accessible.name: qsTr("Rule name") + I18n.localeNotify
                    onEditingFinished: if (text !== box.rule.name) box.edit("name", text)
                }
                Item {
                    implicitWidth: 1
                }
                CheckBox {
                    objectName: "chkRuleEnabled"
                    text: qsTr("Enabled") + I18n.localeNotify
                    checked: box.rule.enabled === true
                    onToggled: box.edit("enabled", checked)
                }
                Label {
                    text: qsTr("Match") + I18n.localeNotify
                }
                ComboBox {
                    objectName: "cbRuleMatch"
                    Layout.fillWidth: true
                    textRole: "text"
                    valueRole: "value"
                    model: [{ value: "words", text: qsTr("Words (REFUND*, NO SALE)") + I18n.localeNotify },
                        { value: "regex", text: qsTr("Regular expression") + I18n.localeNotify }]
                    currentIndex: box.rule.match === "regex" ? 1 : 0
                    Accessible.name: qsTr("How the pattern matches") + I18n.localeNotify
                    onActivated: box.edit("match", currentValue)
                }
                Label {
                    text: qsTr("Pattern") + I18n.localeNotify
                }
                TextField {
                    objectName: "txtRulePattern"
                    Layout.fillWidth: true
                    selectByMouse: true
                    font.family: "monospace"
                    text: box.rule.pattern || ""
                    Accessible.name: qsTr("Pattern") + I18n.localeNotify
                    Accessible.description: qsTr("Words: phrases split by commas, a trailing * for any ending; or a regular expression. Case never matters.") + I18n.localeNotify
                    onEditingFinished: if (text !== box.rule.pattern) box.edit("pattern", text)
                }
                Label {
                    text: qsTr("Payment") + I18n.localeNotify
                }
                TextField {
                    objectName: "txtRulePayment"
                    Layout.fillWidth: true
                    selectByMouse: true
                    placeholderText: qsTr("any, such as cash or card") + I18n.localeNotify
                    text: box.rule.payment || ""
                    Accessible.name: qsTr("Way of payment") + I18n.localeNotify
                    onEditingFinished: if (text !== (box.rule.payment || "")) box.edit("payment", text)
                }
                CheckBox {
                    objectName: "chkRuleAmount"
                    Layout.columnSpan: 2
                    text: qsTr("Only with an amount") + I18n.localeNotify
                    checked: box.rule.hasAmount === true
                    onToggled: box.edit("hasAmount", checked)
                }
                Label {
                    visible: box.rule.hasAmount === true
                    text: qsTr("Line") + I18n.localeNotify
                }
                RowLayout {
                    visible: box.rule.hasAmount === true
                    Layout.fillWidth: true
                    TextField {
                        objectName: "txtAmountLabel"
                        Layout.fillWidth: true
                        selectByMouse: true
                        text: box.rule.amountLabel || ""
                        Accessible.name: qsTr("Words of the line whose amount counts") + I18n.localeNotify
                        onEditingFinished: if (text !== box.rule.amountLabel) box.edit("amountLabel", text)
                    }
                    ComboBox {
                        objectName: "cbAmountCompare"
                        model: [">=", "<="]
                        currentIndex: box.rule.amountCompare === "<=" ? 1 : 0
                        Accessible.name: qsTr("At least or at most") + I18n.localeNotify
                        onActivated: box.edit("amountCompare", currentText)
                    }
                    TextField {
                        objectName: "txtAmountValue"
                        Layout.preferredWidth: 90
                        selectByMouse: true
                        text: box.rule.amountValue === undefined ? "" : String(box.rule.amountValue)
                        Accessible.name: qsTr("Amount") + I18n.localeNotify
                        onEditingFinished: box.edit("amountValue", Number(text.replace(",", ".")))
                    }
                }
                Item {
                    visible: box.rule.hasAmount === true
                    implicitWidth: 1
                }
                RowLayout {
                    visible: box.rule.hasAmount === true
                    CheckBox {
                        objectName: "chkAmountAbsolute"
                        text: qsTr("Either sign") + I18n.localeNotify
                        checked: box.rule.amountAbsolute === true
                        onToggled: box.edit("amountAbsolute", checked)
                    }
                    CheckBox {
                        objectName: "chkAmountPreferTotal"
                        text: qsTr("The server's total first") + I18n.localeNotify
                        checked: box.rule.amountPreferTotal === true
                        onToggled: box.edit("amountPreferTotal", checked)
                    }
                }
                Label {
                    objectName: "lblRuleProblem"
                    Layout.columnSpan: 2
                    Layout.fillWidth: true
                    visible: text !== ""
                    wrapMode: Text.Wrap
                    color: "darkred"
                    text: box.rule.problem ? qsTr("This rule cannot work: %1").arg(box.rule.problem) + I18n.localeNotify
                                           : ""
                    Accessible.role: Accessible.StaticText
                    Accessible.name: text
                }
            }
        }

        Label {
            objectName: "lblRulesNote"
            Layout.fillWidth: true
            visible: box.note !== ""
            wrapMode: Text.Wrap
            color: box.noteIsError ? "darkred" : "darkgreen"
            text: box.note
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        Flow {
            Layout.fillWidth: true
            spacing: 6
            Button {
                objectName: "btnRuleAdd"
                text: qsTr("Add") + I18n.localeNotify
                Accessible.name: qsTr("Add a rule") + I18n.localeNotify
                onClicked: {
                    box.current = box.rules.addRule()
                    box.revision++
                }
            }
            Button {
                objectName: "btnRuleRemove"
                enabled: box.current >= 0
                text: qsTr("Remove") + I18n.localeNotify
                Accessible.name: qsTr("Remove the rule chosen") + I18n.localeNotify
                onClicked: box.rules.removeRule(box.current)
            }
            Button {
                objectName: "btnRulesDefaults"
                text: qsTr("Default rules") + I18n.localeNotify
                Accessible.name: qsTr("Put the default rules in the place of these") + I18n.localeNotify
                onClicked: box.rules.restoreDefaults()
            }
            Button {
                objectName: "btnRulesImport"
                text: qsTr("Import\u2026") + I18n.localeNotify
                Accessible.name: qsTr("Import the rules of a rules file") + I18n.localeNotify
                onClicked: box.importFile()
            }
            Button {
                objectName: "btnRulesExport"
                text: qsTr("Export\u2026") + I18n.localeNotify
                Accessible.name: qsTr("Export the rules as a rules file") + I18n.localeNotify
                onClicked: box.exportFile()
            }
            Button {
                objectName: "btnRulesClose"
                text: qsTr("Close") + I18n.localeNotify
                onClicked: box.close()
            }
        }
    }
}

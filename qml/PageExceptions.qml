import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// The receipts of a range of days that the exception rules flag (refunds, voids, no-sales…): fetched day
// by day, counted by rule, by till and by hour, and listed, each ready to open, to see on the timeline and
// to export.
Page {
    id: page
    padding: 10
    title: qsTr("Exceptions") + I18n.localeNotify

    /// The window's dialogs, for the exports and the rules file.
    property AppDialogs dialogs: null

    /// A flagged receipt to open in the receipt box, on camera streamId.
    signal receiptChosen(var createdAt, string content, var streams, string streamId, real tillClockOffsetMs)
    signal showOnTimelineRequested(string streamId, var createdAt)
    /// The export of one flagged receipt from one camera, through the receipts' own export.
    signal exportRequested(var createdAt, string streamId, string streamName, string content, real tillClockOffsetMs)
    /// Its export's window in the review player.
    signal watchRequested(var createdAt, string content, string streamId, string streamName, real tillClockOffsetMs)

    function search() {
        exceptionSearch.start(dayFrom.selectedDate, dayTo.selectedDate)
    }

    function openRow(row) {
        var receipt = exceptionSearch.flagged.get(row)
        receiptChosen(receipt.flagCreatedAt, receipt.flagContent, receipt.flagStreams, "",
                      receipt.flagTillClockOffsetMs)
    }

    function rowClicked(row) {
        lstFlagged.currentIndex = row
        lstFlagged.forceActiveFocus()
        openRow(row)
    }

    function showOnTimeline(row) {
        var receipt = exceptionSearch.flagged.get(row)
        showOnTimelineRequested(receipt.flagStreams[0].strmId, receipt.flagCreatedAt)
    }

    function exportRow(row) {
        var receipt = exceptionSearch.flagged.get(row)
        exportRequested(receipt.flagCreatedAt, receipt.flagStreams[0].strmId, receipt.flagStreams[0].strmName,
                        receipt.flagContent, receipt.flagTillClockOffsetMs)
    }

    function watchRow(row) {
        var receipt = exceptionSearch.flagged.get(row)
        if (receipt.flagStreams.length > 0)
            watchRequested(receipt.flagCreatedAt, receipt.flagContent, receipt.flagStreams[0].strmId,
                           receipt.flagStreams[0].strmName, receipt.flagTillClockOffsetMs)
    }

    function askFolder(chosen, start) {
        dialogs.chooseFolder(Exports.folderUrl(start ? start : Exports.suggestedFolder()), chosen)
    }

    Component.onCompleted: {
        // Yesterday and today.
        var today = new Date()
        dayFrom.setDay(new Date(today.getFullYear(), today.getMonth(), today.getDate() - 1))
        dayTo.setDay(today)
    }

    ExceptionSearch {
        id: exceptionSearch
        objectName: "exceptionSearch"
        onErrorOccured: Notifier.show(message)
    }

    // The receipts ticked for "Export ticked…"; a new search starts a new choice.
    RowSelection {
        id: tickedRows
        objectName: "flaggedSelection"
        model: exceptionSearch.flagged
    }

    ColumnLayout {
        anchors.fill: parent

        RowLayout {
            Layout.fillWidth: true
            Label {
                text: qsTr("From") + I18n.localeNotify
                font.bold: true
            }
            DatePicker {
                id: dayFrom
                objectName: "dayExceptionsFrom"
                Accessible.name: qsTr("First day: %1").arg(selectedDate.toLocaleDateString(Qt.locale(), Locale.LongFormat))
                                 + I18n.localeNotify
            }
            Label {
                text: qsTr("to") + I18n.localeNotify
            }
            DatePicker {
                id: dayTo
                objectName: "dayExceptionsTo"
                Accessible.name: qsTr("Last day: %1").arg(selectedDate.toLocaleDateString(Qt.locale(), Locale.LongFormat))
                                 + I18n.localeNotify
            }
            Button {
                objectName: "btnExceptionsSearch"
                // The keys start here: Return searches yesterday and today.
                focus: true
                visible: !exceptionSearch.isRunning
                text: qsTr("Search") + I18n.localeNotify
                Accessible.name: qsTr("Search the days for exceptions") + I18n.localeNotify
                onClicked: page.search()
                Keys.onReturnPressed: page.search()
                Keys.onEnterPressed: page.search()
            }
            Button {
                objectName: "btnExceptionsCancel"
                visible: exceptionSearch.isRunning
                text: qsTr("Cancel") + I18n.localeNotify
                Accessible.name: qsTr("Stop after the days fetched so far") + I18n.localeNotify
                onClicked: exceptionSearch.cancel()
            }
            Item {
                Layout.fillWidth: true
            }
            Button {
                objectName: "btnRules"
                text: qsTr("Rules\u2026") + I18n.localeNotify
                Accessible.name: qsTr("Edit the exception rules") + I18n.localeNotify
                onClicked: popRules.open()
            }
            Button {
                objectName: "btnTills"
                text: qsTr("Tills\u2026") + I18n.localeNotify
                Accessible.name: qsTr("The tills' clocks") + I18n.localeNotify
                onClicked: popTills.open()
            }
        }

        RowLayout {
            Layout.fillWidth: true
            visible: exceptionSearch.isRunning
            ProgressBar {
                objectName: "progressExceptions"
                Layout.fillWidth: true
                from: 0
                to: Math.max(1, exceptionSearch.dayCount)
                value: exceptionSearch.dayNumber - 1
                Accessible.name: exceptionSearch.progressText
            }
            Label {
                objectName: "lblExceptionsProgress"
                text: exceptionSearch.progressText
            }
        }

        // What went wrong, in words: a day that could not be fetched, a rule that cannot work.
        Label {
            objectName: "lblFailedDays"
            Layout.fillWidth: true
            visible: text !== ""
            wrapMode: Text.Wrap
            color: "firebrick"
            text: exceptionSearch.failedDays.length === 0 ? ""
                  : qsTr("Not searched, the POS server failed: %1").arg(exceptionSearch.failedDays.join("; "))
                    + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Label {
            objectName: "lblRuleProblems"
            Layout.fillWidth: true
            visible: text !== ""
            wrapMode: Text.Wrap
            color: "darkred"
            text: exceptionSearch.ruleProblems.length === 0 ? ""
                  : qsTr("Rules left out: %1").arg(exceptionSearch.ruleProblems.join("; ")) + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Label {
            objectName: "lblExceptionsSummary"
            Layout.fillWidth: true
            visible: exceptionSearch.hasRun
            text: qsTr("%1 of %2 receipts flagged, %3 of %4 days searched").arg(exceptionSearch.flaggedCount)
                  .arg(exceptionSearch.receiptCount).arg(exceptionSearch.dayNumber - (exceptionSearch.isRunning ? 1 : 0))
                  .arg(exceptionSearch.dayCount) + (exceptionSearch.cancelled ? qsTr(" (cancelled)") : "")
                  + I18n.localeNotify
        }

        // Where the exceptions cluster.
        RowLayout {
            Layout.fillWidth: true
            // As high as the longer list of bars needs, within reason: the flagged receipts come below.
            Layout.preferredHeight: Math.min(170, Math.max(110, chartByRule.implicitHeight, chartByTill.implicitHeight))
            Layout.maximumHeight: Layout.preferredHeight
            visible: exceptionSearch.hasRun
            BarChart {
                id: chartByRule
                objectName: "chartByRule"
                Layout.fillWidth: true
                Layout.fillHeight: true
                title: qsTr("By rule") + I18n.localeNotify
                bars: exceptionSearch.byRule
            }
            BarChart {
                id: chartByTill
                objectName: "chartByTill"
                Layout.fillWidth: true
                Layout.fillHeight: true
                title: qsTr("By till") + I18n.localeNotify
                bars: exceptionSearch.byTill
            }
            BarChart {
                objectName: "chartByHour"
                Layout.fillWidth: true
                Layout.fillHeight: true
                title: qsTr("By hour") + I18n.localeNotify
                bars: exceptionSearch.byHour
                vertical: true
                labelEvery: 6
            }
        }

        RowLayout {
            Layout.fillWidth: true
            visible: exceptionSearch.flaggedCount > 0
            Label {
                Layout.fillWidth: true
                text: qsTr("%1 ticked").arg(tickedRows.count) + I18n.localeNotify
            }
            Button {
                objectName: "btnExportFlaggedTicked"
                enabled: tickedRows.count > 0
                text: qsTr("Export ticked\u2026") + I18n.localeNotify
                Accessible.name: qsTr("Export the ticked receipts") + I18n.localeNotify
                onClicked: popFlaggedBatch.ask(exceptionSearch.flagged, tickedRows.rows)
            }
            Button {
                objectName: "btnExportAllFlagged"
                text: qsTr("Export all flagged\u2026") + I18n.localeNotify
                Accessible.name: qsTr("Export every flagged receipt") + I18n.localeNotify
                onClicked: popFlaggedBatch.ask(exceptionSearch.flagged, exceptionSearch.flagged.allRows())
            }
        }

        ListView {
            id: lstFlagged
            objectName: "lstFlagged"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            model: exceptionSearch.flagged
            activeFocusOnTab: true
            keyNavigationEnabled: true
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Flagged receipts") + I18n.localeNotify
            ScrollBar.vertical: ScrollBar {
                Accessible.name: qsTr("Scroll the flagged receipts") + I18n.localeNotify
            }
            Keys.onReturnPressed: if (currentIndex >= 0) page.openRow(currentIndex)
            Keys.onEnterPressed: if (currentIndex >= 0) page.openRow(currentIndex)
            // W watches the receipt, as on the timeline.
            Keys.onPressed: {
                if (event.key === Qt.Key_W && event.modifiers === Qt.NoModifier && currentIndex >= 0) {
                    page.watchRow(currentIndex)
                    event.accepted = true
                }
            }

            delegate: FlaggedRow {
                width: lstFlagged.width
                highlighted: ListView.isCurrentItem
                row: index
                selection: tickedRows
                createdAt: flagCreatedAt
                rules: flagRules
                till: flagTill
                streams: flagStreams
                lineText: flagLineText
                tillClockOffsetMs: flagTillClockOffsetMs
                onChosen: page.rowClicked(index)
                onShowOnTimelineRequested: page.showOnTimeline(index)
                onExportRequested: page.exportRow(index)
                onWatchRequested: page.watchRow(index)
            }
        }
    }

    RulesDialog {
        id: popRules
        objectName: "popRules"
        dialogs: page.dialogs
    }

    TillsDialog {
        id: popTills
        objectName: "popTills"
    }

    ExportBatch {
        id: popFlaggedBatch
        objectName: "popFlaggedBatch"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.7
        onChooseFolderRequested: page.askFolder(function (folder) { popFlaggedBatch.folder = folder },
                                                popFlaggedBatch.folder)
        onExportRequested: {
            if (Exports.exportRows(exceptionSearch.flagged, rows, ownCameras, cameras, highQuality, folder) > 0) {
                popFlaggedBatch.close()
                Exports.showQueue()
            }
        }
    }
}

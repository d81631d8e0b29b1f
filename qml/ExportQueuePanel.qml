import QtQuick 2.15
import QtQuick.Controls 2.15
import QtQuick.Layouts 1.15
import Tillmark 1.0

// Every export of this run, in the order asked: what each is doing, and a way to cancel it, to try it
// again or to its folder.
Popup {
    id: panel
    property ExportController controller: null
    readonly property ExportQueue queue: controller ? controller.queue : null

    /// "Play" on a finished export: its review copy in the player.
    signal playRequested(string path)

    modal: true
    dim: true
    focus: true
    // Tab goes on to the rows' buttons from here.
    onOpened: btnQueueClose.forceActiveFocus()

    ColumnLayout {
        anchors.fill: parent

        Label {
            objectName: "lblQueueTitle"
            font.bold: true
            text: qsTr("Exports") + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }
        Label {
            objectName: "lblQueueSummary"
            Layout.fillWidth: true
            wrapMode: Text.Wrap
            text: (!panel.queue || lstQueue.count === 0
                   ? qsTr("Nothing exported yet in this session.")
                   : qsTr("%1 waiting or running, %2 finished, %3 failed")
                     .arg(panel.queue.pendingCount).arg(panel.queue.doneCount).arg(panel.queue.failedCount))
                  + I18n.localeNotify
            Accessible.role: Accessible.StaticText
            Accessible.name: text
        }

        ListView {
            id: lstQueue
            objectName: "lstQueue"
            Layout.fillWidth: true
            Layout.fillHeight: true
            clip: true
            spacing: 4
            model: panel.queue
            // Tab goes through the buttons of the rows.
            activeFocusOnTab: false
            Accessible.role: Accessible.List
            Accessible.name: qsTr("Exports") + I18n.localeNotify
            ScrollBar.vertical: ScrollBar {
                Accessible.name: qsTr("Scroll the exports") + I18n.localeNotify
            }

            delegate: Frame {
                id: job
                width: lstQueue.width - 12
                // "model.state": the delegate has a "state" of its own.
                readonly property bool pending: model.state <= ExportJob.Encoding
                // Tab onto a row out of view brings it into view.
                function shown(focused) {
                    if (focused)
                        lstQueue.positionViewAtIndex(index, ListView.Contain)
                }

                ColumnLayout {
                    anchors.fill: parent
                    RowLayout {
                        Layout.fillWidth: true
                        Label {
                            objectName: "lblJobTime"
                            color: "red"
                            text: Utils.formatDateTime(receiptTime)
                        }
                        Label {
                            objectName: "lblJobCamera"
                            Layout.fillWidth: true
                            elide: Text.ElideRight
                            text: camera
                        }
                        Label {
                            objectName: "lblJobState"
                            font.bold: true
                            color: model.state === ExportJob.Failed ? "darkred"
                                   : model.state === ExportJob.Done ? "darkgreen" : palette.text
                            text: stateText
                            Accessible.role: Accessible.StaticText
                            Accessible.name: camera + ", " + text
                        }
                    }
                    ProgressBar {
                        Layout.fillWidth: true
                        visible: model.state > ExportJob.Waiting && job.pending
                        from: 0
                        to: 100
                        indeterminate: percent < 0
                        value: Math.max(percent, 0)
                    }
                    // What it is doing or why it ended, or where it went; and what can be done with it.
                    RowLayout {
                        Layout.fillWidth: true
                        Label {
                            objectName: "lblJobMessage"
                            Layout.fillWidth: true
                            wrapMode: Text.Wrap
                            visible: text !== ""
                            text: job.pending ? phase : model.state === ExportJob.Done ? "" : message
                        }
                        TextField {
                            objectName: "txtJobPath"
                            Layout.fillWidth: true
                            visible: model.state === ExportJob.Done
                            readOnly: true
                            selectByMouse: true
                            text: path
                            Accessible.name: qsTr("Exported video") + I18n.localeNotify
                            onActiveFocusChanged: job.shown(activeFocus)
                        }
                        Button {
                            objectName: "btnJobCancel"
                            visible: job.pending
                            text: qsTr("Cancel") + I18n.localeNotify
                            Accessible.name: qsTr("Cancel the export of %1").arg(description) + I18n.localeNotify
                            onClicked: panel.queue.cancel(index)
                            onActiveFocusChanged: job.shown(activeFocus)
                        }
                        Button {
                            objectName: "btnJobRetry"
                            visible: model.state === ExportJob.Failed || model.state === ExportJob.Cancelled
                            text: qsTr("Retry") + I18n.localeNotify
                            Accessible.name: qsTr("Export %1 again").arg(description) + I18n.localeNotify
                            onClicked: panel.queue.retry(index)
                            onActiveFocusChanged: job.shown(activeFocus)
                        }
                        Button {
                            objectName: "btnJobPlay"
                            visible: model.state === ExportJob.Done
                            text: qsTr("Play") + I18n.localeNotify
                            Accessible.name: qsTr("Play %1").arg(description) + I18n.localeNotify
                            onClicked: panel.playRequested(path)
                            onActiveFocusChanged: job.shown(activeFocus)
                        }
                        Button {
                            objectName: "btnJobOpenFolder"
                            visible: model.state === ExportJob.Done
                            text: qsTr("Open folder") + I18n.localeNotify
                            Accessible.name: qsTr("Open the folder of %1").arg(description) + I18n.localeNotify
                            onClicked: panel.controller.openFolder(path)
                            onActiveFocusChanged: job.shown(activeFocus)
                        }
                    }
                }
            }
        }

        RowLayout {
            Layout.alignment: Qt.AlignHCenter
            Button {
                objectName: "btnCancelAll"
                enabled: panel.queue !== null && panel.queue.pendingCount > 0
                text: qsTr("Cancel all") + I18n.localeNotify
                Accessible.name: qsTr("Cancel all exports that wait or run") + I18n.localeNotify
                onClicked: panel.controller.cancelAll()
            }
            Button {
                id: btnQueueClose
                objectName: "btnQueueClose"
                text: qsTr("Close") + I18n.localeNotify
                Accessible.name: qsTr("Close the exports") + I18n.localeNotify
                onClicked: panel.close()
            }
        }
    }
}

import QtQuick 2.15
import QtQuick.Controls 2.15
import Tillmark 1.0

// The boxes of the one export queue, over the whole window whichever page is shown: the progress of the
// export followed, where it went, and the queue itself; what the exports have to say goes to the
// operator's messages.
Item {
    id: boxes

    /// "Play" on a finished export of the queue.
    signal playRequested(string path)

    ExportProgress {
        id: downloading
        objectName: "downloading"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.6
        job: Exports.job
        onCancelRequested: Exports.cancel()
    }

    ExportDone {
        id: exportDone
        objectName: "exportDone"
        parent: Overlay.overlay
        anchors.centerIn: parent
        onOpenFolderRequested: Exports.openFolder(videoPath)
    }

    ExportQueuePanel {
        id: queuePanel
        objectName: "queuePanel"
        parent: Overlay.overlay
        anchors.centerIn: parent
        width: parent.width * 0.85
        height: parent.height * 0.85
        controller: Exports
        onPlayRequested: boxes.playRequested(path)
    }

    Connections {
        target: Exports
        function onJobChanged() {
            if (Exports.job && Exports.job.isRunning)
                downloading.open()
        }
        // The next box opens before the progress box closes, so that the keys go to it.
        function onJobEnded() {
            var job = Exports.job
            if (job.state === ExportJob.Done) {
                exportDone.videoPath = job.videoPath
                exportDone.open()
            } else if (job.state === ExportJob.Cancelled) {
                Notifier.show(job.message)
            } else {
                Notifier.show(qsTr("Export failed: %1").arg(job.message) + I18n.localeNotify)
            }
            downloading.close()
        }
        function onRefused(message) {
            Notifier.show(message)
        }
        function onVerified(intact, report) {
            Notifier.show(report)
        }
        // Exports nobody followed: how they went, failures by name, once the queue is empty; the queue
        // panel, when it is open, shows that already.
        function onBackgroundEnded(summary) {
            if (!queuePanel.visible)
                Notifier.show(summary)
        }
        function onQueueRequested() {
            queuePanel.open()
        }
    }
}

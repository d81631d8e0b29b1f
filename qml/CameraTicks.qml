import QtQuick 2.15
import QtQuick.Controls 2.15
import Tillmark 1.0

// A tick box for each camera: which of them an export takes. Ticks start as initiallyTicked says
// whenever the cameras change.
Flow {
    id: ticks
    /// Maps with "strmId" and "strmName".
    property var cameras: []
    /// Ids of the cameras ticked at first.
    property var initiallyTicked: []
    property var ticked: ({})
    readonly property var tickedCameras: cameras.filter(function (camera) { return ticked[camera.strmId] === true })

    function setTicked(ids) {
        var now = {}
        ids.forEach(function (id) { now[id] = true })
        ticked = now
    }

    spacing: 8
    // Either may change first when both follow one receipt.
    onCamerasChanged: setTicked(initiallyTicked)
    onInitiallyTickedChanged: setTicked(initiallyTicked)

    Repeater {
        model: ticks.cameras
        CheckBox {
            objectName: "chkCamera" + index
            text: modelData.strmName
            checked: ticks.ticked[modelData.strmId] === true
            Accessible.name: qsTr("Export from %1").arg(modelData.strmName) + I18n.localeNotify
            onToggled: {
                var now = Object.assign({}, ticks.ticked)
                if (checked)
                    now[modelData.strmId] = true
                else
                    delete now[modelData.strmId]
                ticks.ticked = now
            }
        }
    }
}

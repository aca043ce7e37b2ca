import QtQuick 2.2
import "../components"

// Five markers from "Ready" to "Running"; the native side lights the one of the current state.
Item {
    id: section
    objectName: "appState"
    property int appState: 0
    readonly property var labels: ["Ready", "Contacting", "Registered", "Armed", "Running"]

    function changeAppStateBar(value)
    {
        appState = (value >= 0 && value <= 5) ? value : 0;
    }

    function onHeartbeat()
    {
        if (appState < 1 || appState > 5)
            return;
        markers.itemAt(appState - 1).pulse();
    }

    Row {
        anchors.fill: parent
        anchors.leftMargin: parent.width * 0.03
        anchors.rightMargin: parent.width * 0.03

        Repeater {
            id: markers
            model: 5
            delegate: PXAppState {
                readonly property int position: index + 1
                width: parent.width / 5
                height: parent.height
                label: section.labels[index]
                active: section.appState === position
                showLeftLine: index > 0
                showRightLine: index < 4
                leftLine: section.appState === position ? "green"
                        : section.appState === position - 1 && section.appState > 0 ? "towards"
                        : "none"
                rightLine: section.appState === position ? "green"
                         : section.appState === position + 1 ? "towards" : "none"
            }
        }
    }
}

import QtQuick 2.12

// One marker of the state bar: a dot with its label, and the two half lines that join it to
// its neighbours. The owner decides what is lit; this only draws it.
Item {
    id: marker
    property string label: ""
    property bool active: false
    // "none", "green" or "towards" (grey fading to green at the end next to this marker's
    // neighbour on that side).
    property string leftLine: "none"
    property string rightLine: "none"
    property bool showLeftLine: true
    property bool showRightLine: true
    property real dotSize: 6

    readonly property color green: "#00A650"
    readonly property color grey: "#E9E9E9"

    function pulse()
    {
        pulseAnimation.restart();
    }

    Rectangle {
        id: leftHalf
        visible: marker.showLeftLine
        anchors.left: parent.left
        anchors.right: dot.horizontalCenter
        anchors.verticalCenter: dot.verticalCenter
        height: 2
        color: marker.leftLine === "green" ? marker.green : marker.grey
        gradient: marker.leftLine === "towards" ? towardsLeft : null
    }

    Rectangle {
        id: rightHalf
        visible: marker.showRightLine
        anchors.left: dot.horizontalCenter
        anchors.right: parent.right
        anchors.verticalCenter: dot.verticalCenter
        height: 2
        color: marker.rightLine === "green" ? marker.green : marker.grey
        gradient: marker.rightLine === "towards" ? towardsRight : null
    }

    // The line leading to the lit neighbour on the left turns green only at that end.
    Gradient {
        id: towardsLeft
        orientation: Gradient.Horizontal
        GradientStop { position: 0.0; color: marker.green }
        GradientStop { position: 0.2; color: marker.grey }
        GradientStop { position: 1.0; color: marker.grey }
    }

    Gradient {
        id: towardsRight
        orientation: Gradient.Horizontal
        GradientStop { position: 0.0; color: marker.grey }
        GradientStop { position: 0.8; color: marker.grey }
        GradientStop { position: 1.0; color: marker.green }
    }

    Rectangle {
        id: dot
        anchors.horizontalCenter: parent.horizontalCenter
        y: parent.height * 0.35 - height / 2
        width: marker.dotSize
        height: width
        radius: width / 2
        color: marker.active ? marker.green : marker.grey
    }

    PXText {
        anchors.horizontalCenter: dot.horizontalCenter
        anchors.top: dot.bottom
        anchors.topMargin: 6
        visible: marker.active
        text: marker.label
        color: marker.green
        font.pointSize: 11
    }

    SequentialAnimation {
        id: pulseAnimation
        NumberAnimation { target: marker; property: "dotSize"; to: 10; duration: 200 }
        PauseAnimation { duration: 300 }
        NumberAnimation { target: marker; property: "dotSize"; to: 6; duration: 200 }
    }
}

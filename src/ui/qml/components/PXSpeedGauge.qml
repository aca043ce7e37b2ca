import QtQuick 2.2

// A ring gauge: the track, and the value as an arc from the top, clockwise, with a round dot at
// both ends and the label in white on the ring at the top.
Item {
    id: gauge
    property real value: 0          // percent, 0 to 100
    property real thickness: 10
    property color color: "#00ADEE"
    property color trackColor: "#A4E2F9"
    property string label: ""

    property real shownValue: value
    Behavior on shownValue {
        NumberAnimation { duration: 250 }
    }
    onShownValueChanged: canvas.requestPaint()
    onColorChanged: canvas.requestPaint()
    onTrackColorChanged: canvas.requestPaint()
    onThicknessChanged: canvas.requestPaint()

    Canvas {
        id: canvas
        anchors.fill: parent
        antialiasing: true
        onWidthChanged: requestPaint()
        onHeightChanged: requestPaint()

        onPaint: {
            var ctx = getContext("2d");
            ctx.reset();
            var size = Math.min(width, height);
            var radius = (size - gauge.thickness) / 2;
            if (radius <= 0)
                return;
            var cx = width / 2;
            var cy = height / 2;
            var top = -Math.PI / 2;

            ctx.lineWidth = gauge.thickness;
            ctx.strokeStyle = gauge.trackColor;
            ctx.beginPath();
            ctx.arc(cx, cy, radius, 0, 2 * Math.PI, false);
            ctx.stroke();

            var fraction = Math.max(0, Math.min(100, gauge.shownValue)) / 100;
            if (fraction <= 0)
                return;
            var end = top + fraction * 2 * Math.PI;
            ctx.strokeStyle = gauge.color;
            ctx.beginPath();
            ctx.arc(cx, cy, radius, top, end, false);
            ctx.stroke();

            ctx.fillStyle = gauge.color;
            var ends = [top, end];
            for (var i = 0; i < ends.length; ++i) {
                ctx.beginPath();
                ctx.arc(cx + radius * Math.cos(ends[i]), cy + radius * Math.sin(ends[i]),
                        gauge.thickness / 2, 0, 2 * Math.PI, false);
                ctx.fill();
            }
        }
    }

    // Drawn over the ring at the top, so it reads on the track and on the arc alike.
    PXText {
        x: (gauge.width - width) / 2 - gauge.thickness * 1.1
        y: (gauge.height - Math.min(gauge.width, gauge.height)) / 2
        height: gauge.thickness
        verticalAlignment: Text.AlignVCenter
        text: gauge.label
        color: "white"
        font.bold: true
        font.pixelSize: Math.max(6, gauge.thickness * 0.8)
    }
}

import QtQuick 2.2
import "../components"
import "../js/SpeedGauge.js" as SpeedGauge

// The receive ring outside, the transmit ring inside, the two speeds in the middle.
Item {
    id: section
    objectName: "speed"
    property real rxSpeed: 0
    property real txSpeed: 0
    // Shared by both rings so that they stay comparable.
    property real maximum: 0
    property real rxPercent: 0
    property real txPercent: 0
    readonly property real side: Math.min(width, height)

    function setRxMeterSpeed(speed)
    {
        rxSpeed = speed;
        rxPercent = SpeedGauge.percentage(speed, maximum);
        maximum = SpeedGauge.nextMaximum(speed, maximum);
    }

    function setTxMeterSpeed(speed)
    {
        txSpeed = speed;
        txPercent = SpeedGauge.percentage(speed, maximum);
        maximum = SpeedGauge.nextMaximum(speed, maximum);
    }

    function resetMeterSpeed()
    {
        maximum = 0;
        rxSpeed = 0;
        txSpeed = 0;
        rxPercent = 0;
        txPercent = 0;
    }

    PXSpeedGauge {
        objectName: "rxGauge"
        anchors.centerIn: parent
        width: section.side * 0.8
        height: width
        thickness: section.side * 0.07
        color: "#00ADEE"
        trackColor: "#A4E2F9"
        label: "rx"
        value: section.rxPercent
    }

    PXSpeedGauge {
        objectName: "txGauge"
        anchors.centerIn: parent
        width: section.side * 0.6
        height: width
        thickness: section.side * 0.07
        color: "#01A650"
        trackColor: "#A4E0C0"
        label: "tx"
        value: section.txPercent
    }

    Column {
        anchors.centerIn: parent

        PXText {
            objectName: "rxText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: SpeedGauge.speedText(section.rxSpeed)
            color: "#00ADEE"
            font.pixelSize: Math.max(8, section.side * 0.08)
        }
        PXText {
            anchors.horizontalCenter: parent.horizontalCenter
            text: "Mbps"
            color: "#9B9B9B"
            font.pixelSize: Math.max(6, section.side * 0.045)
        }
        PXText {
            objectName: "txText"
            anchors.horizontalCenter: parent.horizontalCenter
            text: SpeedGauge.speedText(section.txSpeed)
            color: "#00A650"
            font.pixelSize: Math.max(8, section.side * 0.08)
        }
    }
}

import QtQuick 2.2
import QtTest 1.1
import "qrc:/js/SpeedGauge.js" as SpeedGauge

TestCase {
    id: testCase
    name: "SpeedGauge"
    width: 400
    height: 400
    when: windowShown
    visible: true

    function test_percentage_data()
    {
        return [
            { tag: "no maximum, below 1", speed: 0.5, maximum: 0, percent: 0 },
            { tag: "no maximum, exactly 1", speed: 1, maximum: 0, percent: 100 },
            { tag: "no maximum, large", speed: 900, maximum: 0, percent: 100 },
            { tag: "half", speed: 50, maximum: 100, percent: 50 },
            { tag: "floor", speed: 33.39, maximum: 100, percent: 33 },
            { tag: "above maximum", speed: 150, maximum: 100, percent: 100 },
            { tag: "zero", speed: 0, maximum: 100, percent: 0 },
            { tag: "negative", speed: -5, maximum: 100, percent: 0 },
            { tag: "not a number", speed: NaN, maximum: 100, percent: 0 }
        ];
    }

    function test_percentage(data)
    {
        compare(SpeedGauge.percentage(data.speed, data.maximum), data.percent);
    }

    function test_speedText()
    {
        compare(SpeedGauge.speedText(0), "0.0");
        compare(SpeedGauge.speedText(12.345), "12.3");
        compare(SpeedGauge.speedText(-1), "0.0");
    }

    Component {
        id: sectionComponent
        Loader {
            width: 300
            height: 300
            source: "qrc:/sections/PXSpeedSection.qml"
        }
    }

    function createSection()
    {
        var loader = createTemporaryObject(sectionComponent, testCase);
        verify(loader.item !== null);
        return loader.item;
    }

    // The first speed fills the ring; later ones are shown against the largest so far, which
    // transmit shares.
    function test_ring_against_the_largest_speed()
    {
        var section = createSection();
        compare(section.objectName, "speed");
        section.setRxMeterSpeed(3);
        compare(section.rxPercent, 100);
        section.setRxMeterSpeed(100);
        section.setRxMeterSpeed(50);
        compare(section.rxPercent, 50);
        compare(section.maximum, 100);
        section.setTxMeterSpeed(25);
        compare(section.txPercent, 25);
        compare(findChild(section, "rxText").text, "50.0");
        compare(findChild(section, "txText").text, "25.0");
        section.resetMeterSpeed();
        compare(findChild(section, "txText").text, "0.0");
        section.setRxMeterSpeed(10);
        compare(section.rxPercent, 100);
    }

    function test_arc_animates_to_the_value()
    {
        var section = createSection();
        section.setRxMeterSpeed(100);
        section.setRxMeterSpeed(50);
        var gauge = findChild(section, "rxGauge");
        tryCompare(gauge, "shownValue", 50, 2000);
    }
}

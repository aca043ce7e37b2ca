import QtQuick 2.2
import QtTest 1.1
import "qrc:/js/SpeedGauge.js" as SpeedGauge

TestCase {
    name: "SpeedGauge"

    function test_percentage_data()
    {
        return [
            { tag: "no maximum, below 1", speed: 0.5, maximum: 0, percent: 0, text: "0.5" },
            { tag: "no maximum, exactly 1", speed: 1, maximum: 0, percent: 100, text: "1.0" },
            { tag: "no maximum, large", speed: 900, maximum: 0, percent: 100, text: "900.0" },
            { tag: "half", speed: 50, maximum: 100, percent: 50, text: "50.0" },
            { tag: "floor", speed: 33.39, maximum: 100, percent: 33, text: "33.4" },
            { tag: "above maximum", speed: 150, maximum: 100, percent: 100, text: "150.0" },
            { tag: "zero", speed: 0, maximum: 100, percent: 0, text: "0.0" },
            { tag: "negative", speed: -5, maximum: 100, percent: 0, text: "0.0" },
            { tag: "not a number", speed: NaN, maximum: 100, percent: 0, text: "0.0" }
        ];
    }

    // The ring's fill, and the text in the middle with one decimal.
    function test_percentage(data)
    {
        compare(SpeedGauge.percentage(data.speed, data.maximum), data.percent);
        compare(SpeedGauge.speedText(data.speed), data.text);
    }
}

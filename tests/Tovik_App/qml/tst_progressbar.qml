import QtQuick 2.15
import QtQuick.Window 2.15
import QtTest 1.15

// GenericProgressBar on its own, from the resources, without the window's clamping.
TestCase {
    id: testCase
    name: "GenericProgressBar"
    width: 500
    height: 400

    property var component: null
    property var bar: null

    // A shown window, so that visibility reflects the component's own binding.
    Window {
        width: 500
        height: 400
        visible: true

        Item {
            id: host
            width: 450
            height: 300
        }
    }

    function initTestCase() {
        component = Qt.createComponent("qrc:/Tovik_App/GenericProgressBar.qml");
        compare(component.status, Component.Ready, component.errorString());
    }

    function init() {
        bar = component.createObject(host);
        verify(bar !== null);
    }

    function cleanup() {
        bar.destroy();
        bar = null;
        wait(0);
    }

    function part(name) {
        var found = findChild(bar, name);
        verify(found !== null, "no part named " + name);
        return found;
    }

    function test_shownWhileFlashing() {
        compare(bar.visible, false);
        bar.isFlashing = true;
        compare(bar.visible, true);
    }

    function test_caption_data() {
        return [["downloading", "fw.tvq", "Downloading..."],
                ["transfer", "tovik_1.6.0.tvq", "Transferring: tovik_1.6.0.tvq"],
                ["transfer", "", "Transferring..."], ["transfer", "a <b>tag</b>",
                "Transferring: a <b>tag</b>"], ["flashing", "x", "Working..."],
                ["Downloading", "", "Working..."]].map(function(r) {
            return { tag: "'" + r[0] + "' '" + r[1] + "'", mode: r[0], fileName: r[1],
                     caption: r[2] };
        });
    }

    function test_caption(data) {
        bar.mode = data.mode;
        bar.fileName = data.fileName;
        compare(part("progressCaption").text, data.caption);
        compare(part("progressCaption").textFormat, Text.PlainText);
    }

    function test_percentage_data() {
        // Unclamped here; past 100 the fill is wider than the track, which clips it.
        return [[0, "0%", 0], [100, "100%", 1], [42.5, "43%", 0.425], [-5, "-5%", 0],
                [150, "150%", 1.5]].map(function(r) {
            return { tag: String(r[0]), value: r[0], text: r[1], fill: r[2] };
        });
    }

    function test_percentage(data) {
        bar.isFlashing = true;
        bar.percentage = data.value;
        compare(part("progressText").text, data.text);
        fuzzyCompare(part("progressFill").width, part("progressTrack").width * data.fill, 0.01);
        compare(part("progressTrack").clip, true);
    }
}

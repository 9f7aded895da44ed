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

    function test_defaults() {
        compare([bar.isFlashing, bar.percentage, bar.fileName, bar.mode, bar.visible],
                [false, 0, "", "flashing", false]);
        bar.isFlashing = true;
        compare(bar.visible, true);
        fuzzyCompare(bar.width, 0.4 * host.width, 0.01);
        compare(bar.height, 120);
        compare(part("progressCaption").text, "Working...");
        compare(part("progressText").text, "0%");
        compare(part("progressFill").width, 0);
        var orphan = component.createObject(null);
        compare([orphan.width, orphan.height], [300, 120]);
        orphan.destroy();
    }

    function test_caption_data() {
        return [["downloading", "", "Downloading..."], ["downloading", "fw.tvq", "Downloading..."],
                ["transfer", "tovik_1.6.0.tvq", "Transferring: tovik_1.6.0.tvq"],
                ["transfer", "", "Transferring..."], ["flashing", "x", "Working..."],
                ["Downloading", "", "Working..."], ["", "", "Working..."]].map(function(r) {
            return { tag: "'" + r[0] + "' '" + r[1] + "'", mode: r[0], fileName: r[1],
                     caption: r[2] };
        });
    }

    function test_caption(data) {
        bar.mode = data.mode;
        bar.fileName = data.fileName;
        compare(part("progressCaption").text, data.caption);
    }

    function test_percentage_data() {
        // Unclamped here; past 100 the fill is wider than the track, which clips it.
        return [[0, "0%", 0], [100, "100%", 1], [42.5, "43%", 0.425], [42.4, "42%", 0.424],
                [-5, "-5%", 0], [-2.5, "-2%", 0], [150, "150%", 1.5]].map(function(r) {
            return { tag: String(r[0]), value: r[0], text: r[1], fill: r[2] };
        });
    }

    function test_percentage(data) {
        bar.isFlashing = true;
        bar.percentage = data.value;
        compare(part("progressText").text, data.text);
        fuzzyCompare(part("progressFill").width, part("progressTrack").width * data.fill, 0.01);
    }

    // Caption above a clipped track, centred in the bar.
    function test_structure() {
        bar.isFlashing = true;
        var column = part("progressColumn");
        fuzzyCompare(column.width, 0.8 * bar.width, 0.01);
        fuzzyCompare(column.x + column.width / 2, bar.width / 2, 0.5);
        fuzzyCompare(column.y + column.height / 2, bar.height / 2, 0.5);
        var caption = part("progressCaption");
        compare([caption.width, caption.font.family, caption.font.pixelSize],
                [column.width, "Poppins", Math.round(0.08 * column.width)]);
        var text = part("progressText");
        var track = part("progressTrack");
        fuzzyCompare(text.x + text.width / 2, track.width / 2, 0.5);
        fuzzyCompare(track.y, caption.height + column.spacing, 0.5);
        compare([track.clip, part("progressBackground").width], [true, track.width]);
    }

    function test_longCaptionWraps() {
        bar.isFlashing = true;
        bar.mode = "transfer";
        bar.fileName = "an_update_file_name_that_is_far_too_long_for_one_line_of_the_caption.tvq";
        var caption = part("progressCaption");
        verify(caption.lineCount > 1, "caption did not wrap");
        verify(caption.contentWidth <= caption.width + 0.5);
        var column = part("progressColumn");
        fuzzyCompare(column.y + column.height / 2, bar.height / 2, 0.5);
        bar.fileName = "a <b>tag</b>";
        compare(caption.text, "Transferring: a <b>tag</b>");
        compare(caption.textFormat, Text.PlainText);
    }
}

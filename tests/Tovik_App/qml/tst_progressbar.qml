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
        compare(bar.isFlashing, false);
        compare(bar.percentage, 0);
        compare(bar.fileName, "");
        compare(bar.mode, "flashing");
        compare(bar.visible, false);
        bar.isFlashing = true;
        compare(bar.visible, true);
        fuzzyCompare(bar.width, 0.4 * host.width, 0.01);
        compare(bar.height, 120);
        compare(part("progressCaption").text, "Working...");
        compare(part("progressText").text, "0%");
        compare(part("progressFill").width, 0);
    }

    function test_noParentWidth() {
        var orphan = component.createObject(null);
        compare(orphan.width, 300);
        compare(orphan.height, 120);
        orphan.destroy();
    }

    function test_caption_data() {
        return [
            { tag: "downloading", mode: "downloading", fileName: "", caption: "Downloading..." },
            { tag: "downloading ignores name", mode: "downloading", fileName: "fw.tvq",
              caption: "Downloading..." },
            { tag: "transfer with name", mode: "transfer", fileName: "tovik_1.6.0.tvq",
              caption: "Transferring: tovik_1.6.0.tvq" },
            { tag: "transfer without name", mode: "transfer", fileName: "",
              caption: "Transferring..." },
            { tag: "flashing", mode: "flashing", fileName: "x", caption: "Working..." },
            { tag: "unknown", mode: "Downloading", fileName: "", caption: "Working..." },
            { tag: "empty", mode: "", fileName: "", caption: "Working..." }
        ];
    }

    function test_caption(data) {
        bar.mode = data.mode;
        bar.fileName = data.fileName;
        compare(part("progressCaption").text, data.caption);
    }

    function test_percentage_data() {
        return [
            { tag: "0", value: 0, text: "0%", fill: 0 },
            { tag: "100", value: 100, text: "100%", fill: 1 },
            { tag: "42.5 rounds up", value: 42.5, text: "43%", fill: 0.425 },
            { tag: "42.4 rounds down", value: 42.4, text: "42%", fill: 0.424 },
            { tag: "-5 unclamped", value: -5, text: "-5%", fill: 0 },
            { tag: "-2.5 halves upward", value: -2.5, text: "-2%", fill: 0 },
            { tag: "150 unclamped", value: 150, text: "150%", fill: 1.5 }
        ];
    }

    function test_percentage(data) {
        bar.isFlashing = true;
        bar.percentage = data.value;
        var track = part("progressTrack");
        compare(part("progressText").text, data.text);
        fuzzyCompare(part("progressFill").width, track.width * data.fill, 0.01);
        // Past 100 the fill is wider than the bar, which clips it at its right edge.
        compare(track.clip, true);
        compare(track.height, 18);
        verify(Qt.colorEqual(track.color, "transparent"));
        verify(Qt.colorEqual(part("progressFill").color, "#44BACD"));
        verify(Qt.colorEqual(part("progressBackground").color, "#222"));
        compare(part("progressBackground").width, track.width);
    }

    function test_structure() {
        bar.isFlashing = true;
        var column = part("progressColumn");
        fuzzyCompare(column.width, 0.8 * bar.width, 0.01);
        fuzzyCompare(column.x + column.width / 2, bar.width / 2, 0.5);
        fuzzyCompare(column.y + column.height / 2, bar.height / 2, 0.5);
        compare(column.spacing, 12);
        var caption = part("progressCaption");
        compare(caption.width, column.width);
        compare(caption.font.family, "Poppins");
        compare(caption.font.pixelSize, Math.round(0.08 * column.width));
        compare(caption.wrapMode, Text.WrapAtWordBoundaryOrAnywhere);
        compare(caption.horizontalAlignment, Text.AlignHCenter);
        verify(Qt.colorEqual(caption.color, "white"));
        var text = part("progressText");
        compare(text.font.pixelSize, 14);
        compare(text.font.family, "Poppins");
        var track = part("progressTrack");
        fuzzyCompare(text.x + text.width / 2, track.width / 2, 0.5);
        fuzzyCompare(track.y, caption.height + 12, 0.5);
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

#include "midi/SysExMessage.h"

#include <QByteArray>
#include <QtTest>

Q_DECLARE_METATYPE(SysExKind)

namespace {
SysExMessage fromHex(const char *hex)
{
    const QByteArray raw = QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
    return SysExMessage(raw.begin(), raw.end());
}
} // namespace

class TestSysEx : public QObject
{
    Q_OBJECT
private slots:
    void hostMessages_data();
    void hostMessages();
    void classify_data();
    void classify();
    void versionReplyRoundTrip_data();
    void versionReplyRoundTrip();
    void hostMessagesAreNotTakenForReplies();
};

void TestSysEx::hostMessages_data()
{
    QTest::addColumn<SysExMessage>("message");
    QTest::addColumn<QString>("hex");
    QTest::newRow("version request") << MIDI_SYSEX_VERSION_REQUEST << "f00003010201f7";
    QTest::newRow("transfer start") << MIDI_SYSEX_TRANSFER_START << "f07e7f0903f7";
    QTest::newRow("transfer end") << MIDI_SYSEX_TRANSFER_END << "f07e7f0904f7";
    QTest::newRow("update mode") << MIDI_SYSEX_UPDATE_MODE << "f00001030101f7";
    QTest::newRow("update finish") << MIDI_SYSEX_UPDATE_FINISH << "f00001030102f7";
}

void TestSysEx::hostMessages()
{
    QFETCH(SysExMessage, message);
    QFETCH(QString, hex);
    QCOMPARE(message, fromHex(hex.toLatin1().constData()));
    QCOMPARE(int(message.front()), 0xF0);
    QCOMPARE(int(message.back()), 0xF7);
}

void TestSysEx::classify_data()
{
    QTest::addColumn<SysExMessage>("message");
    QTest::addColumn<SysExKind>("kind");
    QTest::addColumn<QByteArray>("version");

    const auto row = [](const char *name, const char *hex, SysExKind kind,
                        const QByteArray &version = QByteArray()) {
        QTest::newRow(name) << fromHex(hex) << kind << version;
    };
    row("version 1.5.0", "F0 7D 01 31 2E 35 2E 30 F7", SysExKind::VersionReply, "1.5.0");
    row("four characters", "F0 7D 01 31 2E 35 30 F7", SysExKind::Unrecognised);
    row("trailing blank kept", "F0 7D 01 31 2E 35 2E 30 20 F7", SysExKind::VersionReply, "1.5.0 ");
    row("long version", "F0 7D 01 31 30 2E 31 32 2E 31 33 F7", SysExKind::VersionReply, "10.12.13");
    row("zero byte not a terminator", "F0 7D 01 31 00 35 2E 30 F7", SysExKind::VersionReply,
        QByteArray("1\0005.0", 5));
    row("high bytes verbatim", "F0 7D 01 E9 2E 35 2E 30 F7", SysExKind::VersionReply, "\xE9.5.0");
    row("wrong command", "F0 7D 02 31 2E 35 2E 30 F7", SysExKind::Unrecognised);
    row("wrong manufacturer", "F0 7E 01 31 2E 35 2E 30 F7", SysExKind::Unrecognised);
    row("no end byte", "F0 7D 01 31 2E 35 2E 30 00", SysExKind::Unrecognised);
    row("no start byte", "00 7D 01 31 2E 35 2E 30 F7", SysExKind::Unrecognised);
    row("transfer start ack", "F0 7E 7F 09 03 F7", SysExKind::TransferStartAck);
    row("transfer end ack", "F0 7E 7F 09 04 F7", SysExKind::TransferEndAck);
    row("other sub-command", "F0 7E 7F 09 05 F7", SysExKind::Unrecognised);
    row("other device", "F0 7E 00 09 03 F7", SysExKind::Unrecognised);
    row("seven-byte start", "F0 7E 7F 09 03 00 F7", SysExKind::Unrecognised);
    row("five-byte start", "F0 7E 7F 09 03", SysExKind::Unrecognised);
    row("ack without end", "F0 7E 7F 09 03 00", SysExKind::Unrecognised);
    row("note on", "90 3C 64", SysExKind::Unrecognised);
    row("timing clock", "F8", SysExKind::Unrecognised);
    row("active sensing", "FE", SysExKind::Unrecognised);
    row("lone start", "F0", SysExKind::Unrecognised);
    row("empty", "", SysExKind::Unrecognised);
    row("version request echoed", "F0 00 03 01 02 01 F7", SysExKind::Unrecognised);
}

void TestSysEx::classify()
{
    QFETCH(SysExMessage, message);
    QFETCH(SysExKind, kind);
    QFETCH(QByteArray, version);
    const SysExClassification result = classifySysEx(message);
    QCOMPARE(result.kind, kind);
    QCOMPARE(QByteArray::fromStdString(result.version), version);
    // The pointer form must agree with the vector form.
    const SysExClassification raw = classifySysEx(message.data(), message.size());
    QCOMPARE(raw.kind, kind);
    QCOMPARE(raw.version, result.version);
}

void TestSysEx::versionReplyRoundTrip_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<SysExKind>("kind");
    QTest::newRow("1.5.0") << QByteArray("1.5.0") << SysExKind::VersionReply;
    QTest::newRow("2.0.10") << QByteArray("2.0.10") << SysExKind::VersionReply;
    QTest::newRow("too short") << QByteArray("1.50") << SysExKind::Unrecognised;
    QTest::newRow("empty") << QByteArray() << SysExKind::Unrecognised;
}

void TestSysEx::versionReplyRoundTrip()
{
    QFETCH(QByteArray, version);
    QFETCH(SysExKind, kind);
    const SysExMessage reply = makeVersionReply(version.toStdString());
    QCOMPARE(reply.size(), static_cast<std::size_t>(version.size() + 4));
    const SysExClassification result = classifySysEx(reply);
    QCOMPARE(result.kind, kind);
    if (kind == SysExKind::VersionReply)
        QCOMPARE(QByteArray::fromStdString(result.version), version);
}

void TestSysEx::hostMessagesAreNotTakenForReplies()
{
    // Only the two transfer messages come back identical; a loop-back of them looks like a
    // confirmation, of the others like nothing.
    QCOMPARE(classifySysEx(MIDI_SYSEX_VERSION_REQUEST).kind, SysExKind::Unrecognised);
    QCOMPARE(classifySysEx(MIDI_SYSEX_UPDATE_MODE).kind, SysExKind::Unrecognised);
    QCOMPARE(classifySysEx(MIDI_SYSEX_UPDATE_FINISH).kind, SysExKind::Unrecognised);
    QCOMPARE(classifySysEx(MIDI_SYSEX_TRANSFER_START).kind, SysExKind::TransferStartAck);
    QCOMPARE(classifySysEx(MIDI_SYSEX_TRANSFER_END).kind, SysExKind::TransferEndAck);
}

QTEST_APPLESS_MAIN(TestSysEx)
#include "tst_sysex.moc"

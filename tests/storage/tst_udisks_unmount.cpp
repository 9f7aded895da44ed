#include "LogCapture.h"

#include "storage/SystemDismounter.h"

#include <QtDBus>
#include <QtTest>

#include <unistd.h>

// The Linux dismount through UDisks2, against a mock UDisks2 service (python3-dbusmock with our
// template) on a private message bus, so the real QtDBus code runs and is checked.
class TestUDisksUnmount : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void unmount_data();
    void unmount();

private:
    bool serviceRegistered();

    QProcess bus;
    QProcess mock;
    QString address;
    QTemporaryDir dir;
};

void TestUDisksUnmount::initTestCase()
{
    if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) != 0)
        QSKIP("python3-dbusmock is not installed for /usr/bin/python3");
    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--print-address=1")});
    while (!bus.canReadLine())
        QVERIFY2(bus.waitForReadyRead(10000), "dbus-daemon printed no address");
    address = QString::fromUtf8(bus.readLine()).trimmed();
}

void TestUDisksUnmount::cleanupTestCase()
{
    bus.terminate();
    QVERIFY(bus.waitForFinished(5000));
}

bool TestUDisksUnmount::serviceRegistered()
{
    return QDBusConnection::connectToBus(address, QStringLiteral("test-watcher"))
        .interface()
        ->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2"));
}

void TestUDisksUnmount::cleanup()
{
    if (mock.state() == QProcess::NotRunning)
        return;
    mock.terminate();
    QVERIFY(mock.waitForFinished(5000));
    // Wait until the bus has noticed, so the next row never talks to a dying mock.
    QTRY_VERIFY_WITH_TIMEOUT(!serviceRegistered(), 5000);
}

void TestUDisksUnmount::unmount_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("error");            // the mock's answer to Unmount
    QTest::addColumn<QStringList>("warningParts"); // each must be in the warnings

    // Without UDisks2 only root may unmount; the folder here is no mount point, so the kernel
    // refuses too. Either way the attempt ends in a clear false.
    const QString fallback =
        ::geteuid() == 0 ? QStringLiteral("FM: umount2 of") : QStringLiteral("FM: Cannot unmount");
    QTest::newRow("unmounted") << QString() << QString() << QStringList();
    QTest::newRow("device busy") << QString()
                                 << QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy")
                                 << QStringList();
    QTest::newRow("not authorised")
        << QString() << QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain")
        << QStringList();
    // The mock says yes, but "/" stays mounted.
    QTest::newRow("still mounted afterwards")
        << QStringLiteral("root") << QString()
        << QStringList{QStringLiteral("FM: Volume still mounted after unmount: \"/\"")};
    QTest::newRow("not known to UDisks2")
        << QStringLiteral("unknown") << QString()
        << QStringList{QStringLiteral("UDisks2 knows no file system mounted there"), fallback};
    QTest::newRow("no service")
        << QStringLiteral("none") << QString()
        << QStringList{
               QStringLiteral("no UDisks2 service: org.freedesktop.DBus.Error.ServiceUnknown"),
               fallback};
    QTest::newRow("no bus at all")
        << QStringLiteral("nobus") << QString()
        << QStringList{QStringLiteral("no D-Bus: org.freedesktop.DBus.Error.FileNotFound")};
}

void TestUDisksUnmount::unmount()
{
    QFETCH(QString, mode);
    QFETCH(QString, error);
    QFETCH(QStringList, warningParts);

    const QString message = QStringLiteral("Error unmounting /dev/sdb1: target is busy");
    if (!error.isEmpty())
        warningParts << u'"' + error + u'"' << u'"' + message + u'"';
    const bool known = mode.isEmpty() || mode == QLatin1String("root");
    const QString target =
        mode == QLatin1String("root") ? QStringLiteral("/") : dir.filePath(QTest::currentDataTag());
    QVERIFY(QDir().mkpath(target));
    const QString calls = dir.filePath(QTest::currentDataTag() + QStringLiteral(".calls"));
    if (known || mode == QLatin1String("unknown")) {
        // The mock reports the mount point with a trailing slash: still the same one.
        const QJsonObject parameters{
            {QStringLiteral("mount_point"), known ? target + u'/' : QStringLiteral("/mnt/else")},
            {QStringLiteral("other_mount_point"), QStringLiteral("/mnt/other")},
            {QStringLiteral("unmount_error"), error},
            {QStringLiteral("error_message"), message}};
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        mock.setProcessEnvironment(env);
        mock.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"),
                    QStringLiteral("-t"),
                    qEnvironmentVariable("TOVIK_SOURCE_DIR") +
                        QStringLiteral("/tests/storage/udisks2_mock.py"),
                    QStringLiteral("-l"), calls, QStringLiteral("-p"),
                    QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
        QTRY_VERIFY_WITH_TIMEOUT(serviceRegistered(), 20000);
    }

    LogCapture messages;
    SystemDismounter dismounter(mode == QLatin1String("nobus")
                                    ? QStringLiteral("unix:path=") + dir.filePath("no-bus")
                                    : address);
    // The FileManager calls the dismounter on its worker thread, so the test does too.
    bool result = false;
    std::unique_ptr<QThread> worker(QThread::create([&] { result = dismounter.dismount(target); }));
    worker->start();
    QVERIFY(worker->wait(90000));
    // Only a known volume, unmounted without error and gone afterwards, counts.
    QCOMPARE(result, mode.isEmpty() && error.isEmpty());

    const QString warnings = messages.lines().join(u'\n');
    QVERIFY2(warnings.isEmpty() == warningParts.isEmpty(), qPrintable(warnings));
    for (const QString &part : std::as_const(warningParts))
        QVERIFY2(warnings.contains(part),
                 qPrintable(part + QStringLiteral(" not in:\n") + warnings));

    // Exactly one Unmount, of the right file system and without asking the user, when UDisks2
    // knows the volume; none otherwise.
    QFile callLog(calls);
    const QString log =
        callLog.open(QIODevice::ReadOnly) ? QString::fromUtf8(callLog.readAll()) : QString();
    const int unmounts = log.count(QStringLiteral(" Unmount {\"auth.no_user_interaction\": True}"));
    QCOMPARE(unmounts, known ? 1 : 0);
    QCOMPARE(log.count(QStringLiteral(" Unmount ")) - log.count(QStringLiteral("Unmount raised")),
             unmounts);
}

QTEST_GUILESS_MAIN(TestUDisksUnmount)
#include "tst_udisks_unmount.moc"

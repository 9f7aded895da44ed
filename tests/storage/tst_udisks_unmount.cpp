#include "diagnostics/Logging.h"
#include "storage/SystemDismounter.h"
#include "tests/support/Files.h"

#include <QtDBus>
#include <QtTest>

// The Linux dismount through UDisks2, against a mock UDisks2 (python3-dbusmock with our
// template) on a private message bus, so the real QtDBus code runs.
class TestUDisksUnmount : public QObject
{
    Q_OBJECT
public:
    enum class Service { KnowsVolume, KeepsItMounted, KnowsOtherVolume, Absent, NoBus };
    Q_ENUM(Service)

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

struct UnmountCase
{
    const char *name;
    TestUDisksUnmount::Service service;
    const char *unmountError; // the mock's answer to Unmount, empty for success
    bool dismounted;
    const char *logged; // a piece the log must hold; empty: the log holds no warning
};

void TestUDisksUnmount::initTestCase()
{
    if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) != 0)
        QSKIP("python3-dbusmock is not installed for /usr/bin/python3");
    initLogging(QStringLiteral("test"));
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
    // The next row must never talk to a dying mock.
    QTRY_VERIFY_WITH_TIMEOUT(!serviceRegistered(), 5000);
}

void TestUDisksUnmount::unmount_data()
{
    QTest::addColumn<UnmountCase>("c");
    const UnmountCase cases[] = {
        {"unmounted", Service::KnowsVolume, "", true, ""},
        {"device busy", Service::KnowsVolume, "org.freedesktop.UDisks2.Error.DeviceBusy", false,
         "\"org.freedesktop.UDisks2.Error.DeviceBusy\" \"target is busy\""},
        {"not authorised", Service::KnowsVolume,
         "org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain", false,
         "\"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain\" \"target is busy\""},
        // The mock says yes, but "/" stays mounted.
        {"still mounted afterwards", Service::KeepsItMounted, "", false,
         "FM: Volume still mounted after unmount: \"/\""},
        {"not known to UDisks2", Service::KnowsOtherVolume, "", false,
         "UDisks2 knows no file system mounted there"},
        {"no service", Service::Absent, "", false,
         "no UDisks2 service: org.freedesktop.DBus.Error.ServiceUnknown"},
        {"no bus at all", Service::NoBus, "", false,
         "no D-Bus: org.freedesktop.DBus.Error.FileNotFound"},
    };
    for (const UnmountCase &c : cases)
        QTest::newRow(c.name) << c;
}

void TestUDisksUnmount::unmount()
{
    QFETCH(UnmountCase, c);
    const bool keeps = c.service == Service::KeepsItMounted;
    const bool knows = c.service == Service::KnowsVolume || keeps;
    const QString target = keeps ? QStringLiteral("/") : dir.filePath(QTest::currentDataTag());
    QVERIFY(QDir().mkpath(target));
    const QString calls = dir.filePath(QTest::currentDataTag() + QStringLiteral(".calls"));
    if (knows || c.service == Service::KnowsOtherVolume) {
        // The mock reports the mount point with a trailing slash: still the same one.
        const QJsonObject parameters{
            {QStringLiteral("mount_point"), knows ? target + u'/' : QStringLiteral("/mnt/else")},
            {QStringLiteral("other_mount_point"), QStringLiteral("/mnt/other")},
            {QStringLiteral("unmount_error"), QString::fromLatin1(c.unmountError)}};
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        mock.setProcessEnvironment(env);
        mock.start(QStringLiteral("/usr/bin/python3"),
                   {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"),
                    QStringLiteral("-t"),
                    qEnvironmentVariable("TOVIK_SOURCE_DIR") + "/tests/storage/udisks2_mock.py",
                    QStringLiteral("-l"), calls, QStringLiteral("-p"),
                    QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
        QTRY_VERIFY_WITH_TIMEOUT(serviceRegistered(), 20000);
    }

    const LogWatch log;
    SystemDismounter dismounter(c.service == Service::NoBus
                                    ? QStringLiteral("unix:path=") + dir.filePath("no-bus")
                                    : address);
    // The FileManager calls the dismounter on its worker thread, so the test does too.
    bool dismounted = false;
    std::unique_ptr<QThread> worker(
        QThread::create([&] { dismounted = dismounter.dismount(target); }));
    worker->start();
    QVERIFY(worker->wait(90000));
    QCOMPARE(dismounted, c.dismounted);
    const QStringList messages = log.messages();
    const QString all = messages.join(u'\n');
    QVERIFY2(QByteArray(c.logged).isEmpty()
                 ? messages.filter(QRegularExpression("^WARN ")).isEmpty()
                 : all.contains(QLatin1String(c.logged)),
             qPrintable(all));

    // Exactly one Unmount of the right file system, never asking the user, when UDisks2 knows
    // the volume; none otherwise.
    const QString called = QString::fromUtf8(fileBytes(calls));
    const int unmounts =
        called.count(QStringLiteral(" Unmount {\"auth.no_user_interaction\": True}"));
    QCOMPARE(unmounts, knows ? 1 : 0);
    QCOMPARE(called.count(QStringLiteral(" Unmount ")) - called.count(QStringLiteral("raised")),
             unmounts);
}

QTEST_GUILESS_MAIN(TestUDisksUnmount)
#include "tst_udisks_unmount.moc"

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
    bool startMock(const QJsonObject &parameters);
    void stopMock();
    static bool dismountOnWorker(SystemDismounter &dismounter, const QString &rootPath);

    QProcess bus;
    QProcess mock;
    QString address;
    QTemporaryDir dir;
};

void TestUDisksUnmount::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
        QSKIP("dbus-daemon is not installed");
    if (QProcess::execute(QStringLiteral("/usr/bin/python3"),
                          {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) != 0)
        QSKIP("python3-dbusmock is not installed for /usr/bin/python3");
    QVERIFY(dir.isValid());

    bus.start(QStringLiteral("dbus-daemon"),
              {QStringLiteral("--session"), QStringLiteral("--nofork"),
               QStringLiteral("--print-address=1")});
    QVERIFY(bus.waitForStarted(10000));
    while (!bus.canReadLine())
        QVERIFY2(bus.waitForReadyRead(10000), "dbus-daemon printed no address");
    address = QString::fromUtf8(bus.readLine()).trimmed();
    QVERIFY(!address.isEmpty());
}

void TestUDisksUnmount::cleanupTestCase()
{
    stopMock();
    if (bus.state() != QProcess::NotRunning) {
        bus.terminate();
        bus.waitForFinished(5000);
    }
}

void TestUDisksUnmount::cleanup()
{
    stopMock();
}

bool TestUDisksUnmount::startMock(const QJsonObject &parameters)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
    mock.setProcessEnvironment(env);
    mock.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QFile::remove(dir.filePath(QStringLiteral("calls.log")));
    const QString templatePath =
        qEnvironmentVariable("TOVIK_SOURCE_DIR") + QStringLiteral("/tests/storage/udisks2_mock.py");
    mock.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--session"),
                QStringLiteral("-t"), templatePath, QStringLiteral("-l"),
                dir.filePath(QStringLiteral("calls.log")), QStringLiteral("-p"),
                QString::fromUtf8(QJsonDocument(parameters).toJson(QJsonDocument::Compact))});
    if (!mock.waitForStarted(10000))
        return false;
    QDBusConnection watcher =
        QDBusConnection::connectToBus(address, QStringLiteral("test-watcher"));
    QDeadlineTimer deadline(20000);
    while (!deadline.hasExpired()) {
        if (watcher.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2")))
            return true;
        if (mock.state() == QProcess::NotRunning)
            return false;
        QTest::qWait(50);
    }
    return false;
}

void TestUDisksUnmount::stopMock()
{
    if (mock.state() == QProcess::NotRunning)
        return;
    mock.terminate();
    if (!mock.waitForFinished(5000)) {
        mock.kill();
        mock.waitForFinished(5000);
    }
    // Wait until the bus has noticed, so the next row never talks to a dying mock.
    QDBusConnection watcher =
        QDBusConnection::connectToBus(address, QStringLiteral("test-watcher"));
    QTRY_VERIFY_WITH_TIMEOUT(
        !watcher.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.UDisks2")), 5000);
}

// The FileManager calls the dismounter on its worker thread, so the tests do too.
bool TestUDisksUnmount::dismountOnWorker(SystemDismounter &dismounter, const QString &rootPath)
{
    bool result = false;
    std::unique_ptr<QThread> worker(
        QThread::create([&] { result = dismounter.dismount(rootPath); }));
    QSignalSpy finished(worker.get(), &QThread::finished);
    worker->start();
    if (!finished.wait(90000))
        qFatal("the dismount did not return");
    worker->wait();
    return result;
}

void TestUDisksUnmount::unmount_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<bool>("success");
    QTest::addColumn<bool>("unmountCalled");
    QTest::addColumn<QStringList>("warningParts"); // each must be in the warnings, in order

    const bool root = ::geteuid() == 0;
    // Without UDisks2 only root may unmount; the folder here is no mount point, so the kernel
    // refuses too. Either way the attempt ends in a clear false.
    const QString fallback =
        root ? QStringLiteral("FM: umount2 of") : QStringLiteral("FM: Cannot unmount");

    QTest::newRow("unmounted") << QStringLiteral("ok") << true << true << QStringList();
    QTest::newRow("device busy")
        << QStringLiteral("busy") << false << true
        << QStringList{QStringLiteral("\"org.freedesktop.UDisks2.Error.DeviceBusy\""),
                       QStringLiteral("\"Error unmounting /dev/sdb1: target is busy\"")};
    QTest::newRow("not authorised")
        << QStringLiteral("notauth") << false << true
        << QStringList{QStringLiteral("\"org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain\""),
                       QStringLiteral("\"Not authorized to perform operation\"")};
    QTest::newRow("still mounted afterwards")
        << QStringLiteral("still") << false << true
        << QStringList{QStringLiteral("FM: Volume still mounted after unmount: \"/\"")};
    QTest::newRow("not known to UDisks2")
        << QStringLiteral("unknown") << false << false
        << QStringList{QStringLiteral("UDisks2 knows no file system mounted there"), fallback};
    QTest::newRow("no service")
        << QStringLiteral("none") << false << false
        << QStringList{
               QStringLiteral("no UDisks2 service: org.freedesktop.DBus.Error.ServiceUnknown"),
               fallback};
    QTest::newRow("no bus at all")
        << QStringLiteral("nobus") << false << false
        << QStringList{QStringLiteral("no D-Bus: org.freedesktop.DBus.Error.FileNotFound")};
}

void TestUDisksUnmount::unmount()
{
    QFETCH(QString, mode);
    QFETCH(bool, success);
    QFETCH(bool, unmountCalled);
    QFETCH(QStringList, warningParts);

    const QString volume = dir.filePath(QStringLiteral("volume-") + mode);
    QVERIFY(QDir().mkpath(volume));
    QString target = volume;
    if (mode == QLatin1String("still"))
        target = QStringLiteral("/"); // the mock says yes, but "/" stays mounted
    if (mode != QLatin1String("none") && mode != QLatin1String("nobus")) {
        QJsonObject parameters{{QStringLiteral("other_mount_point"), QStringLiteral("/mnt/other")}};
        // The mock reports it with a trailing slash, which still names the same mount point.
        parameters.insert(QStringLiteral("mount_point"), mode == QLatin1String("unknown")
                                                             ? QStringLiteral("/mnt/elsewhere")
                                                             : target + QStringLiteral("/"));
        if (mode == QLatin1String("busy")) {
            parameters.insert(QStringLiteral("unmount_error"),
                              QStringLiteral("org.freedesktop.UDisks2.Error.DeviceBusy"));
            parameters.insert(QStringLiteral("error_message"),
                              QStringLiteral("Error unmounting /dev/sdb1: target is busy"));
        } else if (mode == QLatin1String("notauth")) {
            parameters.insert(
                QStringLiteral("unmount_error"),
                QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedCanObtain"));
            parameters.insert(QStringLiteral("error_message"),
                              QStringLiteral("Not authorized to perform operation"));
        }
        QVERIFY(startMock(parameters));
    }

    LogCapture messages;
    SystemDismounter dismounter(mode == QLatin1String("nobus")
                                    ? QStringLiteral("unix:path=") +
                                          dir.filePath(QStringLiteral("no-bus"))
                                    : address);
    QCOMPARE(dismountOnWorker(dismounter, target), success);

    const QString warnings = messages.lines().join(QLatin1Char('\n'));
    qsizetype from = 0;
    for (const QString &part : warningParts) {
        const qsizetype at = warnings.indexOf(part, from);
        QVERIFY2(at >= 0, qPrintable(QStringLiteral("missing \"%1\" in:\n%2").arg(part, warnings)));
        from = at + part.size();
    }
    if (warningParts.isEmpty())
        QVERIFY2(messages.lines().isEmpty(), qPrintable(warnings));

    QFile calls(dir.filePath(QStringLiteral("calls.log")));
    const QString log =
        calls.open(QIODevice::ReadOnly) ? QString::fromUtf8(calls.readAll()) : QString();
    const int unmounts = log.count(QStringLiteral(" Unmount {\"auth.no_user_interaction\": True}"));
    QCOMPARE(unmounts, unmountCalled ? 1 : 0);
    QCOMPARE(log.count(QStringLiteral(" Unmount ")) - log.count(QStringLiteral("Unmount raised")),
             unmounts);
}

QTEST_GUILESS_MAIN(TestUDisksUnmount)
#include "tst_udisks_unmount.moc"

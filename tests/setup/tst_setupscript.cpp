#include "syncsetup.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// Runs the staged setup script against a scratch root: in that mode it
// changes files under the root only and logs the service and clock actions.
class TestSetupScript : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void installFresh();
    void installSyncsWhenServerAnswers();
    void installKeepsEarlierDropIn();
    void reinstallKeepsFirstEarlierDropIn();
    void removeWithoutEarlierDropIn();
    void removeWhenNotSetUp();
    void badArgumentsChangeNothing_data();
    void badArgumentsChangeNothing();
    void failureWritingRecordLosesNothing();
    void failureOnReinstallLosesNothing();
    void syncCommand();
    void setTime();

private:
    int run(const QStringList& args, const QStringList& env = {});
    QString path(const QString& relative) const { return m_root->path() + QLatin1Char('/') + relative; }
    void writeFile(const QString& relative, const QByteArray& text);
    QByteArray readFile(const QString& relative) const;
    QMap<QString, QByteArray> snapshot() const;
    QStringList actions() const;
    void markSynced();

    QString m_script;
    std::unique_ptr<QTemporaryDir> m_root;
    QByteArray m_stderr;
};

namespace {
const QString kDropIn = QStringLiteral("etc/systemd/timesyncd.conf.d/90-tavrin-pellum.conf");
const QString kRecord = QStringLiteral("var/lib/tavrin-pellum/setup.ini");
const QString kPrevious = QStringLiteral("var/lib/tavrin-pellum/previous-dropin.conf");
const QString kActions = QStringLiteral("tavrin-pellum-actions.log");
const QByteArray kEarlier = "# the admin's own choice\n[Time]\nNTP=ntp.lan.internal\n";
}

void TestSetupScript::initTestCase()
{
    m_script = QStringLiteral(PELLUM_BINARY_DIR "/app/tavrin-pellum.sh");
    QVERIFY2(QFile::exists(m_script), qPrintable(m_script + QStringLiteral(" is not staged")));
}

void TestSetupScript::init()
{
    m_root = std::make_unique<QTemporaryDir>();
    QVERIFY(m_root->isValid());
    qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(m_root->path()));
}

void TestSetupScript::cleanup()
{
    qunsetenv("TAVRIN_PELLUM_ROOT");
    m_root.reset();
}

int TestSetupScript::run(const QStringList& args, const QStringList& env)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TAVRIN_PELLUM_ROOT"), m_root->path());
    environment.insert(QStringLiteral("TAVRIN_PELLUM_SYNC_WAIT"), QStringLiteral("0"));
    for (const QString& pair : env) {
        const int eq = pair.indexOf(QLatin1Char('='));
        environment.insert(pair.left(eq), pair.mid(eq + 1));
    }
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("bash"), QStringList{m_script} + args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    m_stderr = process.readAllStandardError();
    return process.exitCode();
}

void TestSetupScript::writeFile(const QString& relative, const QByteArray& text)
{
    QVERIFY(QDir().mkpath(QFileInfo(path(relative)).path()));
    QFile file(path(relative));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), qint64(text.size()));
}

QByteArray TestSetupScript::readFile(const QString& relative) const
{
    QFile file(path(relative));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("<missing>");
    return file.readAll();
}

// Every file and directory under the root with its contents.
QMap<QString, QByteArray> TestSetupScript::snapshot() const
{
    QMap<QString, QByteArray> entries;
    QDirIterator it(m_root->path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        const QString relative = QDir(m_root->path()).relativeFilePath(file);
        entries.insert(relative, it.fileInfo().isDir() ? QByteArrayLiteral("<dir>") : readFile(relative));
    }
    return entries;
}

QStringList TestSetupScript::actions() const
{
    const QByteArray log = readFile(kActions);
    if (log == "<missing>")
        return {};
    return QString::fromUtf8(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestSetupScript::markSynced()
{
    writeFile(QStringLiteral("run/systemd/timesync/synchronized"), QByteArray());
}

void TestSetupScript::installFresh()
{
    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}), 3);
    const QByteArray dropIn = readFile(kDropIn);
    QVERIFY2(dropIn.contains("\nNTP=10.0.0.5\n"), dropIn.constData());
    QVERIFY(dropIn.contains("\nFallbackNTP=\n"));
    QVERIFY(dropIn.contains("\nPollIntervalMinSec=1800\n"));
    QVERIFY(dropIn.contains("\nPollIntervalMaxSec=1800\n"));
    QVERIFY(!QFile::exists(path(kPrevious)));

    const SyncSetup setup = readSyncSetup();
    QCOMPARE(setup.server, QStringLiteral("10.0.0.5"));
    QVERIFY(!setup.hasPrevious);
    QCOMPARE(actions(), (QStringList{QStringLiteral("set-ntp true"),
                                     QStringLiteral("restart systemd-timesyncd.service")}));
    // No scratch files left behind.
    const QRegularExpression scratch(QStringLiteral("(\\.txn\\.|\\.(conf|ini)\\.[A-Za-z0-9]{6}$|\\.restore$)"));
    for (const QString& entry : snapshot().keys())
        QVERIFY2(!scratch.match(entry).hasMatch(), qPrintable(entry));
}

void TestSetupScript::installSyncsWhenServerAnswers()
{
    markSynced();
    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("192.168.1.20")}), 0);
    QCOMPARE(readSyncSetup().server, QStringLiteral("192.168.1.20"));
}

void TestSetupScript::installKeepsEarlierDropIn()
{
    writeFile(kDropIn, kEarlier);
    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}), 3);
    QCOMPARE(readFile(kPrevious), kEarlier);
    SyncSetup setup = readSyncSetup();
    QCOMPARE(setup.server, QStringLiteral("10.0.0.5"));
    QVERIFY(setup.hasPrevious);

    QCOMPARE(run({QStringLiteral("remove")}), 0);
    QCOMPARE(readFile(kDropIn), kEarlier);
    QVERIFY(!QFile::exists(path(kPrevious)));
    QVERIFY(!QFile::exists(path(kRecord)));
    setup = readSyncSetup();
    QVERIFY(setup.server.isEmpty());
    QVERIFY(!setup.hasPrevious);
    QVERIFY(actions().endsWith(QStringLiteral("restart systemd-timesyncd.service")));
}

void TestSetupScript::reinstallKeepsFirstEarlierDropIn()
{
    writeFile(kDropIn, kEarlier);
    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}), 3);
    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.6")}), 3);
    QVERIFY(readFile(kDropIn).contains("\nNTP=10.0.0.6\n"));
    // Our own first drop-in must not become the settings to go back to.
    QCOMPARE(readFile(kPrevious), kEarlier);
    const SyncSetup setup = readSyncSetup();
    QCOMPARE(setup.server, QStringLiteral("10.0.0.6"));
    QVERIFY(setup.hasPrevious);
    QCOMPARE(run({QStringLiteral("remove")}), 0);
    QCOMPARE(readFile(kDropIn), kEarlier);
}

void TestSetupScript::removeWithoutEarlierDropIn()
{
    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}), 3);
    QCOMPARE(run({QStringLiteral("remove")}), 0);
    QVERIFY(!QFile::exists(path(kDropIn)));
    QVERIFY(!QFile::exists(path(kRecord)));
    QVERIFY(readSyncSetup().server.isEmpty());
    // A second removal has nothing left to do.
    QCOMPARE(run({QStringLiteral("remove")}), 0);
}

void TestSetupScript::removeWhenNotSetUp()
{
    writeFile(kDropIn, kEarlier);
    const auto before = snapshot();
    QCOMPARE(run({QStringLiteral("remove")}), 0);
    QCOMPARE(snapshot(), before);
}

void TestSetupScript::badArgumentsChangeNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QStringList>("env");
    const QString server = QStringLiteral("-Server");
    const QString time = QStringLiteral("-Time");
    const QString install = QStringLiteral("install");
    const QString setTime = QStringLiteral("set-time");
    QTest::newRow("no command") << QStringList{} << QStringList{};
    QTest::newRow("unknown command") << QStringList{QStringLiteral("uninstall")} << QStringList{};
    QTest::newRow("install without server") << QStringList{install} << QStringList{};
    QTest::newRow("install, flag only") << QStringList{install, server} << QStringList{};
    QTest::newRow("install, wrong flag") << QStringList{install, QStringLiteral("-Host"), QStringLiteral("10.0.0.5")}
                                         << QStringList{};
    QTest::newRow("install, extra") << QStringList{install, server, QStringLiteral("10.0.0.5"), QStringLiteral("x")}
                                    << QStringList{};
    for (const char* bad : {"10.0.0.256", "010.0.0.5", "10.0.0", "10.0.0.5.1", "ntp.lan.internal", "::1",
                            " 10.0.0.5", "10.0.0.5\n", "10.0.0.5;reboot", "", "1e1.0.0.5", "-1.0.0.5"}) {
        QTest::newRow(qPrintable(QStringLiteral("server '%1'").arg(QString::fromLatin1(bad))))
            << QStringList{install, server, QString::fromLatin1(bad)} << QStringList{};
    }
    for (const char* bad : {"2026-03-01 08:15:00Z", "2026-03-01T08:15:00", "2026-02-30T08:15:00Z",
                            "2026-03-01T24:00:00Z", "2026-03-01T08:60:00Z", "2026-3-1T08:15:00Z",
                            "2026-03-01T08:15:00+01:00", "2026-03-01T08:15:00.5Z", "now", ""}) {
        QTest::newRow(qPrintable(QStringLiteral("time '%1'").arg(QString::fromLatin1(bad))))
            << QStringList{setTime, time, QString::fromLatin1(bad)} << QStringList{};
    }
    QTest::newRow("set-time without time") << QStringList{setTime} << QStringList{};
    QTest::newRow("remove, extra") << QStringList{QStringLiteral("remove"), QStringLiteral("now")} << QStringList{};
    QTest::newRow("sync, extra") << QStringList{QStringLiteral("sync"), QStringLiteral("now")} << QStringList{};
    QTest::newRow("wait not a number")
        << QStringList{install, server, QStringLiteral("10.0.0.7")} << QStringList{QStringLiteral("TAVRIN_PELLUM_SYNC_WAIT=soon")};
    QTest::newRow("wait too long")
        << QStringList{install, server, QStringLiteral("10.0.0.7")} << QStringList{QStringLiteral("TAVRIN_PELLUM_SYNC_WAIT=601")};
}

void TestSetupScript::badArgumentsChangeNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QStringList, env);
    // Start from a computer already set up over an earlier drop-in.
    writeFile(kDropIn, kEarlier);
    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}), 3);
    const auto before = snapshot();

    const int code = run(args, env);
    QVERIFY2(code != 0 && code != 3 && code > 0, qPrintable(QString::number(code)));
    QVERIFY2(!m_stderr.trimmed().isEmpty(), "no error message");
    QCOMPARE(snapshot(), before);
}

void TestSetupScript::failureWritingRecordLosesNothing()
{
    writeFile(kDropIn, kEarlier);
    // A directory where the record belongs makes the last write fail.
    writeFile(kRecord + QStringLiteral("/blocker"), "x");
    const auto before = snapshot();
    const int code = run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")});
    QVERIFY2(code != 0 && code != 3 && code > 0, qPrintable(QString::number(code)));
    QCOMPARE(snapshot(), before);
    QCOMPARE(readFile(kDropIn), kEarlier);
    QVERIFY(actions().isEmpty());
}

void TestSetupScript::failureOnReinstallLosesNothing()
{
    writeFile(kDropIn, kEarlier);
    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}), 3);
    const QByteArray ourDropIn = readFile(kDropIn);
    const QByteArray record = readFile(kRecord);
    // Something in the way of the drop-in: the new one cannot be written.
    QVERIFY(QFile::remove(path(kDropIn)));
    writeFile(kDropIn + QStringLiteral("/blocker"), "x");
    const auto before = snapshot();
    const int code = run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.6")});
    QVERIFY2(code != 0 && code != 3 && code > 0, qPrintable(QString::number(code)));
    QCOMPARE(snapshot(), before);
    QCOMPARE(readFile(kRecord), record);
    QCOMPARE(readFile(kPrevious), kEarlier);
    QCOMPARE(readSyncSetup().server, QStringLiteral("10.0.0.5"));
    Q_UNUSED(ourDropIn);
}

void TestSetupScript::syncCommand()
{
    QCOMPARE(run({QStringLiteral("sync")}), 7);
    QVERIFY(actions().isEmpty());

    QCOMPARE(run({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}), 3);
    const auto before = snapshot();
    QCOMPARE(run({QStringLiteral("sync")}, {QStringLiteral("TAVRIN_PELLUM_SYNC_WAIT=1")}), 3);
    QCOMPARE(actions().last(), QStringLiteral("restart systemd-timesyncd.service"));
    markSynced();
    QCOMPARE(run({QStringLiteral("sync")}), 0);
    // Syncing leaves the set-up as it was.
    QCOMPARE(readFile(kDropIn), before.value(kDropIn));
    QCOMPARE(readFile(kRecord), before.value(kRecord));
}

void TestSetupScript::setTime()
{
    QCOMPARE(run({QStringLiteral("set-time"), QStringLiteral("-Time"), QStringLiteral("2026-03-01T08:15:00Z")}), 0);
    QCOMPARE(actions(), QStringList{QStringLiteral("set-time 2026-03-01T08:15:00Z")});
    QCOMPARE(run({QStringLiteral("set-time"), QStringLiteral("-Time"), QStringLiteral("2028-02-29T23:59:59Z")}), 0);
    QCOMPARE(actions().last(), QStringLiteral("set-time 2028-02-29T23:59:59Z"));
}

QTEST_GUILESS_MAIN(TestSetupScript)
#include "tst_setupscript.moc"

// The runner against stand-in helpers. Each step runs in a copy of this
// program laid out as installed: <tmp>/bin/ and <tmp>/libexec/tavrin-pellum/.
#include "adminstep.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

class TestAdminStep : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void missingHelper();
    void exitCodes_data();
    void exitCodes();
    void argumentsArriveUnchanged();
    void unsafeHelperRefused_data();
    void unsafeHelperRefused();

private:
    QString path(const QString& relative) const { return m_base + QLatin1Char('/') + relative; }
    void writeHelper(const QByteArray& body);
    QString step(const QStringList& args);

    QTemporaryDir m_tmp;
    QString m_base;
    QString m_helper;
};

void TestAdminStep::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    m_base = QFileInfo(m_tmp.path()).canonicalFilePath();
    m_helper = path(QStringLiteral("libexec/tavrin-pellum/tavrin-pellum.sh"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("bin"))));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), path(QStringLiteral("bin/tst_adminstep"))));
}

void TestAdminStep::init()
{
    QDir(path(QStringLiteral("libexec"))).removeRecursively();
    QVERIFY(QDir().mkpath(QFileInfo(m_helper).path()));
    for (const char* dir : {"", "bin", "libexec", "libexec/tavrin-pellum"})
        QVERIFY(QFile::setPermissions(path(QLatin1String(dir)), QFileDevice::Permissions(0x7755)));
    writeHelper("exit 0");
}

void TestAdminStep::writeHelper(const QByteArray& body)
{
    QFile helper(m_helper);
    QVERIFY(helper.open(QIODevice::WriteOnly | QIODevice::Truncate));
    helper.write("#!/bin/bash\nprintf '%s\\n' \"$@\" > " + QFile::encodeName(path(QStringLiteral("args"))) + "\n" + body + "\n");
    helper.close();
    QVERIFY(QFile::setPermissions(m_helper, QFileDevice::Permissions(0x7755)));
}

// One step in the installed copy: "<result>|<message>|<arguments the helper saw>".
QString TestAdminStep::step(const QStringList& args)
{
    QFile::remove(path(QStringLiteral("args")));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TST_ADMINSTEP_CHILD"), QStringLiteral("1"));
    // Scratch mode: whatever the runner does, nothing real is changed.
    env.insert(QStringLiteral("TAVRIN_PELLUM_ROOT"), path(QStringLiteral("root")));
    child.setProcessEnvironment(env);
    child.start(path(QStringLiteral("bin/tst_adminstep")), args);
    if (!child.waitForFinished(60000))
        return QStringLiteral("<hung>");
    QFile seen(path(QStringLiteral("args")));
    const QString helperArgs = seen.open(QIODevice::ReadOnly) ? QString::fromUtf8(seen.readAll()).trimmed() : QString();
    return QString::fromUtf8(child.readAllStandardOutput()) + QLatin1Char('|') + helperArgs.split(u'\n').join(u' ');
}

void TestAdminStep::missingHelper()
{
    // Fault: a missing helper or a folder in its place starts something anyway.
    QVERIFY(QFile::remove(m_helper));
    QCOMPARE(step({QStringLiteral("sync")}), QStringLiteral("2|Setup script not found next to the app.|"));
    QVERIFY(QDir().mkpath(m_helper));
    QCOMPARE(step({QStringLiteral("sync")}), QStringLiteral("2|Setup script not found next to the app.|"));
}

void TestAdminStep::exitCodes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome");
    const QString error = QStringLiteral("2|The administrator step reported an error.|sync");
    QTest::newRow("0") << QByteArray("exit 0") << QStringLiteral("0||sync");
    QTest::newRow("3") << QByteArray("exit 3") << QStringLiteral("1||sync");
    QTest::newRow("1") << QByteArray("exit 1") << error;
    QTest::newRow("killed") << QByteArray("kill -KILL $$") << error;
    // Only pkexec's own 126/127 mean a declined prompt.
    QTest::newRow("127 run directly") << QByteArray("exit 127") << error;
}

void TestAdminStep::exitCodes()
{
    // Fault: an exit code read as the wrong outcome or with the wrong message.
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);
    writeHelper(body);
    QCOMPARE(step({QStringLiteral("sync")}), outcome);
}

void TestAdminStep::argumentsArriveUnchanged()
{
    // Fault: arguments reordered, quoted or mangled, or set-time not in UTC.
    QCOMPARE(step({QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}),
             QStringLiteral("0||install -Server 10.0.0.5"));
    writeHelper("exit 3");
    QCOMPARE(step({QStringLiteral("clock")}), QStringLiteral("0||set-time -Time 2026-03-01T08:15:00Z"));
    // The helper is run as a program, through its own interpreter line.
    QVERIFY(QFile::setPermissions(m_helper, QFileDevice::Permissions(0x6644)));
    QCOMPARE(step({QStringLiteral("sync")}),
             QStringLiteral("2|Could not start the administrator step (was the permission prompt cancelled?).|"));
}

void TestAdminStep::unsafeHelperRefused_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("change");
    QTest::addColumn<QString>("why");
    const QString helper = QStringLiteral("libexec/tavrin-pellum/tavrin-pellum.sh");
    QTest::newRow("safe") << helper << QStringLiteral("0755") << QString();
    QTest::newRow("helper writable by others") << helper << QStringLiteral("0757")
                                               << QStringLiteral("is writable by group or others");
    QTest::newRow("helper writable by group") << helper << QStringLiteral("0775")
                                              << QStringLiteral("is writable by group or others");
    QTest::newRow("helper not root's") << helper << QStringLiteral("owner") << QStringLiteral("is not owned by root");
    QTest::newRow("helper is a symlink") << helper << QStringLiteral("symlink") << QStringLiteral("is a symbolic link");
    QTest::newRow("folder open to all") << QStringLiteral("libexec/tavrin-pellum") << QStringLiteral("0777")
                                        << QStringLiteral("is writable by group or others");
    QTest::newRow("ancestor not root's") << QString() << QStringLiteral("owner") << QStringLiteral("is not owned by root");
    // Like /tmp: others cannot replace the root-owned entry in a sticky folder.
    QTest::newRow("sticky folder open to all") << QStringLiteral("libexec") << QStringLiteral("1777") << QString();
}

void TestAdminStep::unsafeHelperRefused()
{
    // Fault: root runs a helper that another user could have changed.
    if (::geteuid() != 0)
        QSKIP("the check guards what runs as root; run as root");
    QFETCH(QString, target);
    QFETCH(QString, change);
    QFETCH(QString, why);
    const QByteArray file = QFile::encodeName(target.isEmpty() ? m_base : path(target));
    if (change == QLatin1String("owner")) {
        QCOMPARE(::chown(file.constData(), 65534, 65534), 0);
    } else if (change == QLatin1String("symlink")) {
        QVERIFY(QFile::rename(m_helper, m_helper + QStringLiteral(".real")));
        QVERIFY(QFile::link(m_helper + QStringLiteral(".real"), m_helper));
    } else {
        QCOMPARE(QProcess::execute(QStringLiteral("chmod"), {change, QString::fromLocal8Bit(file)}), 0);
    }
    const QString outcome = step({QStringLiteral("sync")});
    QCOMPARE(::chown(QFile::encodeName(m_base).constData(), 0, 0), 0);
    if (why.isEmpty())
        QCOMPARE(outcome, QStringLiteral("0||sync"));
    else
        QCOMPARE(outcome, QStringLiteral("2|The setup helper will not run as root: %1 %2.|")
                              .arg(QString::fromLocal8Bit(file), why));
}

// The child: one step, its result and message on standard output.
static int runAsChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString message;
    AdminStepResult result;
    if (args == QStringList{QStringLiteral("clock")})
        result = setSystemClock(QDateTime(QDate(2026, 3, 1), QTime(9, 15), QTimeZone(3600)), &message);
    else
        result = runAdminStep(args, &message);
    std::printf("%d|%s", int(result), qPrintable(message));
    return 0;
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TST_ADMINSTEP_CHILD"))
        return runAsChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestAdminStep test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_adminstep.moc"

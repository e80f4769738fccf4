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
    void steps_data();
    void steps();
    void unsafeHelperRefused_data();
    void unsafeHelperRefused();

private:
    QString path(const QString& relative) const { return m_base + QLatin1Char('/') + relative; }
    QString step(const QStringList& args);
    QTemporaryDir m_tmp;
    QString m_base, m_helper;
};

void TestAdminStep::initTestCase()
{
    m_base = QFileInfo(m_tmp.path()).canonicalFilePath();
    m_helper = path(QStringLiteral("libexec/tavrin-pellum/tavrin-pellum.sh"));
    QVERIFY(QDir().mkpath(path(QStringLiteral("bin"))));
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), path(QStringLiteral("bin/tst_adminstep"))));
}

void TestAdminStep::init()
{
    QDir(path(QStringLiteral("libexec"))).removeRecursively();
    QVERIFY(QDir().mkpath(QFileInfo(m_helper).path()));
    QFile helper(m_helper);
    QVERIFY(helper.open(QIODevice::WriteOnly));
    helper.write("#!/bin/bash\nprintf '%s\\n' \"$@\" > " + QFile::encodeName(path(QStringLiteral("args")))
                 + "\n[ \"$STANDIN_EXIT\" = kill ] && kill -KILL $$\nexit $STANDIN_EXIT\n");
    helper.close();
    for (const char* entry : {"", "bin", "libexec", "libexec/tavrin-pellum", "libexec/tavrin-pellum/tavrin-pellum.sh"})
        QVERIFY(QFile::setPermissions(path(QLatin1String(entry)), QFileDevice::Permissions(0x7755)));
}

// One step in the installed copy: "<result>|<message>|<arguments the helper saw>".
QString TestAdminStep::step(const QStringList& args)
{
    QFile::remove(path(QStringLiteral("args")));
    // Scratch mode: whatever the runner does, nothing real is changed.
    qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(path(QStringLiteral("root"))));
    qputenv("TST_ADMINSTEP_CHILD", "1");
    QProcess child;
    child.start(path(QStringLiteral("bin/tst_adminstep")), args);
    child.waitForFinished(60000); // a child that hangs shows as an empty outcome
    qunsetenv("TST_ADMINSTEP_CHILD");
    QFile seen(path(QStringLiteral("args")));
    const QString helperArgs = seen.open(QIODevice::ReadOnly) ? QString::fromUtf8(seen.readAll()).trimmed() : QString();
    return QString::fromUtf8(child.readAllStandardOutput()) + QLatin1Char('|') + helperArgs.split(u'\n').join(u' ');
}

void TestAdminStep::steps_data()
{
    QTest::addColumn<QString>("exit"); // the helper's exit code; "none", "dir", "0644" change the helper instead
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("outcome");
    const QStringList sync{QStringLiteral("sync")};
    const QString missing = QStringLiteral("2|Setup script not found next to the app.|");
    const QString error = QStringLiteral("2|The administrator step reported an error.|sync");
    QTest::newRow("no helper") << QStringLiteral("none") << sync << missing;
    QTest::newRow("folder in its place") << QStringLiteral("dir") << sync << missing;
    QTest::newRow("not executable") << QStringLiteral("0644") << sync << QStringLiteral("2|Could not start the administrator step (was the permission prompt cancelled?).|");
    QTest::newRow("exit 0") << QStringLiteral("0") << sync << QStringLiteral("0||sync");
    QTest::newRow("exit 3") << QStringLiteral("3") << sync << QStringLiteral("1||sync");
    QTest::newRow("exit 1") << QStringLiteral("1") << sync << error;
    QTest::newRow("killed") << QStringLiteral("kill") << sync << error;
    // Only pkexec's own 126 and 127 mean a declined prompt.
    QTest::newRow("127 run directly") << QStringLiteral("127") << sync << error;
    QTest::newRow("install") << QStringLiteral("0") << QStringLiteral("install -Server 10.0.0.5").split(u' ') << QStringLiteral("0||install -Server 10.0.0.5");
    QTest::newRow("set-time exit 3 is done, in UTC") << QStringLiteral("3") << QStringList{QStringLiteral("clock")} << QStringLiteral("0||set-time -Time 2026-03-01T08:15:00Z");
}

void TestAdminStep::steps()
{
    // Fault: a step misread, its arguments mangled, or something started that should not be.
    QFETCH(QString, exit);
    QFETCH(QStringList, args);
    QFETCH(QString, outcome);
    if (exit == QLatin1String("none") || exit == QLatin1String("dir"))
        QVERIFY(QFile::remove(m_helper) && (exit == QLatin1String("none") || QDir().mkpath(m_helper)));
    QVERIFY(exit != QLatin1String("0644") || QFile::setPermissions(m_helper, QFileDevice::Permissions(0x6644)));
    qputenv("STANDIN_EXIT", exit.toLatin1());
    QCOMPARE(step(args), outcome);
}

void TestAdminStep::unsafeHelperRefused_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("change"); // chmod mode, "owner" (to nobody) or "symlink"
    QTest::addColumn<QString>("why");
    const QString helper = QStringLiteral("libexec/tavrin-pellum/tavrin-pellum.sh");
    const QString writable = QStringLiteral("is writable by group or others");
    QTest::newRow("safe") << helper << QStringLiteral("0755") << QString();
    QTest::newRow("helper writable by others") << helper << QStringLiteral("0757") << writable;
    QTest::newRow("helper writable by group") << helper << QStringLiteral("0775") << writable;
    QTest::newRow("helper not root's") << helper << QStringLiteral("owner") << QStringLiteral("is not owned by root");
    QTest::newRow("helper is a symlink") << helper << QStringLiteral("symlink") << QStringLiteral("is a symbolic link");
    QTest::newRow("folder open to all") << QStringLiteral("libexec/tavrin-pellum") << QStringLiteral("0777") << writable;
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
    const QString file = target.isEmpty() ? m_base : path(target);
    qputenv("STANDIN_EXIT", "0");
    const QString copy = m_helper + QStringLiteral(".real");
    QVERIFY(change == QLatin1String("owner") ? ::chown(QFile::encodeName(file).constData(), 65534, 65534) == 0
            : change == QLatin1String("symlink") ? QFile::rename(m_helper, copy) && QFile::link(copy, m_helper)
                                                 : QProcess::execute(QStringLiteral("chmod"), {change, file}) == 0);
    const QString outcome = step({QStringLiteral("sync")});
    QCOMPARE(::chown(QFile::encodeName(m_base).constData(), 0, 0), 0);
    QCOMPARE(outcome, why.isEmpty() ? QStringLiteral("0||sync")
                                    : QStringLiteral("2|The setup helper will not run as root: %1 %2.|").arg(file, why));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TestAdminStep test;
    if (!qEnvironmentVariableIsSet("TST_ADMINSTEP_CHILD"))
        return QTest::qExec(&test, argc, argv);
    // The child: one step, its result and message on standard output.
    const QStringList args = app.arguments().mid(1);
    QString message;
    const AdminStepResult result = args == QStringList{QStringLiteral("clock")}
        ? setSystemClock(QDateTime(QDate(2026, 3, 1), QTime(9, 15), QTimeZone(3600)), &message)
        : runAdminStep(args, &message);
    std::printf("%d|%s", int(result), qPrintable(message));
}

#include "tst_adminstep.moc"

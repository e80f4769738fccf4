#include "adminstep.h"

#include "scopedenv.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

#include <cstdio>
#include <unistd.h>

// Without root the runner would go through the permission prompt.
#define REQUIRE_ROOT() \
    do { \
        if (::geteuid() != 0) \
            QSKIP("starts the script directly only when run as root"); \
    } while (false)

// The runner looks for the script next to the running program, so the stand-in
// scripts are written into this test's own directory and removed afterwards.
class TestAdminStep : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void cleanupTestCase();

    void missingScript();
    void scriptPathIsADirectory();
    void exitCodeMapping_data();
    void exitCodeMapping();
    void argumentsArriveUnchanged();
    void launchFailure();
    void directoryWithSpaces();
    void setSystemClockFormatsUtc_data();
    void setSystemClockFormatsUtc();
    void setSystemClockResults_data();
    void setSystemClockResults();
    void powerShellParameterText();
    void pkexecKeepsScratchRoot();
    void resultForExitCode();

private:
    void writeStandIn(const QByteArray& body);
    QStringList recordedArguments() const;

    QTemporaryDir m_scratch;
    QString m_argsFile;
};

void TestAdminStep::initTestCase()
{
    QVERIFY(m_scratch.isValid());
    m_argsFile = m_scratch.filePath(QStringLiteral("args"));
    QCOMPARE(AdminStep::scriptPath(),
             QCoreApplication::applicationDirPath() + QStringLiteral("/tavrin-pellum.sh"));
    QFile::remove(AdminStep::scriptPath());
}

void TestAdminStep::cleanup()
{
    QFile::remove(AdminStep::scriptPath());
    QDir(AdminStep::scriptPath()).removeRecursively();
    QFile::remove(m_argsFile);
}

void TestAdminStep::cleanupTestCase()
{
    cleanup();
}

void TestAdminStep::writeStandIn(const QByteArray& body)
{
    QFile script(AdminStep::scriptPath());
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const QByteArray text = "#!/bin/bash\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '"
        + QFile::encodeName(m_argsFile) + "'\n" + body + "\n";
    QCOMPARE(script.write(text), qint64(text.size()));
}

QStringList TestAdminStep::recordedArguments() const
{
    QFile file(m_argsFile);
    if (!file.open(QIODevice::ReadOnly))
        return {QStringLiteral("<script did not run>")};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

void TestAdminStep::missingScript()
{
    QString message = QStringLiteral("untouched");
    QCOMPARE(runAdminStep({QStringLiteral("sync")}, &message), AdminStepResult::Failed);
    QCOMPARE(message, QStringLiteral("Setup script not found next to the app."));
    // A null message pointer is allowed.
    QCOMPARE(runAdminStep({QStringLiteral("sync")}, nullptr), AdminStepResult::Failed);
    message.clear();
    QCOMPARE(setSystemClock(QDateTime::currentDateTimeUtc(), &message), AdminStepResult::Failed);
    QCOMPARE(message, QStringLiteral("Setup script not found next to the app."));
}

void TestAdminStep::scriptPathIsADirectory()
{
    QVERIFY(QDir().mkpath(AdminStep::scriptPath()));
    QString message;
    QCOMPARE(runAdminStep({QStringLiteral("sync")}, &message), AdminStepResult::Failed);
    QCOMPARE(message, QStringLiteral("Setup script not found next to the app."));
}

void TestAdminStep::exitCodeMapping_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message");
    const QString untouched = QStringLiteral("untouched");
    const QString error = QStringLiteral("The administrator step reported an error.");
    QTest::newRow("exit 0") << QByteArray("exit 0") << int(AdminStepResult::Done) << untouched;
    QTest::newRow("exit 3") << QByteArray("exit 3") << int(AdminStepResult::NoAnswer) << untouched;
    QTest::newRow("exit 1") << QByteArray("exit 1") << int(AdminStepResult::Failed) << error;
    QTest::newRow("exit 2") << QByteArray("exit 2") << int(AdminStepResult::Failed) << error;
    QTest::newRow("exit 4") << QByteArray("exit 4") << int(AdminStepResult::Failed) << error;
    QTest::newRow("exit 255") << QByteArray("exit 255") << int(AdminStepResult::Failed) << error;
    QTest::newRow("killed") << QByteArray("kill -KILL $$") << int(AdminStepResult::Failed) << error;
    QTest::newRow("syntax error") << QByteArray("if then fi") << int(AdminStepResult::Failed) << error;
    QTest::newRow("slow exit 3") << QByteArray("sleep 1; exit 3") << int(AdminStepResult::NoAnswer)
                                 << untouched;
}

void TestAdminStep::exitCodeMapping()
{
    REQUIRE_ROOT();
    QFETCH(QByteArray, body);
    QFETCH(int, result);
    QFETCH(QString, message);
    writeStandIn(body);
    QString got = QStringLiteral("untouched");
    QCOMPARE(int(runAdminStep({QStringLiteral("install"), QStringLiteral("-Server"),
                               QStringLiteral("10.0.0.5")}, &got)),
             result);
    QCOMPARE(got, message);
    QCOMPARE(int(runAdminStep({QStringLiteral("sync")}, nullptr)), result);
}

void TestAdminStep::argumentsArriveUnchanged()
{
    REQUIRE_ROOT();
    writeStandIn("exit 0");
    const QStringList args{QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")};
    QCOMPARE(runAdminStep(args, nullptr), AdminStepResult::Done);
    QCOMPARE(recordedArguments(), args);

    QCOMPARE(runAdminStep({QStringLiteral("remove")}, nullptr), AdminStepResult::Done);
    QCOMPARE(recordedArguments(), QStringList{QStringLiteral("remove")});
}

void TestAdminStep::launchFailure()
{
    // With nothing on the search path neither the shell nor the elevation
    // helper can be started.
    writeStandIn("exit 0");
    QString message;
    AdminStepResult result = AdminStepResult::Done;
    {
        const ScopedEnv path("PATH", QFile::encodeName(m_scratch.filePath(QStringLiteral("empty"))));
        result = runAdminStep({QStringLiteral("sync")}, &message);
    }
    QCOMPARE(result, AdminStepResult::Failed);
    QCOMPARE(message,
             QStringLiteral("Could not start the administrator step (was the permission prompt cancelled?)."));
    QCOMPARE(recordedArguments(), QStringList{QStringLiteral("<script did not run>")});

    if (::geteuid() != 0)
        return;
    // 126 and 127 are how the elevation helper reports a declined prompt.
    writeStandIn("exit 126");
    message.clear();
    QCOMPARE(runAdminStep({QStringLiteral("sync")}, &message), AdminStepResult::Failed);
    QCOMPARE(message,
             QStringLiteral("Could not start the administrator step (was the permission prompt cancelled?)."));
}

void TestAdminStep::directoryWithSpaces()
{
    REQUIRE_ROOT();
    // Run a copy of this program from a directory whose name has spaces, so
    // the script next to it is found and started there.
    const QString dir = m_scratch.filePath(QStringLiteral("Program Files/Tavrin Pellum"));
    QVERIFY(QDir().mkpath(dir));
    const QString program = dir + QStringLiteral("/tst_adminstep copy");
    QVERIFY(QFile::copy(QCoreApplication::applicationFilePath(), program));
    QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFileDevice::ExeOwner));
    QFile script(dir + QStringLiteral("/tavrin-pellum.sh"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("printf '%s\\n' \"$0\" \"$@\" > \"$(dirname \"$0\")/seen\"\nexit 3\n");
    script.close();

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TST_ADMINSTEP_CHILD"), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.start(program, {});
    QVERIFY(child.waitForFinished(60000));
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    QCOMPARE(child.exitCode(), int(AdminStepResult::NoAnswer));

    QFile seen(dir + QStringLiteral("/seen"));
    QVERIFY(seen.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(seen.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines, (QStringList{dir + QStringLiteral("/tavrin-pellum.sh"), QStringLiteral("install"),
                                 QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}));
}

void TestAdminStep::setSystemClockFormatsUtc_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<QString>("text");
    QTest::newRow("one hour ahead of UTC")
        << QDateTime(QDate(2026, 3, 1), QTime(9, 15), QTimeZone(3600)) << QStringLiteral("2026-03-01T08:15:00Z");
    QTest::newRow("utc") << QDateTime(QDate(2026, 3, 1), QTime(8, 15), QTimeZone::utc())
                         << QStringLiteral("2026-03-01T08:15:00Z");
    QTest::newRow("behind, across midnight and year")
        << QDateTime(QDate(2026, 12, 31), QTime(23, 30, 5), QTimeZone(-5 * 3600))
        << QStringLiteral("2027-01-01T04:30:05Z");
    QTest::newRow("milliseconds dropped")
        << QDateTime(QDate(2026, 3, 1), QTime(8, 15, 0, 999), QTimeZone::utc())
        << QStringLiteral("2026-03-01T08:15:00Z");
    QTest::newRow("early year padded") << QDateTime(QDate(999, 1, 2), QTime(3, 4, 5), QTimeZone::utc())
                                       << QStringLiteral("0999-01-02T03:04:05Z");
}

void TestAdminStep::setSystemClockFormatsUtc()
{
    REQUIRE_ROOT();
    QFETCH(QDateTime, moment);
    QFETCH(QString, text);
    QCOMPARE(AdminStep::setTimeArgument(moment), text);
    writeStandIn("exit 0");
    QCOMPARE(setSystemClock(moment, nullptr), AdminStepResult::Done);
    QCOMPARE(recordedArguments(), (QStringList{QStringLiteral("set-time"), QStringLiteral("-Time"), text}));
}

void TestAdminStep::setSystemClockResults_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message");
    QTest::newRow("exit 0") << QByteArray("exit 0") << int(AdminStepResult::Done) << QStringLiteral("kept");
    QTest::newRow("exit 3 counts as done") << QByteArray("exit 3") << int(AdminStepResult::Done)
                                           << QStringLiteral("kept");
    QTest::newRow("exit 1") << QByteArray("exit 1") << int(AdminStepResult::Failed)
                            << QStringLiteral("The administrator step reported an error.");
}

void TestAdminStep::setSystemClockResults()
{
    REQUIRE_ROOT();
    QFETCH(QByteArray, body);
    QFETCH(int, result);
    QFETCH(QString, message);
    writeStandIn(body);
    QString got = QStringLiteral("kept");
    QCOMPARE(int(setSystemClock(QDateTime::currentDateTimeUtc(), &got)), result);
    QCOMPARE(got, message);
    QCOMPARE(int(setSystemClock(QDateTime::currentDateTimeUtc(), nullptr)), result);
}

void TestAdminStep::powerShellParameterText()
{
    const QString path = QStringLiteral("/opt/Tavrin Pellum/tavrin-pellum.ps1");
    const QString quoted = QStringLiteral("-NoProfile -ExecutionPolicy Bypass -File \"")
        + QDir::toNativeSeparators(path) + QLatin1Char('"');
    QCOMPARE(AdminStep::powerShellParameters(path, {QStringLiteral("install"), QStringLiteral("-Server"),
                                                    QStringLiteral("10.0.0.5")}),
             quoted + QStringLiteral(" install -Server 10.0.0.5"));
    QCOMPARE(AdminStep::powerShellParameters(path, {QStringLiteral("remove")}), quoted + QStringLiteral(" remove"));
    QCOMPARE(AdminStep::powerShellParameters(path, {}), quoted);
    // Arguments go through as they are, never quoted.
    QCOMPARE(AdminStep::powerShellParameters(path, {QStringLiteral("set-time"), QStringLiteral("-Time"),
                                                    QStringLiteral("2026-03-01T08:15:00Z")}),
             quoted + QStringLiteral(" set-time -Time 2026-03-01T08:15:00Z"));
}

void TestAdminStep::pkexecKeepsScratchRoot()
{
    const QString script = QStringLiteral("/opt/p/tavrin-pellum.sh");
    const QStringList args{QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")};

    ScopedEnv root("TAVRIN_PELLUM_ROOT", QByteArray());
    ScopedEnv wait("TAVRIN_PELLUM_SYNC_WAIT", QByteArray());
    const QStringList plain = AdminStep::pkexecArguments(script, args);
    root.set("/tmp/scratch root");
    const QStringList rooted = AdminStep::pkexecArguments(script, args);
    wait.set("0");
    const QStringList both = AdminStep::pkexecArguments(script, args);

    QCOMPARE(plain, QStringList({QStringLiteral("/bin/bash"), script}) + args);
    QCOMPARE(rooted, QStringList({QStringLiteral("/usr/bin/env"), QStringLiteral("TAVRIN_PELLUM_ROOT=/tmp/scratch root"),
                                  QStringLiteral("/bin/bash"), script}) + args);
    QCOMPARE(both.mid(1, 2), QStringList({QStringLiteral("TAVRIN_PELLUM_ROOT=/tmp/scratch root"),
                                          QStringLiteral("TAVRIN_PELLUM_SYNC_WAIT=0")}));
}

void TestAdminStep::resultForExitCode()
{
    QString message = QStringLiteral("kept");
    QCOMPARE(AdminStep::resultForExitCode(0, &message), AdminStepResult::Done);
    QCOMPARE(AdminStep::resultForExitCode(3, &message), AdminStepResult::NoAnswer);
    QCOMPARE(message, QStringLiteral("kept"));
    QCOMPARE(AdminStep::resultForExitCode(-1, &message), AdminStepResult::Failed);
    QCOMPARE(message, AdminStep::stepErrorMessage());
    message.clear();
    QCOMPARE(AdminStep::resultForExitCode(2, &message), AdminStepResult::Failed);
    QCOMPARE(message, AdminStep::stepErrorMessage());
    QCOMPARE(AdminStep::resultForExitCode(7, nullptr), AdminStepResult::Failed);
    QCOMPARE(int(AdminStepResult::Done), 0);
    QCOMPARE(int(AdminStepResult::NoAnswer), 1);
    QCOMPARE(int(AdminStepResult::Failed), 2);
}

// As a child (directoryWithSpaces) the program runs one install step and
// exits with the result's value.
static int runAsChild(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QString message;
    const AdminStepResult result = runAdminStep(
        {QStringLiteral("install"), QStringLiteral("-Server"), QStringLiteral("10.0.0.5")}, &message);
    if (!message.isEmpty())
        std::fprintf(stderr, "%s\n", qPrintable(message));
    return int(result);
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("TST_ADMINSTEP_CHILD"))
        return runAsChild(argc, argv);
    QCoreApplication app(argc, argv);
    TestAdminStep test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_adminstep.moc"

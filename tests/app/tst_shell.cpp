#include "loginentry.h"
#include "singleinstance.h"

#include "scopedenv.h"

#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class ShellTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void instanceNameFollowsUser_data();
    void instanceNameFollowsUser();
    void loginArgument_data();
    void loginArgument();
    void secondLaunchTellsFirstAndExits();
    void staleRegistrationIsTakenOver();
    void anyClientBytesMeanShow();
    void loginEntryRoundTrip();
    void loginCommandQuotesPath();

private:
    QProcess* startProbe(const QString& user);
    QString probePath() const { return QStringLiteral(PELLUM_BINARY_DIR "/tests/app/instance-probe"); }
    QTemporaryDir m_home;
};

void ShellTest::initTestCase()
{
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (m_home.path() + "/config").toLocal8Bit());
    QStandardPaths::setTestModeEnabled(true);
}

void ShellTest::instanceNameFollowsUser_data()
{
    QTest::addColumn<QByteArray>("username");
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QString>("expected");
    const QString prefix = QStringLiteral("com.tavrin.pellum.app.instance.");
    QTest::newRow("USERNAME lower-cased") << QByteArray("Alice") << QByteArray("bob") << prefix + "alice";
    QTest::newRow("login name when USERNAME unset") << QByteArray() << QByteArray("Bob") << prefix + "bob";
    QTest::newRow("neither set ends with the stop") << QByteArray() << QByteArray() << prefix;
}

void ShellTest::instanceNameFollowsUser()
{
    QFETCH(QByteArray, username);
    QFETCH(QByteArray, user);
    QFETCH(QString, expected);
    const ScopedEnv usernameEnv("USERNAME", username);
    const ScopedEnv userEnv("USER", user);
    QCOMPARE(instanceServerName(), expected);
}

void ShellTest::loginArgument_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("atLogin");
    QTest::newRow("none") << QStringList{"prog"} << false;
    QTest::newRow("after program") << QStringList{"prog", "--login"} << true;
    QTest::newRow("anywhere") << QStringList{"prog", "-x", "--login", "y"} << true;
    QTest::newRow("upper case") << QStringList{"prog", "--LOGIN"} << false;
    QTest::newRow("with value") << QStringList{"prog", "--login=1"} << false;
    QTest::newRow("prefix only") << QStringList{"prog", "--log"} << false;
}

void ShellTest::loginArgument()
{
    QFETCH(QStringList, args);
    QFETCH(bool, atLogin);
    QCOMPARE(launchedAtLogin(args), atLogin);
}

QProcess* ShellTest::startProbe(const QString& user)
{
    auto* p = new QProcess(this);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("USERNAME"), user);
    p->setProcessEnvironment(env);
    p->start(probePath(), {});
    return p;
}

void ShellTest::secondLaunchTellsFirstAndExits()
{
    const QString user = QStringLiteral("pellum-test-%1").arg(QCoreApplication::applicationPid());
    QProcess* first = startProbe(user);
    QVERIFY(first->waitForReadyRead(5000));
    QVERIFY(first->readLine().startsWith("first "));

    // Another user on the same machine is not blocked by the first.
    QProcess* other = startProbe(user + "-other");
    QVERIFY(other->waitForReadyRead(5000));
    QVERIFY(other->readLine().startsWith("first "));

    QProcess* second = startProbe(user);
    QVERIFY(second->waitForFinished(5000));
    QCOMPARE(second->exitCode(), 0);
    QCOMPARE(second->readAllStandardOutput(), QByteArray("second\n"));
    QVERIFY(first->waitForReadyRead(5000));
    QCOMPARE(first->readLine(), QByteArray("shown\n"));

    for (QProcess* p : {first, other}) {
        p->kill();
        p->waitForFinished(3000);
    }
}

void ShellTest::staleRegistrationIsTakenOver()
{
    // A crashed instance leaves its socket file behind; the next start must
    // still become the first instance.
    const QString user = QStringLiteral("pellum-stale-%1").arg(QCoreApplication::applicationPid());
    qputenv("USERNAME", user.toLocal8Bit());
    const QString name = instanceServerName();
    {
        QLocalServer stale;
        stale.setSocketOptions(QLocalServer::UserAccessOption);
        QVERIFY(stale.listen(name));
        const QString path = stale.fullServerName();
        stale.close();
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly)); // leftover file, nobody listening
    }
    QLocalServer* server = nullptr;
    QVERIFY(claimSingleInstance(&server));
    QVERIFY(server);
    QVERIFY(server->isListening());
    delete server;
}

void ShellTest::anyClientBytesMeanShow()
{
    const QString user = QStringLiteral("pellum-bytes-%1").arg(QCoreApplication::applicationPid());
    QProcess* first = startProbe(user);
    QVERIFY(first->waitForReadyRead(5000));
    const QByteArray line = first->readLine().trimmed();
    const QString name = QString::fromLocal8Bit(line.mid(6));
    for (const QByteArray& payload : {QByteArray(), QByteArray("garbage\x01\x02", 9)}) {
        QLocalSocket s;
        s.connectToServer(name);
        QVERIFY(s.waitForConnected(2000));
        if (!payload.isEmpty()) {
            s.write(payload);
            s.waitForBytesWritten(1000);
        }
        QVERIFY(first->waitForReadyRead(5000));
        QCOMPARE(first->readLine(), QByteArray("shown\n"));
    }
    first->kill();
    first->waitForFinished(3000);
}

void ShellTest::loginEntryRoundTrip()
{
    LoginEntry::remove();
    QVERIFY(!LoginEntry::exists());
    LoginEntry::write(QStringLiteral("/opt/Tavrin Pellum/tavrin-pellum"));
    QVERIFY(LoginEntry::exists());
    QFile f(LoginEntry::autostartFilePath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray entry = f.readAll();
    QVERIFY2(entry.contains("Exec=\"/opt/Tavrin Pellum/tavrin-pellum\" --login\n"), entry.constData());
    f.close();
    // Replacing keeps one entry; a moved program writes its new path.
    LoginEntry::write(QStringLiteral("/usr/bin/tavrin-pellum"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll().contains("Exec=\"/usr/bin/tavrin-pellum\" --login"));
    f.close();
    LoginEntry::remove();
    QVERIFY(!LoginEntry::exists());
}

void ShellTest::loginCommandQuotesPath()
{
    QCOMPARE(LoginEntry::commandLine(QStringLiteral("/a b/c")), QStringLiteral("\"/a b/c\" --login"));
    // Characters special to the desktop entry Exec key never end the quoted path early.
    LoginEntry::write(QStringLiteral("/x/\"$HOME`%/p"));
    QFile f(LoginEntry::autostartFilePath());
    QVERIFY(f.open(QIODevice::ReadOnly));
    // Quoting level \" \$ \` then string level doubles each backslash.
    QVERIFY2(f.readAll().contains("Exec=\"/x/\\\\\"\\\\$HOME\\\\`%%/p\" --login"), "escaped Exec");
    f.close();
    LoginEntry::write(QStringLiteral("/x\\y/p\nq"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray entry = f.readAll();
    QVERIFY2(entry.contains("Exec=\"/x\\\\\\\\y/p\\nq\" --login\n"), entry.constData());
    LoginEntry::remove();
}

QTEST_GUILESS_MAIN(ShellTest)
#include "tst_shell.moc"

#include "loginentry.h"
#include "quitonsignal.h"
#include "singleinstance.h"

#include "scopedenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

class ShellTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        qputenv("HOME", m_home.path().toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
    }

    void instanceIsTheUsersOwn_data()
    {
        QTest::addColumn<QByteArray>("username");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QString>("name");    // after the instance prefix
        QTest::addColumn<int>("runtimeMode"); // -1: XDG_RUNTIME_DIR unset
        QTest::addColumn<int>("ownMode");     // -1: our folder not made beforehand
        QTest::addColumn<QString>("folder");  // empty: no safe folder
        const QString own = QStringLiteral("tmp/tavrin-pellum-%1").arg(::geteuid());
        QTest::newRow("USERNAME, private runtime") << QByteArray("Alice") << QByteArray("bob") << "alice" << 0700 << -1 << "runtime";
        QTest::newRow("login name, open runtime") << QByteArray() << QByteArray("Bob") << "bob" << 0755 << -1 << own;
        QTest::newRow("no user name, no runtime folder") << QByteArray() << QByteArray() << "" << -1 << -1 << own;
        QTest::newRow("our folder left open") << QByteArray("Alice") << QByteArray() << "alice" << -1 << 0755 << QString();
    }
    // Two users shared one instance name, or the socket sat where another user could take the name first.
    void instanceIsTheUsersOwn()
    {
        QFETCH(QByteArray, username);
        QFETCH(QByteArray, user);
        QFETCH(QString, name);
        QFETCH(int, runtimeMode);
        QFETCH(int, ownMode);
        QFETCH(QString, folder);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("tmp") && QDir(dir.path()).mkpath("runtime"));
        ::chmod(QFile::encodeName(dir.path() + "/runtime").constData(), runtimeMode < 0 ? 0700 : runtimeMode);
        const QString own = dir.path() + QStringLiteral("/tmp/tavrin-pellum-%1").arg(::geteuid());
        if (ownMode >= 0)
            QVERIFY(QDir().mkpath(own) && ::chmod(QFile::encodeName(own).constData(), ownMode) == 0);
        const ScopedEnv usernameEnv("USERNAME", username), userEnv("USER", user),
            tmp("TMPDIR", QFile::encodeName(dir.path() + "/tmp")),
            runtime("XDG_RUNTIME_DIR", runtimeMode < 0 ? QByteArray() : QFile::encodeName(dir.path() + "/runtime"));
        QCOMPARE(instanceServerName(), QStringLiteral("com.tavrin.pellum.app.instance.") + name);
        const QString made = instanceFolder();
        QCOMPARE(made, folder.isEmpty() ? QString() : dir.path() + '/' + folder);
        QVERIFY(made.isEmpty() || !(QFileInfo(made).permissions() & 0x0077));
    }

    // With no lock to be had (a full runtime folder) a launch skipped the running instance and started a second one.
    void handsOverWithoutLock()
    {
        QTemporaryDir runtime;
        const ScopedEnv runtimeEnv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        QLocalServer running;
        QVERIFY(running.listen(instanceServerPath()));
        // Files can be made but not written: the lock file fails as on a full disk.
        struct rlimit limit = {};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        const struct rlimit full = {0, limit.rlim_max};
        ::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &full);
        QLocalServer* second = nullptr;
        const bool claimed = claimSingleInstance(&second);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        delete second;
        QVERIFY(!claimed && running.waitForNewConnection(1000));
    }

    void lockFileNamedForAnyUser()
    {
        // A user name with a character no file name may hold left the guard without its lock.
        QTemporaryDir runtime;
        const ScopedEnv usernameEnv("USERNAME", "An?na"), runtimeEnv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        QVERIFY(::chmod(QFile::encodeName(runtime.path()).constData(), 0700) == 0);
        QLocalServer* server = nullptr;
        QVERIFY(claimSingleInstance(&server) && server);
        QCOMPARE(QDir(runtime.path()).entryList({"*.lock"}, QDir::Files), QStringList{QFileInfo(instanceLockPath()).fileName()});
        QVERIFY(!QFileInfo(instanceLockPath()).fileName().contains(u'?'));
        delete server;
    }

    void loginEntryQuotesPath_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QByteArray>("exec");
        QTest::newRow("spaces") << "/opt/Tavrin Pellum/tavrin-pellum"
                                << QByteArray("Exec=\"/opt/Tavrin Pellum/tavrin-pellum\" --login\n");
        // Quoting level \" \$ \` then string level doubles each backslash.
        QTest::newRow("quote, dollar, backtick, percent")
            << "/x/\"$HOME`%/p" << QByteArray("Exec=\"/x/\\\\\"\\\\$HOME\\\\`%%/p\" --login\n");
        QTest::newRow("backslash, new line") << "/x\\y/p\nq" << QByteArray("Exec=\"/x\\\\\\\\y/p\\nq\" --login\n");
    }

    // A path with spaces or characters special to the Exec key ended the quoted path early.
    void loginEntryQuotesPath()
    {
        QFETCH(QString, program);
        QFETCH(QByteArray, exec);
        LoginEntry::write(program);
        QFile f(LoginEntry::autostartFilePath());
        QVERIFY(LoginEntry::exists() && f.open(QIODevice::ReadOnly));
        const QByteArray entry = f.readAll();
        QVERIFY2(entry.contains(exec), entry.constData());
        LoginEntry::remove();
        QVERIFY(!LoginEntry::exists());
    }

    // The quit-on-signal socket pair leaked into every child, such as the setup runner's script.
    void signalPairNotInherited()
    {
        const auto socketsInChild = [] {
            QProcess child;
            child.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("ls -l /proc/$$/fd")});
            child.waitForFinished(5000);
            return child.readAllStandardOutput().count("socket:");
        };
        const qsizetype before = socketsInChild();
        quitOnTerminationSignals();
        QCOMPARE(socketsInChild(), before);
    }
};

QTEST_GUILESS_MAIN(ShellTest)
#include "tst_shell.moc"

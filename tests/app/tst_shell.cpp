#include "loginentry.h"
#include "quitonsignal.h"
#include "singleinstance.h"

#include "scopedenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

class ShellTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toLocal8Bit());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + "/config").toLocal8Bit());
        QStandardPaths::setTestModeEnabled(true);
    }

    void instanceNameFollowsUser_data()
    {
        QTest::addColumn<QByteArray>("username");
        QTest::addColumn<QByteArray>("user");
        QTest::addColumn<QString>("expected");
        const QString prefix = QStringLiteral("com.tavrin.pellum.app.instance.");
        QTest::newRow("USERNAME lower-cased") << QByteArray("Alice") << QByteArray("bob") << prefix + "alice";
        QTest::newRow("login name when USERNAME unset") << QByteArray() << QByteArray("Bob") << prefix + "bob";
        QTest::newRow("neither set ends with the stop") << QByteArray() << QByteArray() << prefix;
    }

    void instanceNameFollowsUser()
    {
        // Fault: two users on one machine shared one instance name and locked each other out.
        QFETCH(QByteArray, username);
        QFETCH(QByteArray, user);
        QFETCH(QString, expected);
        const ScopedEnv usernameEnv("USERNAME", username);
        const ScopedEnv userEnv("USER", user);
        QCOMPARE(instanceServerName(), expected);
    }

    void instanceFolderIsPrivate_data()
    {
        QTest::addColumn<int>("runtimeMode"); // -1: XDG_RUNTIME_DIR unset
        QTest::addColumn<int>("ownMode");     // -1: our folder not made beforehand
        QTest::addColumn<QString>("expected");
        const QString own = QStringLiteral("tmp/tavrin-pellum-%1").arg(::geteuid());
        QTest::newRow("private runtime folder") << 0700 << -1 << "runtime";
        QTest::newRow("runtime folder others can enter") << 0755 << -1 << own;
        QTest::newRow("no runtime folder") << -1 << -1 << own;
        QTest::newRow("our folder left open") << -1 << 0755 << QString();
    }

    void instanceFolderIsPrivate()
    {
        // Fault: the socket sat where other users can reach it, so one of them could take the name first.
        QFETCH(int, runtimeMode);
        QFETCH(int, ownMode);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath("tmp") && QDir(dir.path()).mkpath("runtime"));
        ::chmod(QFile::encodeName(dir.path() + "/runtime").constData(), runtimeMode < 0 ? 0700 : runtimeMode);
        const QString own = dir.path() + QStringLiteral("/tmp/tavrin-pellum-%1").arg(::geteuid());
        if (ownMode >= 0) {
            QVERIFY(QDir().mkpath(own));
            ::chmod(QFile::encodeName(own).constData(), ownMode);
        }
        const ScopedEnv tmp("TMPDIR", QFile::encodeName(dir.path() + "/tmp"));
        const ScopedEnv runtime("XDG_RUNTIME_DIR",
                                runtimeMode < 0 ? QByteArray() : QFile::encodeName(dir.path() + "/runtime"));
        const QString folder = instanceFolder();
        QCOMPARE(folder, expected.isEmpty() ? QString() : dir.path() + '/' + expected);
        QVERIFY(folder.isEmpty() || !(QFileInfo(folder).permissions() & 0x0077));
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

    void loginEntryQuotesPath()
    {
        // Fault: a path with spaces or characters special to the Exec key ended the quoted path early.
        QFETCH(QString, program);
        QFETCH(QByteArray, exec);
        LoginEntry::write(program);
        QVERIFY(LoginEntry::exists());
        QFile f(LoginEntry::autostartFilePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray entry = f.readAll();
        QVERIFY2(entry.contains(exec), entry.constData());
        LoginEntry::remove();
        QVERIFY(!LoginEntry::exists());
    }

    void signalPairNotInherited()
    {
        // Fault: the quit-on-signal socket pair leaked into every child, such as the setup runner's script.
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

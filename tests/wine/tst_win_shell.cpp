// The shell's Windows side in Wine: the instance guard over its named pipe and
// the Run value of start at login.
#include "loginentry.h"
#include "singleinstance.h"

#include <QLocalServer>
#include <QProcess>
#include <QtTest>

#include <windows.h>

namespace {
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The Run value as Windows reads it; null when absent.
QString runValue()
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Tavrin Pellum", RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return {};
    return QString::fromWCharArray(data);
}

// A second launch in a process of its own: its exit code is 1 when it claimed the name.
int claimInChild(const QByteArray& username)
{
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("USERNAME", QString::fromLatin1(username));
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {"--claim"});
    return child.waitForFinished(30000) ? child.exitCode() : -1;
}
} // namespace

class TestWinShell : public QObject {
    Q_OBJECT
private slots:
    // A second launch started a second instance, or two users shared one pipe name.
    void oneInstancePerUser()
    {
        qputenv("USERNAME", "Alice");
        QCOMPARE(instanceServerName(), QStringLiteral("com.tavrin.pellum.app.instance.alice"));
        QLocalServer* server = nullptr;
        QVERIFY(claimSingleInstance(&server) && server && server->isListening());
        QCOMPARE(claimInChild("ALICE"), 0);
        QVERIFY(server->hasPendingConnections() || server->waitForNewConnection(2000));
        QCOMPARE(claimInChild("bob"), 1);
        delete server;
        // Once the first instance is gone, the next launch is the first again.
        QCOMPARE(claimInChild("alice"), 1);
    }

    // The Run value lost its quotes around a path with spaces, or outlived switching off.
    void runValueQuotesPath()
    {
        const QString program = "C:/Program Files/Tavrin Pellum/tavrin-pellum.exe";
        LoginEntry::write(program);
        QCOMPARE(runValue(), QStringLiteral("\"C:\\Program Files\\Tavrin Pellum\\tavrin-pellum.exe\" --login"));
        QVERIFY(LoginEntry::exists());
        LoginEntry::remove();
        QVERIFY(runValue().isNull() && !LoginEntry::exists());
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == "--claim") {
        QLocalServer* server = nullptr;
        const bool first = claimSingleInstance(&server);
        delete server;
        return first ? 1 : 0;
    }
    TestWinShell test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_win_shell.moc"

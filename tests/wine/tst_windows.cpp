// The program's registry and shell side in Wine: the set-up record read back,
// the Run value, and the privileged runner against the stand-in powershell.exe
// that the session puts in the prefix.
#include "adminstep.h"
#include "loginentry.h"
#include "syncsetup.h"

#include <QtTest>

#include <windows.h>

#include <atomic>
#include <thread>

namespace {
const wchar_t kRecordKey[] = L"SOFTWARE\\Tavrin Pellum";
const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Writes the record as the script would, in the given registry view.
void writeRecord(REGSAM view, const wchar_t* name, DWORD type, const QByteArray& data)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, &key, nullptr) == ERROR_SUCCESS) {
        RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(data.constData()), DWORD(data.size()));
        RegCloseKey(key);
    }
}
void deleteRecord()
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kRecordKey, KEY_WOW64_32KEY, 0);
}
QByteArray text(const QString& s) { return QByteArray(reinterpret_cast<const char*>(s.utf16()), (s.size() + 1) * 2); }
template <typename T> QByteArray raw(T v) { return QByteArray(reinterpret_cast<const char*>(&v), sizeof v); }
QByteArray dword(quint32 v) { return raw(v); }

// The Run value as Windows reads it; null when absent.
QString runValue()
{
    wchar_t data[1024];
    DWORD size = sizeof data;
    const LSTATUS got = RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"Tavrin Pellum", RRF_RT_REG_SZ, nullptr, data, &size);
    return got == ERROR_SUCCESS ? QString::fromWCharArray(data) : QString();
}

QString standinLog() { return QDir::temp().filePath("pellum-standin.log"); }
QString script() { return QCoreApplication::applicationDirPath() + "/tavrin-pellum.ps1"; }
} // namespace

class TestWindows : public QObject {
    Q_OBJECT
private slots:
    void readback_data()
    {
        QTest::addColumn<int>("serverType");   // REG_NONE: a good record, but in the 32-bit view
        QTest::addColumn<QByteArray>("server");
        QTest::addColumn<int>("previousType");
        QTest::addColumn<QByteArray>("previous");
        QTest::addColumn<QString>("expectServer");
        QTest::addColumn<bool>("expectPrevious");
        const QByteArray at = text("10.0.0.5");
        QTest::newRow("only in the 32-bit view") << REG_NONE << QByteArray() << REG_NONE << QByteArray() << "" << false;
        QTest::newRow("spaces, DWORD 1") << REG_SZ << text(" 10.0.0.5 ") << REG_DWORD << dword(1) << "10.0.0.5" << true;
        QTest::newRow("text 1") << REG_SZ << at << REG_SZ << text("1") << "10.0.0.5" << true;
        QTest::newRow("QWORD 1") << REG_SZ << at << REG_QWORD << raw(quint64(1)) << "10.0.0.5" << true;
        QTest::newRow("DWORD 2") << REG_SZ << at << REG_DWORD << dword(2) << "10.0.0.5" << false;
        QTest::newRow("text yes") << REG_SZ << at << REG_SZ << text("yes") << "10.0.0.5" << false;
        QTest::newRow("empty text") << REG_SZ << text("") << REG_SZ << text("") << "" << false;
        QTest::newRow("empty binary") << REG_SZ << at << REG_BINARY << QByteArray() << "10.0.0.5" << false;
        QTest::newRow("garbage binary") << REG_BINARY << QByteArray("\xff\x00\x01\x80\xfe", 5)
                                        << REG_BINARY << QByteArray("\x01\x00\x00\x00\x99", 5) << "<any>" << false;
        QTest::newRow("unterminated text") << REG_SZ << text("10.0.0.5").chopped(2) << REG_SZ << text("1").chopped(2) << "10.0.0.5" << true;
    }
    // A wrong type, an empty or garbled value read as a set-up, or crashed the readback.
    void readback()
    {
        QFETCH(int, serverType);
        QFETCH(QByteArray, server);
        QFETCH(int, previousType);
        QFETCH(QByteArray, previous);
        QFETCH(QString, expectServer);
        deleteRecord();
        const REGSAM view = serverType == REG_NONE ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
        if (view == KEY_WOW64_32KEY)
            serverType = REG_SZ, server = text("10.0.0.9"), previousType = REG_DWORD, previous = dword(1);
        writeRecord(view, L"Server", DWORD(serverType), server);
        writeRecord(view, L"HasPrevious", DWORD(previousType), previous);
        const SyncSetup setup = readSyncSetup();
        if (expectServer != "<any>")
            QCOMPARE(setup.server, expectServer);
        QTEST(setup.hasPrevious, "expectPrevious");
        deleteRecord();
    }

    // The Run value lost its quotes around a path with spaces, or outlived switching off.
    void runValueQuotesPath()
    {
        LoginEntry::write("C:/Program Files/Tavrin Pellum/tavrin-pellum.exe");
        QCOMPARE(runValue(), QStringLiteral("\"C:\\Program Files\\Tavrin Pellum\\tavrin-pellum.exe\" --login"));
        QVERIFY(LoginEntry::exists());
        LoginEntry::remove();
        QVERIFY(runValue().isNull() && !LoginEntry::exists());
    }

    void runner_data()
    {
        QTest::addColumn<QString>("exit");   // the stand-in's exit code; "missing": no script
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        QTest::newRow("exit 0") << "0" << int(AdminStepResult::Done) << "";
        QTest::newRow("exit 3") << "3" << int(AdminStepResult::NoAnswer) << "";
        QTest::newRow("exit 5") << "5" << int(AdminStepResult::Failed)
                                << "The administrator step reported an error. Changing the time settings failed, and the earlier settings were put back.";
        // A launch that fails cannot be had here: Wine then runs its own stub.
        QTest::newRow("no script") << "missing" << int(AdminStepResult::Failed) << "Setup script not found next to the app.";
    }
    // The elevated launch misquoted the script path, misread an exit code, or ran without a script.
    void runner()
    {
        QFETCH(QString, exit);
        QFile::remove(standinLog());
        QFile::remove(script());
        if (exit != "missing")
            QVERIFY(QFile(script()).open(QIODevice::WriteOnly));
        qputenv("PELLUM_STANDIN_LOG", QDir::toNativeSeparators(standinLog()).toUtf8());
        qputenv("PELLUM_STANDIN_EXIT", exit.toLatin1());
        QString said;
        QTEST(int(runAdminStep({"install", "-Server", "192.0.2.10"}, &said)), "result");
        QTEST(said, "message");
        QFile log(standinLog());
        QCOMPARE(log.open(QIODevice::ReadOnly), exit != "missing");   // launched exactly when there is a script
        if (!log.isOpen())
            return;
        const QString line = QString::fromUtf8(log.readAll());
        // After the program's own name, the parameter text exactly.
        const QString expected = QStringLiteral(" -NoProfile -NonInteractive -ExecutionPolicy Bypass -File \"%1\" install -Server 192.0.2.10")
                                     .arg(QDir::toNativeSeparators(script()));
        QVERIFY2(line.endsWith(expected) && line.left(line.size() - expected.size()).contains("powershell", Qt::CaseInsensitive),
                 qPrintable(line));
    }

    // A step froze the program's windows (no repaint, no answer to others) or let its script be rewritten meanwhile.
    void runnerWaitsAnsweringAndHoldsScript()
    {
        QFile::remove(script());
        QVERIFY(QFile(script()).open(QIODevice::WriteOnly));
        qputenv("PELLUM_STANDIN_EXIT", "0");
        qputenv("PELLUM_STANDIN_SLEEP_MS", "2000");
        const HWND window = CreateWindowExW(0, L"STATIC", L"step owner", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                                            nullptr, nullptr);
        QVERIFY(window);
        const std::wstring path = QDir::toNativeSeparators(script()).toStdWString();
        std::atomic<bool> answered{false}, writable{true};
        std::thread other([&] {
            Sleep(700); // the step is under way
            DWORD_PTR result = 0;
            answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 800, &result) != 0;
            const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr);
            writable = file != INVALID_HANDLE_VALUE;
            if (writable)
                CloseHandle(file);
        });
        QString said;
        const AdminStepResult result = runAdminStep({"sync"}, &said);
        other.join();
        DestroyWindow(window);
        qunsetenv("PELLUM_STANDIN_SLEEP_MS");
        QCOMPARE(result, AdminStepResult::Done);
        QVERIFY2(answered, "the window did not answer while the step ran");
        QVERIFY2(!writable, "the script could be opened for writing while the step ran");
        QVERIFY(QFile(script()).open(QIODevice::WriteOnly)); // and is let go afterwards
    }
};

QTEST_GUILESS_MAIN(TestWindows)
#include "tst_windows.moc"

// The Windows set-up pieces against Wine's registry, file security and shell.
#include "adminstep.h"
#include "clienttray.h"
#include "loginentry.h"
#include "scriptsafety_win.h"

#include <QtTest>

#include <map>

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

namespace {
const wchar_t kApproved[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
const wchar_t kPersonalize[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

LONG setValue(const wchar_t* key, const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    return RegSetKeyValueW(HKEY_CURRENT_USER, key, name, type, data, size);
}

const wchar_t kAdminsOnly[] = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200a9;;;BU)";
const wchar_t kUsersMayChange[] = L"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;BU)";

// Windows as a table: a final path and a drive type per entry, and every
// file and folder closed to users unless named open.
struct TableSource : ScriptSafety::Source {
    std::wstring spelled, final, open;
    wchar_t remoteDrive = 0;
    std::wstring finalPath(const std::wstring& path) const override
    {
        return path == spelled && !final.empty() ? final : L"\\\\?\\" + path;
    }
    unsigned driveType(const std::wstring& root) const override
    {
        return towupper(root[0]) == remoteDrive ? DRIVE_REMOTE : DRIVE_FIXED;
    }
    void* securityDescriptor(const std::wstring& path) const override
    {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ConvertStringSecurityDescriptorToSecurityDescriptorW(path == open ? kUsersMayChange : kAdminsOnly,
                                                             SDDL_REVISION_1, &descriptor, nullptr);
        return descriptor;
    }
};
} // namespace

class TstWinSetup : public QObject {
    Q_OBJECT
    QString scriptBeside() const { return QCoreApplication::applicationDirPath() + "/tavrin-pellum.ps1"; }

private slots:
    void startAtLoginAsWindowsActs()
    {
        // The switch read on while Task Manager had turned the entry off, switching on left it off, or a broken mark crashed.
        LoginEntry::write(QStringLiteral("C:/Program Files/Tavrin Pellum/tavrin-pellum.exe"));
        QVERIFY(LoginEntry::exists());
        const BYTE off[12] = {3, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
        QCOMPARE(setValue(kApproved, L"Tavrin Pellum", REG_BINARY, off, sizeof off), LONG(ERROR_SUCCESS));
        QVERIFY(!LoginEntry::exists());
        LoginEntry::write(QStringLiteral("C:/Program Files/Tavrin Pellum/tavrin-pellum.exe"));
        QVERIFY(LoginEntry::exists());
        DWORD size = 0;
        QCOMPARE(RegGetValueW(HKEY_CURRENT_USER, kApproved, L"Tavrin Pellum", RRF_RT_ANY, nullptr, nullptr, &size),
                 LONG(ERROR_FILE_NOT_FOUND));
        // Marks that are not Windows' own binary one do not count as off.
        QCOMPARE(setValue(kApproved, L"Tavrin Pellum", REG_SZ, L"03", 6), LONG(ERROR_SUCCESS));
        QVERIFY(LoginEntry::exists());
        QCOMPARE(setValue(kApproved, L"Tavrin Pellum", REG_BINARY, nullptr, 0), LONG(ERROR_SUCCESS));
        QVERIFY(LoginEntry::exists());
        LoginEntry::remove();
        QVERIFY(!LoginEntry::exists());
    }

    void trayInkFollowsTheTaskbar()
    {
        // The tray's ink followed the apps' scheme instead of the taskbar's.
        const DWORD light = 1, dark = 0;
        QCOMPARE(setValue(kPersonalize, L"AppsUseLightTheme", REG_DWORD, &dark, sizeof dark), LONG(ERROR_SUCCESS));
        QCOMPARE(setValue(kPersonalize, L"SystemUsesLightTheme", REG_DWORD, &light, sizeof light), LONG(ERROR_SUCCESS));
        QVERIFY(ClientTray::systemSchemeIsLight());
        QCOMPARE(setValue(kPersonalize, L"AppsUseLightTheme", REG_DWORD, &light, sizeof light), LONG(ERROR_SUCCESS));
        QCOMPARE(setValue(kPersonalize, L"SystemUsesLightTheme", REG_DWORD, &dark, sizeof dark), LONG(ERROR_SUCCESS));
        QVERIFY(!ClientTray::systemSchemeIsLight());
    }

    // At 125 % the tray got Qt's small-icon size times the scale again, which Windows shrank, blurred.
    void trayLampAtTheSmallIconSize()
    {
        const QIcon icon = ClientTray::lampIcon(ClockState::Sync, true, false);
        const QSize small(GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON));
        // As Qt's Windows tray asks on a screen at 125 %.
        QCOMPARE(icon.pixmap(small, 1.25).size(), small);
    }

    void scriptPathRules_data()
    {
        // The path as spelled, as Windows resolves it ("": the same), a folder users may change,
        // a drive letter mapped to a share, then where the refusal points and why ("": none).
        for (const char* column : {"spelled", "final", "open", "remote", "where", "why"})
            QTest::addColumn<QString>(column);
        const QString ps1 = "\\tavrin-pellum.ps1", installed = "C:\\Program Files\\Tavrin Pellum" + ps1,
                      share = "\\\\fileserver\\tools\\Pellum" + ps1, notLocal = "is not on a local fixed drive";
        QTest::newRow("Program Files") << installed << "" << "" << "" << "" << "";
        QTest::newRow("share root") << share << "" << "" << "" << share << notLocal;
        QTest::newRow("junction into a folder users may change")
            << installed << "\\\\?\\C:\\Users\\Public\\Pellum" + ps1 << "C:\\Users\\Public\\Pellum" << ""
            << "C:\\Users\\Public\\Pellum" << "can be changed by users who are not administrators";
        QTest::newRow("mapped drive") << "Z:\\Pellum" + ps1 << "\\\\?\\UNC" + share.mid(1) << "" << "Z"
                                      << "Z:\\Pellum" + ps1 << notLocal;
        QTest::newRow("mapped drive reported fixed") << "Z:\\Pellum" + ps1 << "\\\\?\\UNC" + share.mid(1) << ""
                                                     << "" << share << notLocal;
    }
    // A script on a share, behind a junction or on a mapped drive was judged by the path as spelled and run elevated.
    void scriptPathRules()
    {
        QFETCH(QString, spelled);
        QFETCH(QString, final);
        QFETCH(QString, open);
        QFETCH(QString, remote);
        TableSource source;
        source.spelled = spelled.toStdWString();
        source.final = final.toStdWString();
        source.open = open.toStdWString();
        source.remoteDrive = remote.isEmpty() ? 0 : remote.at(0).unicode();
        std::wstring where;
        QTEST(QString::fromStdWString(ScriptSafety::tamperReason(source.spelled, &where, source)), "why");
        QTEST(QString::fromStdWString(where), "where");
    }

    void scriptOthersCanChangeIsNotElevated()
    {
        // A setup script that a non-administrator could change was run elevated.
        QFile::remove(scriptBeside());
        QVERIFY(QFile(scriptBeside()).open(QIODevice::WriteOnly));
        // Everyone may write to it, as to a file in a folder open to all.
        EXPLICIT_ACCESSW everyone = {};
        wchar_t world[] = L"S-1-1-0";
        PSID worldSid = nullptr;
        QVERIFY(ConvertStringSidToSidW(world, &worldSid));
        everyone.grfAccessPermissions = GENERIC_ALL;
        everyone.grfAccessMode = SET_ACCESS;
        everyone.Trustee.TrusteeForm = TRUSTEE_IS_SID;
        everyone.Trustee.ptstrName = static_cast<LPWSTR>(worldSid);
        PACL open = nullptr;
        QCOMPARE(SetEntriesInAclW(1, &everyone, nullptr, &open), DWORD(ERROR_SUCCESS));
        std::wstring path = QDir::toNativeSeparators(scriptBeside()).toStdWString();
        const DWORD set = SetNamedSecurityInfoW(path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, open, nullptr);
        LocalFree(open);
        LocalFree(worldSid);
        QCOMPARE(set, DWORD(ERROR_SUCCESS));
        QString message;
        QCOMPARE(runAdminStep({QStringLiteral("sync")}, &message), AdminStepResult::Failed);
        QFile::remove(scriptBeside());
        // Named where the fault is, and said what the user does about it.
        QVERIFY2(message.startsWith(QStringLiteral("The setup script will not run elevated: %1 ")
                                        .arg(QDir::toNativeSeparators(scriptBeside())))
                     && message.contains(QStringLiteral("Install Tavrin Pellum with its installer")),
                 qPrintable(message));
    }
};

QTEST_MAIN(TstWinSetup)
#include "tst_winsetup.moc"

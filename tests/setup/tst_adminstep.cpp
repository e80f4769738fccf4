// The runner against stand-in helpers. Each step runs in a copy of this
// program laid out as installed: <tmp>/bin/ and <tmp>/libexec/tavrin-pellum/.
#include "adminstep.h"

#include <QtTest>

#include <cstdio>
#include <unistd.h>

class TestAdminStep : public QObject {
    Q_OBJECT
    QTemporaryDir m_tmp;
    QString m_base, m_helper;
    QString path(const QString& relative) const { return m_base + '/' + relative; }

    // One step in the installed copy: "<result>|<message>|<arguments the helper saw>".
    // With `pkexec`, as a user through a stand-in pkexec that ends with 126 or 127, or else runs the helper.
    QString step(const QStringList& args, const QString& pkexec = {})
    {
        QFile::remove(path("args"));
        QProcess child;
        const QStringList program = QStringList{path("bin/tst_adminstep"), "--child"} + args;
        if (pkexec.isEmpty())
            child.start(program.first(), program.mid(1));
        else // in a mount namespace of its own, where pkexec is the stand-in
            child.start("unshare", QStringList{"-m", "sh", "-c", "mount --bind \"$0\" /usr/bin/pkexec && exec env -u TAVRIN_PELLUM_ROOT "
                                               "STANDIN_PKEXEC=" + pkexec + " setpriv --reuid=65534 --regid=65534 --clear-groups \"$@\"",
                                               path("pkexec")} + program);
        child.waitForFinished(60000);   // a child that hangs shows as an empty outcome
        QFile seen(path("args"));
        const QString helperArgs = seen.open(QIODevice::ReadOnly) ? QString::fromUtf8(seen.readAll()).trimmed() : QString();
        return QString::fromUtf8(child.readAllStandardOutput()) + '|' + helperArgs.split('\n').join(' ');
    }

private slots:
    void initTestCase()
    {
        m_base = QFileInfo(m_tmp.path()).canonicalFilePath();
        m_helper = path("libexec/tavrin-pellum/tavrin-pellum.sh");
        // Scratch mode: whatever the runner does, nothing real is changed.
        qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(path("root")));
        QVERIFY(QDir().mkpath(path("bin")) && QFile::copy(QCoreApplication::applicationFilePath(), path("bin/tst_adminstep")));
        QFile pkexec(path("pkexec"));
        QVERIFY(pkexec.open(QIODevice::WriteOnly) && pkexec.write("#!/bin/sh\ncase $STANDIN_PKEXEC in 12[67]) exit $STANDIN_PKEXEC; esac\nexec \"$@\"\n"));
        pkexec.close();
        QVERIFY(QFile::setPermissions(path("pkexec"), QFileDevice::Permissions(0x7555)));
    }

    void init()
    {
        QDir(path("libexec")).removeRecursively();
        QFile helper(m_helper);
        QVERIFY(QDir().mkpath(QFileInfo(m_helper).path()) && helper.open(QIODevice::WriteOnly));
        helper.write("#!/bin/bash\nprintf '%s\\n' \"$@\" > " + QFile::encodeName(path("args"))
                     + "\n[ \"$STANDIN_EXIT\" = kill ] && kill -KILL $$\nexit $STANDIN_EXIT\n");
        helper.close();
        for (const char* entry : {"", "bin", "libexec", "libexec/tavrin-pellum", "libexec/tavrin-pellum/tavrin-pellum.sh"})
            QVERIFY(QFile::setPermissions(path(entry), QFileDevice::Permissions(0x7755)));
        qputenv("STANDIN_EXIT", "0");
    }

    void steps_data()
    {
        QTest::addColumn<QString>("exit");   // the helper's exit code; "none", "dir", "0644" change the helper instead
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("outcome");
        const QStringList sync{"sync"};
        const QString missing = "2|Setup helper not found: " + m_helper + ".|", step = "2|The administrator step reported an error. ",
                      error = step + "The setup script stopped on an unexpected error.|sync";
        QTest::newRow("no helper") << "none" << sync << missing;
        QTest::newRow("folder in its place") << "dir" << sync << missing;
        const QString declined = "2|Could not start the administrator step (was the permission prompt cancelled?).|";
        QTest::newRow("not executable") << "0644" << sync << declined;
        QTest::newRow("killed") << "kill" << sync << error;
        // Only pkexec's own 126 and 127 mean a declined prompt.
        QTest::newRow("127 run directly") << "127" << sync << step + "The setup script stopped with code 127.|sync";
        QTest::newRow("pkexec 126") << "pkexec 126" << sync << declined;
        QTest::newRow("pkexec 127") << "pkexec 127" << sync << declined;
        QTest::newRow("through pkexec, exit 3") << "pkexec 3" << sync << "1||";
        QTest::newRow("install") << "0" << QStringList{"install", "-Server", "10.0.0.5"} << "0||install -Server 10.0.0.5";
        QTest::newRow("set-time exit 3 is done, in UTC") << "3" << QStringList{"clock"} << "0||set-time -Time 2026-03-01T08:15:00Z";
    }

    void steps()
    {
        // Fault: a step misread or left unexplained, its arguments mangled, or something started that should not be.
        QFETCH(QString, exit);
        QFETCH(QStringList, args);
        QFETCH(QString, outcome);
        if (exit == "none" || exit == "dir")
            QVERIFY(QFile::remove(m_helper) && (exit == "none" || QDir().mkpath(m_helper)));
        QVERIFY(exit != "0644" || QFile::setPermissions(m_helper, QFileDevice::Permissions(0x6644)));
        if (exit.startsWith("pkexec") && ::geteuid() != 0)
            QSKIP("a stand-in pkexec needs a mount namespace; run as root");
        qputenv("STANDIN_EXIT", exit.section(' ', -1).toLatin1());
        QCOMPARE(step(args, exit.startsWith("pkexec") ? exit.section(' ', 1) : QString()), outcome);
    }

    void everyDocumentedCodeHasItsSentence()
    {
        // Fault: an exit code a setup script documents reaches the user as a bare "stopped with code N".
        for (const char* name : {"tavrin-pellum.ps1", "tavrin-pellum.sh"}) {
            QFile script(QStringLiteral(PELLUM_SOURCE_DIR "/setup/") + QLatin1String(name));
            QVERIFY(script.open(QIODevice::ReadOnly));
            const QString text = QString::fromUtf8(script.readAll());
            const QString header = text.section(QStringLiteral("# Exit codes:"), 1).section(QStringLiteral("\n\n"), 0, 0);
            QRegularExpressionMatchIterator codes = QRegularExpression(QStringLiteral("^#\\s+(\\d+)\\s"), QRegularExpression::MultilineOption).globalMatch(header);
            int count = 0;
            for (; codes.hasNext(); ++count) {
                const int code = codes.next().captured(1).toInt();
                if (code != 0 && code != 3)
                    QVERIFY2(!AdminStep::exitCodeMeaning(code).contains(QLatin1String("stopped with code")), qPrintable(QString::number(code)));
            }
            QVERIFY2(count >= 8, name);
        }
    }

    void unsafeHelperRefused_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("change");   // chmod mode, "owner" (to nobody) or "symlink"
        QTest::addColumn<QString>("why");
        const QString helper = "libexec/tavrin-pellum/tavrin-pellum.sh", writable = "is writable by group or others";
        QTest::newRow("safe") << helper << "0755" << QString();
        QTest::newRow("helper writable by others") << helper << "0757" << writable;
        QTest::newRow("helper writable by group") << helper << "0775" << writable;
        QTest::newRow("helper not root's") << helper << "owner" << "is not owned by root";
        QTest::newRow("helper is a symlink") << helper << "symlink" << "is a symbolic link";
        QTest::newRow("folder open to all") << "libexec/tavrin-pellum" << "0777" << writable;
        QTest::newRow("ancestor not root's") << QString() << "owner" << "is not owned by root";
        // Like /tmp: others cannot replace the root-owned entry in a sticky folder.
        QTest::newRow("sticky folder open to all") << "libexec" << "1777" << QString();
    }

    void unsafeHelperRefused()
    {
        // Fault: root runs a helper that another user could have changed.
        if (::geteuid() != 0)
            QSKIP("the check guards what runs as root; run as root");
        QFETCH(QString, target);
        QFETCH(QString, change);
        QFETCH(QString, why);
        const QString file = target.isEmpty() ? m_base : path(target), copy = m_helper + ".real";
        QVERIFY(change == "owner" ? ::chown(QFile::encodeName(file).constData(), 65534, 65534) == 0
                : change == "symlink" ? QFile::rename(m_helper, copy) && QFile::link(copy, m_helper)
                                      : QProcess::execute("chmod", {change, file}) == 0);
        const QString outcome = step({"sync"});
        QCOMPARE(::chown(QFile::encodeName(m_base).constData(), 0, 0), 0);
        QCOMPARE(outcome, why.isEmpty() ? "0||sync" : QString("2|The setup helper will not run as root: %1 %2.|").arg(file, why));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TestAdminStep test;
    if (app.arguments().value(1) != "--child")
        return QTest::qExec(&test, argc, argv);
    // The child: one step, its result and message on standard output.
    const QStringList args = app.arguments().mid(2);
    QString message;
    const AdminStepResult result = args == QStringList{"clock"}
        ? setSystemClock(QDateTime(QDate(2026, 3, 1), QTime(9, 15), QTimeZone(3600)), &message)
        : runAdminStep(args, &message);
    std::printf("%d|%s", int(result), qPrintable(message));
}

#include "tst_adminstep.moc"

#include "syncsetup.h"
#include "systempaths.h"

#include "scopedenv.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

namespace {

// A settings format whose values come from a map as typed variants, so a
// number can be told apart from text the way the registry keeps a DWORD.
QSettings::SettingsMap g_typedValues;

bool readTyped(QIODevice&, QSettings::SettingsMap& map)
{
    map = g_typedValues;
    return true;
}

bool writeTyped(QIODevice&, const QSettings::SettingsMap&)
{
    return true;
}

} // namespace

class TestSyncSetup : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void missingRecordIsNotSetUp();
    void recordPathIsADirectory();
    void serverIsTrimmed_data();
    void serverIsTrimmed();
    void hasPreviousOnlyWhenExactlyOne_data();
    void hasPreviousOnlyWhenExactlyOne();
    void typedValues_data();
    void typedValues();
    void garbledFileGivesNoServer();
    void eachCallReadsAfresh();
    void oversizedRecordIsIgnored();
    void unwritableTempStillReads();
    void rootPrefixTakesTrailingSlashes();

private:
    void writeRecord(const QByteArray& text);

    QTemporaryDir m_root;
};

void TestSyncSetup::initTestCase()
{
    QVERIFY(m_root.isValid());
    qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(m_root.path()));
}

void TestSyncSetup::init()
{
    QDir(m_root.path() + QStringLiteral("/var")).removeRecursively();
}

void TestSyncSetup::writeRecord(const QByteArray& text)
{
    const QString path = SystemPaths::setupRecordPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), qint64(text.size()));
}

void TestSyncSetup::missingRecordIsNotSetUp()
{
    QCOMPARE(SystemPaths::setupRecordPath(),
             m_root.path() + QStringLiteral("/var/lib/tavrin-pellum/setup.ini"));
    const SyncSetup setup = readSyncSetup();
    QVERIFY(setup.server.isEmpty());
    QVERIFY(!setup.hasPrevious);
    // Reading must not create the record.
    QVERIFY(!QFile::exists(SystemPaths::setupRecordPath()));
}

void TestSyncSetup::recordPathIsADirectory()
{
    QVERIFY(QDir().mkpath(SystemPaths::setupRecordPath()));
    const SyncSetup setup = readSyncSetup();
    QVERIFY(setup.server.isEmpty());
    QVERIFY(!setup.hasPrevious);
}

void TestSyncSetup::serverIsTrimmed_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("server");
    QTest::newRow("plain") << QByteArray("Server=10.0.0.5") << QStringLiteral("10.0.0.5");
    QTest::newRow("spaces quoted") << QByteArray("Server=\" 10.0.0.5 \"") << QStringLiteral("10.0.0.5");
    QTest::newRow("tab and spaces") << QByteArray("Server=\"\\t10.0.0.5  \"") << QStringLiteral("10.0.0.5");
    QTest::newRow("only blanks") << QByteArray("Server=\"   \"") << QString();
    QTest::newRow("empty") << QByteArray("Server=") << QString();
    QTest::newRow("missing") << QByteArray("Other=10.0.0.5") << QString();
    QTest::newRow("wrong case key") << QByteArray("server=10.0.0.5") << QString();
}

void TestSyncSetup::serverIsTrimmed()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, server);
    writeRecord("[General]\n" + line + "\nHasPrevious=1\n");
    const SyncSetup setup = readSyncSetup();
    QCOMPARE(setup.server, server);
    QVERIFY(setup.hasPrevious);
}

void TestSyncSetup::hasPreviousOnlyWhenExactlyOne_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("hasPrevious");
    QTest::newRow("1") << QByteArray("HasPrevious=1") << true;
    QTest::newRow("quoted 1") << QByteArray("HasPrevious=\"1\"") << true;
    QTest::newRow("0") << QByteArray("HasPrevious=0") << false;
    QTest::newRow("2") << QByteArray("HasPrevious=2") << false;
    QTest::newRow("-1") << QByteArray("HasPrevious=-1") << false;
    QTest::newRow("11") << QByteArray("HasPrevious=11") << false;
    QTest::newRow("1.5") << QByteArray("HasPrevious=1.5") << false;
    QTest::newRow("yes") << QByteArray("HasPrevious=yes") << false;
    QTest::newRow("true") << QByteArray("HasPrevious=true") << false;
    QTest::newRow("1x") << QByteArray("HasPrevious=1x") << false;
    QTest::newRow("empty") << QByteArray("HasPrevious=") << false;
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("list") << QByteArray("HasPrevious=1, 1") << false;
}

void TestSyncSetup::hasPreviousOnlyWhenExactlyOne()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, hasPrevious);
    writeRecord("[General]\nServer=10.0.0.5\n" + line + "\n");
    const SyncSetup setup = readSyncSetup();
    QCOMPARE(setup.server, QStringLiteral("10.0.0.5"));
    QCOMPARE(setup.hasPrevious, hasPrevious);
}

void TestSyncSetup::typedValues_data()
{
    QTest::addColumn<QVariant>("server");
    QTest::addColumn<QVariant>("previous");
    QTest::addColumn<QString>("expectedServer");
    QTest::addColumn<bool>("expectedPrevious");
    QTest::newRow("dword 1") << QVariant(QStringLiteral(" 10.0.0.5 ")) << QVariant(1)
                             << QStringLiteral("10.0.0.5") << true;
    QTest::newRow("dword 0") << QVariant(QStringLiteral("10.0.0.5")) << QVariant(0)
                             << QStringLiteral("10.0.0.5") << false;
    QTest::newRow("dword 2") << QVariant(QStringLiteral("10.0.0.5")) << QVariant(2)
                             << QStringLiteral("10.0.0.5") << false;
    QTest::newRow("unsigned 1") << QVariant(QStringLiteral("10.0.0.5")) << QVariant(1u)
                                << QStringLiteral("10.0.0.5") << true;
    QTest::newRow("text 1") << QVariant(QStringLiteral("10.0.0.5")) << QVariant(QStringLiteral("1"))
                            << QStringLiteral("10.0.0.5") << true;
    QTest::newRow("neither") << QVariant() << QVariant() << QString() << false;
}

void TestSyncSetup::typedValues()
{
    QFETCH(QVariant, server);
    QFETCH(QVariant, previous);
    QFETCH(QString, expectedServer);
    QFETCH(bool, expectedPrevious);

    g_typedValues.clear();
    if (server.isValid())
        g_typedValues.insert(QStringLiteral("Server"), server);
    if (previous.isValid())
        g_typedValues.insert(QStringLiteral("HasPrevious"), previous);

    static const QSettings::Format typed = QSettings::registerFormat(QStringLiteral("typed"), readTyped, writeTyped);
    // A fresh file per row: the settings cache would hand back the last map.
    QTemporaryFile file(m_root.path() + QStringLiteral("/typed-XXXXXX"));
    QVERIFY(file.open());
    QCOMPARE(file.write("x"), qint64(1)); // an empty file is never parsed
    QVERIFY(file.flush());
    const QSettings record(file.fileName(), typed);
    const SyncSetup setup = readSyncSetupFrom(record);
    QCOMPARE(setup.server, expectedServer);
    QCOMPARE(setup.hasPrevious, expectedPrevious);
}

void TestSyncSetup::garbledFileGivesNoServer()
{
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char((i * 7919 + 13) % 256));
    writeRecord(junk);
    SyncSetup setup = readSyncSetup();
    QVERIFY(setup.server.isEmpty());
    QVERIFY(!setup.hasPrevious);

    writeRecord("[General\nServer=10.0.0.5\nHasPrevious=1\n");
    setup = readSyncSetup(); // must not crash; whatever it reads is trimmed
    QCOMPARE(setup.server, setup.server.trimmed());

    writeRecord(QByteArray());
    setup = readSyncSetup();
    QVERIFY(setup.server.isEmpty());
    QVERIFY(!setup.hasPrevious);
}

void TestSyncSetup::eachCallReadsAfresh()
{
    writeRecord("[General]\nServer=10.0.0.5\nHasPrevious=1\n");
    QCOMPARE(readSyncSetup().server, QStringLiteral("10.0.0.5"));
    writeRecord("[General]\nServer=10.0.0.7\nHasPrevious=0\n");
    SyncSetup setup = readSyncSetup();
    QCOMPARE(setup.server, QStringLiteral("10.0.0.7"));
    QVERIFY(!setup.hasPrevious);
    QVERIFY(QFile::remove(SystemPaths::setupRecordPath()));
    setup = readSyncSetup();
    QVERIFY(setup.server.isEmpty());
    QVERIFY(!setup.hasPrevious);
}

void TestSyncSetup::oversizedRecordIsIgnored()
{
    QByteArray text("[General]\nServer=10.0.0.5\nHasPrevious=1\n");
    writeRecord(text + "#" + QByteArray(1024 * 1024, 'x') + "\n");
    const SyncSetup setup = readSyncSetup();
    QVERIFY(setup.server.isEmpty());
    QVERIFY(!setup.hasPrevious);
    writeRecord(text);
    QCOMPARE(readSyncSetup().server, QStringLiteral("10.0.0.5"));
}

void TestSyncSetup::unwritableTempStillReads()
{
    writeRecord("[General]\nServer=10.0.0.7\nHasPrevious=1\n");
    const ScopedEnv tmp("TMPDIR", m_root.filePath(QStringLiteral("no-such-dir")).toLocal8Bit());
    const SyncSetup setup = readSyncSetup();
    QCOMPARE(setup.server, QStringLiteral("10.0.0.7"));
    QVERIFY(setup.hasPrevious);
}

void TestSyncSetup::rootPrefixTakesTrailingSlashes()
{
    ScopedEnv root("TAVRIN_PELLUM_ROOT");
    root.set(qgetenv("TAVRIN_PELLUM_ROOT") + "//");
    QCOMPARE(SystemPaths::setupRecordPath(),
             m_root.path() + QStringLiteral("/var/lib/tavrin-pellum/setup.ini"));
    root.set(QByteArray());
    QCOMPARE(SystemPaths::setupRecordPath(), QStringLiteral("/var/lib/tavrin-pellum/setup.ini"));
}

QTEST_GUILESS_MAIN(TestSyncSetup)
#include "tst_syncsetup.moc"

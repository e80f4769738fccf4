// The readback of the record the script leaves, broken records included.
#include "syncsetup.h"
#include "systempaths.h"

#include <QtTest>

class TestSyncSetup : public QObject {
    Q_OBJECT
private slots:
    void readback_data()
    {
        QTest::addColumn<QByteArray>("record");   // "<dir>" puts a folder in its place, "<none>" leaves it out
        QTest::addColumn<QString>("server");
        QTest::addColumn<bool>("hasPrevious");
        const QByteArray head("[General]\nServer=10.0.0.5\n");
        QTest::newRow("none") << QByteArray("<none>") << QString() << false;
        QTest::newRow("folder") << QByteArray("<dir>") << QString() << false;
        QTest::newRow("empty") << QByteArray() << QString() << false;
        QTest::newRow("spaces around") << QByteArray("Server=\" 10.0.0.5 \"\nHasPrevious=1\n") << "10.0.0.5" << true;
        QTest::newRow("text 1") << head + "HasPrevious=\"1\"\n" << "10.0.0.5" << true;
        for (const char* other : {"0", "2", "11", "1x", "yes", "", "1, 1"})
            QTest::addRow("HasPrevious=%s", other) << head + "HasPrevious=" + other + "\n" << "10.0.0.5" << false;
        QByteArray junk;
        for (int i = 0; i < 4096; ++i)
            junk.append(char((i * 7919 + 13) % 256));
        QTest::newRow("garbled") << junk << QString() << false;
        QTest::newRow("oversized") << head + "HasPrevious=1\n#" + QByteArray(1024 * 1024, 'x') + "\n" << QString() << false;
    }

    void readback()
    {
        // Fault: a broken record reads as a set-up, or a good one is misread.
        QFETCH(QByteArray, record);
        QFETCH(QString, server);
        QFETCH(bool, hasPrevious);
        QTemporaryDir root;
        qputenv("TAVRIN_PELLUM_ROOT", QFile::encodeName(root.path()));
        const QString path = SystemPaths::setupRecordPath();
        QVERIFY(path.startsWith(root.path()) && QDir().mkpath(record == "<dir>" ? path : QFileInfo(path).path()));
        QFile file(path);
        if (record != "<dir>" && record != "<none>")
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(record) == record.size() && file.flush());
        file.close();
        const SyncSetup setup = readSyncSetup();
        QCOMPARE(setup.server, server);
        QCOMPARE(setup.hasPrevious, hasPrevious);
        // Each call reads afresh, even a rewrite of the same size in the same instant.
        if (!server.isEmpty() && file.open(QIODevice::WriteOnly | QIODevice::Truncate)
            && file.write(QByteArray(record).replace("10.0.0.5", "10.0.0.7")) && file.flush())
            QCOMPARE(readSyncSetup().server, QStringLiteral("10.0.0.7"));
        qunsetenv("TAVRIN_PELLUM_ROOT");
    }
};

QTEST_GUILESS_MAIN(TestSyncSetup)
#include "tst_syncsetup.moc"

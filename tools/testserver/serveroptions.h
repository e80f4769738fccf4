#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>

// Everything the test server can be told, from its command line or its
// control file. Socket options (address, ports) only count at start.
struct ServerOptions {
    // sockets
    QHostAddress listen = QHostAddress(QHostAddress::LocalHost);
    quint16 ntpPort = 123;     // 0: no SNTP service
    quint16 tavrPort = 12300;  // 0: no TAVR service
    bool broadcastListen = true;

    // SNTP
    qint64 offsetMs = 0;
    int stratum = 2;
    int leap = 0;
    int delayMs = 0;
    QString sntp = QStringLiteral("normal"); // normal|wrong-origin|wrong-mode|truncated|silent

    // discovery answers
    int answerType = 3;
    QString id = QStringLiteral("test-server");
    QString name = QStringLiteral("Test Server");
    QString source = QStringLiteral("local clock");
    QString ver = QStringLiteral("0.0-test");
    int clients = 0;
    QStringList flags = {QStringLiteral("synced"), QStringLiteral("accepting")};
    QStringList omit;        // keys left out of the answer
    QString answerJson;      // replaces the whole answer body when set
    QString discovery = QStringLiteral("normal"); // normal|stale-nonce|malformed|bad-json|silent
    int discoveryDelayMs = 0;

    // status reports
    QString reportAnswer = QStringLiteral("normal"); // normal|wrong-id|no-id|wrong-type|malformed|silent

    // logs
    QString reportLog;
    QString queryLog;
    QString sntpLog;

    QString control;
};

// Applies `args` on top of `options`. With `controlFile` set, options that
// need new sockets or files are refused. False with a message on bad input.
bool applyOptions(const QStringList& args, ServerOptions* options, bool controlFile, QString* error);

// Splits control-file text into arguments: whitespace separated, double
// quotes group, '#' starts a comment to the end of the line.
QStringList splitControlText(const QString& text);

QString usageText();

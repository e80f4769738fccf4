#include "serveroptions.h"

#include <QSet>

namespace {

bool toInt(const QString& text, qint64 min, qint64 max, qint64* out)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok);
    if (!ok || v < min || v > max)
        return false;
    *out = v;
    return true;
}

const QSet<QString> kFlagWords = {QStringLiteral("synced"), QStringLiteral("accepting"),
                                  QStringLiteral("steady")};

} // namespace

QStringList splitControlText(const QString& text)
{
    QStringList out;
    QString current;
    bool inQuotes = false;
    bool haveToken = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inQuotes) {
            if (c == u'"')
                inQuotes = false;
            else
                current += c;
            continue;
        }
        if (c == u'#') {
            while (i < text.size() && text.at(i) != u'\n')
                ++i;
            --i;
            continue;
        }
        if (c == u'"') {
            inQuotes = true;
            haveToken = true;
            continue;
        }
        if (c.isSpace()) {
            if (haveToken)
                out << current;
            current.clear();
            haveToken = false;
            continue;
        }
        current += c;
        haveToken = true;
    }
    if (haveToken)
        out << current;
    return out;
}

bool applyOptions(const QStringList& argsIn, ServerOptions* o, bool controlFile, QString* error)
{
    // "--opt=value" is the same as "--opt value".
    QStringList args;
    for (const QString& a : argsIn) {
        const int eq = a.indexOf(u'=');
        if (a.startsWith(QLatin1String("--")) && eq > 2) {
            args << a.left(eq) << a.mid(eq + 1);
        } else {
            args << a;
        }
    }

    static const QSet<QString> startOnly = {"--listen", "--ntp-port", "--tavr-port", "--no-broadcast",
                                            "--report-log", "--query-log", "--sntp-log", "--control"};
    for (int i = 0; i < args.size(); ++i) {
        const QString opt = args.at(i);
        auto fail = [&](const QString& why) {
            *error = QStringLiteral("%1: %2").arg(opt, why);
            return false;
        };
        if (controlFile && startOnly.contains(opt))
            return fail(QStringLiteral("only allowed on the command line"));
        if (opt == QLatin1String("--no-broadcast")) {
            o->broadcastListen = false;
            continue;
        }
        if (!opt.startsWith(QLatin1String("--")))
            return fail(QStringLiteral("unexpected argument"));
        if (i + 1 >= args.size())
            return fail(QStringLiteral("needs a value"));
        const QString v = args.at(++i);
        qint64 n = 0;
        if (opt == QLatin1String("--listen")) {
            QHostAddress a;
            if (!a.setAddress(v) || a.protocol() != QAbstractSocket::IPv4Protocol)
                return fail(QStringLiteral("needs an IPv4 address"));
            o->listen = a;
        } else if (opt == QLatin1String("--ntp-port")) {
            if (!toInt(v, 0, 65535, &n))
                return fail(QStringLiteral("needs a port 0-65535"));
            o->ntpPort = quint16(n);
        } else if (opt == QLatin1String("--tavr-port")) {
            if (!toInt(v, 0, 65535, &n))
                return fail(QStringLiteral("needs a port 0-65535"));
            o->tavrPort = quint16(n);
        } else if (opt == QLatin1String("--offset-ms")) {
            if (!toInt(v, -(qint64(1) << 50), qint64(1) << 50, &n))
                return fail(QStringLiteral("needs an integer"));
            o->offsetMs = n;
        } else if (opt == QLatin1String("--stratum")) {
            if (!toInt(v, 0, 255, &n))
                return fail(QStringLiteral("needs 0-255"));
            o->stratum = int(n);
        } else if (opt == QLatin1String("--leap")) {
            if (!toInt(v, 0, 3, &n))
                return fail(QStringLiteral("needs 0-3"));
            o->leap = int(n);
        } else if (opt == QLatin1String("--delay-ms")) {
            if (!toInt(v, 0, 60000, &n))
                return fail(QStringLiteral("needs 0-60000"));
            o->delayMs = int(n);
        } else if (opt == QLatin1String("--sntp")) {
            static const QSet<QString> ok = {"normal", "wrong-origin", "wrong-mode", "truncated", "silent"};
            if (!ok.contains(v))
                return fail(QStringLiteral("normal|wrong-origin|wrong-mode|truncated|silent"));
            o->sntp = v;
        } else if (opt == QLatin1String("--answer-type")) {
            if (v != QLatin1String("2") && v != QLatin1String("3"))
                return fail(QStringLiteral("needs 2 or 3"));
            o->answerType = v.toInt();
        } else if (opt == QLatin1String("--id")) {
            o->id = v;
        } else if (opt == QLatin1String("--name")) {
            o->name = v;
        } else if (opt == QLatin1String("--source")) {
            o->source = v;
        } else if (opt == QLatin1String("--ver")) {
            o->ver = v;
        } else if (opt == QLatin1String("--clients")) {
            if (!toInt(v, -2147483648LL, 2147483647LL, &n))
                return fail(QStringLiteral("needs a 32-bit integer"));
            o->clients = int(n);
        } else if (opt == QLatin1String("--flags")) {
            QStringList flags;
            if (v != QLatin1String("none")) {
                for (const QString& f : v.split(u',', Qt::SkipEmptyParts)) {
                    if (!kFlagWords.contains(f))
                        return fail(QStringLiteral("words synced, accepting, steady or none"));
                    flags << f;
                }
            }
            o->flags = flags;
        } else if (opt == QLatin1String("--omit")) {
            o->omit = v == QLatin1String("none") ? QStringList() : v.split(u',', Qt::SkipEmptyParts);
        } else if (opt == QLatin1String("--answer-json")) {
            o->answerJson = v;
        } else if (opt == QLatin1String("--discovery")) {
            static const QSet<QString> ok = {"normal", "stale-nonce", "malformed", "bad-json", "oversized",
                                             "silent"};
            if (!ok.contains(v))
                return fail(QStringLiteral("normal|stale-nonce|malformed|bad-json|oversized|silent"));
            o->discovery = v;
        } else if (opt == QLatin1String("--discovery-delay-ms")) {
            if (!toInt(v, 0, 60000, &n))
                return fail(QStringLiteral("needs 0-60000"));
            o->discoveryDelayMs = int(n);
        } else if (opt == QLatin1String("--report-answer")) {
            static const QSet<QString> ok = {"normal", "wrong-id", "no-id", "wrong-type", "malformed",
                                             "oversized", "silent"};
            if (!ok.contains(v))
                return fail(QStringLiteral("normal|wrong-id|no-id|wrong-type|malformed|oversized|silent"));
            o->reportAnswer = v;
        } else if (opt == QLatin1String("--report-log")) {
            o->reportLog = v;
        } else if (opt == QLatin1String("--query-log")) {
            o->queryLog = v;
        } else if (opt == QLatin1String("--sntp-log")) {
            o->sntpLog = v;
        } else if (opt == QLatin1String("--control")) {
            o->control = v;
        } else {
            return fail(QStringLiteral("unknown option"));
        }
    }
    return true;
}

QString usageText()
{
    return QStringLiteral(
        "usage: pellum-test-server [options]   (see tools/testserver/README.md)\n"
        "  --listen ADDR  --ntp-port N  --tavr-port N  --no-broadcast\n"
        "  --offset-ms N  --stratum N  --leap N  --delay-ms N\n"
        "  --sntp normal|wrong-origin|wrong-mode|truncated|silent\n"
        "  --answer-type 2|3  --id S  --name S  --source S  --ver S  --clients N\n"
        "  --flags synced,accepting,steady|none  --omit KEY,...  --answer-json TEXT\n"
        "  --discovery normal|stale-nonce|malformed|bad-json|oversized|silent  --discovery-delay-ms N\n"
        "  --report-answer normal|wrong-id|no-id|wrong-type|malformed|oversized|silent\n"
        "  --report-log FILE  --query-log FILE  --sntp-log FILE  --control FILE\n");
}

// PowerShell cannot run here, so the Windows setup script gets a cheap check
// of our own: comments, strings and here-strings are skipped, and every
// bracket, brace and parenthesis must close in order. It catches the slips a
// hand edit makes (a lost brace, an open string); it is not a parser.

#include <QFile>
#include <QtTest>

namespace {

struct Balance {
    bool ok = true;
    QString problem;
};

QString where(int line, const QString& text)
{
    return QStringLiteral("line %1: %2").arg(line).arg(text);
}

Balance checkBalance(const QString& src)
{
    // Each open item: the closing character it waits for, its line, and
    // whether it is a "$(...)" inside a double-quoted string (closing it
    // returns to the string).
    struct Open {
        QChar close;
        int line;
        bool inString;
    };
    QList<Open> open;
    int line = 1;
    int i = 0;
    const int n = src.size();
    bool inDouble = false;
    int doubleLine = 0;

    auto at = [&](int k) { return k < n ? src.at(k) : QChar(); };
    auto fail = [&](int l, const QString& text) { return Balance{false, where(l, text)}; };
    auto startsLine = [&](int k) { return k == 0 || src.at(k - 1) == QLatin1Char('\n'); };

    while (i < n) {
        const QChar c = src.at(i);
        if (c == QLatin1Char('\n'))
            ++line;

        if (inDouble) {
            if (c == QLatin1Char('`')) {
                if (at(i + 1) == QLatin1Char('\n'))
                    ++line;
                i += 2;
            } else if (c == QLatin1Char('"')) {
                if (at(i + 1) == QLatin1Char('"')) {
                    i += 2; // "" is a quote inside the string
                } else {
                    inDouble = false;
                    ++i;
                }
            } else if (c == QLatin1Char('$') && at(i + 1) == QLatin1Char('(')) {
                open.append({QLatin1Char(')'), line, true});
                inDouble = false;
                i += 2;
            } else {
                ++i;
            }
            continue;
        }

        if (c == QLatin1Char('<') && at(i + 1) == QLatin1Char('#')) {
            const int end = src.indexOf(QLatin1String("#>"), i + 2);
            if (end < 0)
                return fail(line, QStringLiteral("block comment never closed"));
            line += src.mid(i, end - i).count(QLatin1Char('\n'));
            i = end + 2;
        } else if (c == QLatin1Char('#')) {
            while (i < n && src.at(i) != QLatin1Char('\n'))
                ++i;
        } else if (c == QLatin1Char('@') && (at(i + 1) == QLatin1Char('"') || at(i + 1) == QLatin1Char('\''))
                   && at(i + 2) == QLatin1Char('\n')) {
            // A here-string ends with its quote and @ at the start of a line.
            const QString closing = QString(at(i + 1)) + QLatin1Char('@');
            int k = i + 3;
            int found = -1;
            while ((k = src.indexOf(closing, k)) >= 0) {
                if (startsLine(k)) {
                    found = k;
                    break;
                }
                ++k;
            }
            if (found < 0)
                return fail(line, QStringLiteral("here-string never closed"));
            line += src.mid(i, found - i).count(QLatin1Char('\n'));
            i = found + 2;
        } else if (c == QLatin1Char('\'')) {
            const int start = line;
            ++i;
            for (;;) {
                if (i >= n)
                    return fail(start, QStringLiteral("single-quoted string never closed"));
                if (src.at(i) == QLatin1Char('\n'))
                    ++line;
                if (src.at(i) == QLatin1Char('\'')) {
                    if (at(i + 1) == QLatin1Char('\'')) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
        } else if (c == QLatin1Char('"')) {
            inDouble = true;
            doubleLine = line;
            ++i;
        } else if (c == QLatin1Char('`')) {
            if (at(i + 1) == QLatin1Char('\n'))
                ++line;
            i += 2; // escaped character or line continuation
        } else if (c == QLatin1Char('(') || c == QLatin1Char('{') || c == QLatin1Char('[')) {
            const QChar close = c == QLatin1Char('(') ? QLatin1Char(')')
                : c == QLatin1Char('{')               ? QLatin1Char('}')
                                                      : QLatin1Char(']');
            open.append({close, line, false});
            ++i;
        } else if (c == QLatin1Char(')') || c == QLatin1Char('}') || c == QLatin1Char(']')) {
            if (open.isEmpty())
                return fail(line, QStringLiteral("'%1' closes nothing").arg(c));
            const Open top = open.takeLast();
            if (top.close != c)
                return fail(line, QStringLiteral("'%1' where '%2' (opened on line %3) should close")
                                      .arg(c)
                                      .arg(top.close)
                                      .arg(top.line));
            if (top.inString) {
                inDouble = true;
            }
            ++i;
        } else {
            ++i;
        }
    }
    if (inDouble)
        return fail(doubleLine, QStringLiteral("double-quoted string never closed"));
    if (!open.isEmpty())
        return fail(open.last().line, QStringLiteral("'%1' never comes").arg(open.last().close));
    return {};
}

} // namespace

class TestPowerShellBalance : public QObject {
    Q_OBJECT

private slots:
    void checkerFindsSlips_data();
    void checkerFindsSlips();
    void setupScriptIsBalanced();
};

void TestPowerShellBalance::checkerFindsSlips_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("balanced");
    QTest::addColumn<int>("line");

    QTest::newRow("fine") << "function F() { if ($a) { return @(1, 2)[0] } }\n" << true << 0;
    QTest::newRow("brackets in comments and strings")
        << "# { ( [\n<# } \n ) #>\n$a = '{' + \"(\" + 'it''s'\n" << true << 0;
    QTest::newRow("subexpression in a string")
        << "Write-Output \"x $($e.Message -replace '\\)', '') y\"\n" << true << 0;
    QTest::newRow("here-string")
        << "$t = @\"\n  } \"@ not yet\n\"@\n$b = 1\n" << true << 0;
    QTest::newRow("escaped quote") << "$a = \"say `\"hi`\" {\"\n" << true << 0;
    QTest::newRow("lost brace") << "function F() {\n  if ($a) {\n    1\n}\n" << false << 1;
    QTest::newRow("extra brace") << "$a = 1\n}\n" << false << 2;
    QTest::newRow("crossed") << "$a = @(1, 2]\n" << false << 1;
    QTest::newRow("open string") << "$a = 1\n$b = 'text\n" << false << 2;
    QTest::newRow("open double string") << "$a = \"text $($b)\n" << false << 1;
    QTest::newRow("open subexpression") << "$a = \"text $($b\"\n" << false << 1;
    QTest::newRow("open block comment") << "<# note\n$a = 1\n" << false << 1;
}

void TestPowerShellBalance::checkerFindsSlips()
{
    QFETCH(QString, text);
    QFETCH(bool, balanced);
    QFETCH(int, line);
    const Balance result = checkBalance(text);
    QCOMPARE(result.ok, balanced);
    if (!balanced)
        QVERIFY2(result.problem.startsWith(QStringLiteral("line %1:").arg(line)), qPrintable(result.problem));
}

void TestPowerShellBalance::setupScriptIsBalanced()
{
    QFile script(QStringLiteral(PELLUM_SOURCE_DIR "/setup/tavrin-pellum.ps1"));
    QVERIFY2(script.open(QIODevice::ReadOnly), qPrintable(script.fileName()));
    const QString text = QString::fromUtf8(script.readAll()).remove(QLatin1Char('\r'));
    const Balance result = checkBalance(text);
    QVERIFY2(result.ok, qPrintable(result.problem));
}

QTEST_GUILESS_MAIN(TestPowerShellBalance)
#include "tst_powershellbalance.moc"

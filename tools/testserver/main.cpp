// pellum-test-server: a stand-in time server for the test suites.

#include "controlfile.h"
#include "quitsignals.h"
#include "serveroptions.h"
#include "sntpresponder.h"
#include "tavrresponder.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

void printErr(const QString& text)
{
    std::fprintf(stderr, "pellum-test-server: %s\n", qPrintable(text));
    std::fflush(stderr);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();
    if (args.contains(QLatin1String("--help")) || args.contains(QLatin1String("-h"))) {
        std::fputs(qPrintable(usageText()), stdout);
        return 0;
    }

    ServerOptions base;
    QString error;
    if (!applyOptions(args, &base, false, &error)) {
        printErr(error);
        std::fputs(qPrintable(usageText()), stderr);
        return 2;
    }

    // Control file options sit on top of the command line, re-applied from
    // scratch on every change so removing a line restores the default.
    ControlFile* control = nullptr;
    ServerOptions current = base;
    auto withControl = [&base](const QStringList& extra, ServerOptions* out, QString* why) {
        ServerOptions o = base;
        if (!applyOptions(extra, &o, true, why))
            return false;
        *out = o;
        return true;
    };
    if (!base.control.isEmpty()) {
        control = new ControlFile(base.control, &app);
        control->poll();
        if (!withControl(control->arguments(), &current, &error)) {
            printErr(QStringLiteral("control file: ") + error);
            return 2;
        }
    }

    SntpResponder sntp;
    TavrResponder tavr;
    if (current.ntpPort != 0 && !sntp.start(current, &error)) {
        printErr(error);
        return 1;
    }
    if (current.tavrPort != 0 && !tavr.start(current, &error)) {
        printErr(error);
        return 1;
    }

    if (control) {
        QObject::connect(control, &ControlFile::changed, &app, [&](const QStringList& extra) {
            QString why;
            ServerOptions next;
            if (!withControl(extra, &next, &why)) {
                printErr(QStringLiteral("control file ignored: ") + why);
                return;
            }
            sntp.setOptions(next);
            tavr.setOptions(next);
            printErr(QStringLiteral("control file applied"));
        });
    }

    QuitSignals quit;
    QObject::connect(&quit, &QuitSignals::quitRequested, &app, &QCoreApplication::quit);

    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}

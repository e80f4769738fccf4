#include "clientapp.h"
#include "quitonsignal.h"
#include "singleinstance.h"

#include <QApplication>
#include <QLocalServer>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrin Pellum"));
    QApplication::setApplicationVersion(QStringLiteral(PELLUM_VERSION));
    QApplication::setOrganizationName(QStringLiteral("Quorrel Two"));

    QLocalServer* server = nullptr;
    if (!claimSingleInstance(&server))
        return 0;

    const bool atLogin = launchedAtLogin(QApplication::arguments());
    quitOnTerminationSignals();
    ClientApp controller(atLogin);
    controller.start(server);
    return app.exec();
}

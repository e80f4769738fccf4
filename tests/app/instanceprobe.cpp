// Stand-in for a program launch: claims the instance name and reports what
// happened on stdout, so tests can run two of them side by side.
#include "singleinstance.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLocalServer* server = nullptr;
    if (!claimSingleInstance(&server)) {
        std::printf("second\n");
        return 0;
    }
    std::printf("first %s\n", qPrintable(instanceServerName()));
    std::fflush(stdout);
    QObject::connect(server, &QLocalServer::newConnection, [server] {
        while (QLocalSocket* client = server->nextPendingConnection())
            client->deleteLater();
        std::printf("shown\n");
        std::fflush(stdout);
    });
    // Bounded life: the test kills it sooner.
    QTimer::singleShot(20000, &app, &QCoreApplication::quit);
    const int rc = app.exec();
    delete server;
    return rc;
}

#pragma once

#include <QList>
#include <QMetaType>
#include <QString>

// One time server found on the LAN, as one discovery run reports it.
struct DiscoveredServer {
    QString id;              // merge key; the sender's address when the server sent none
    QString name;            // display name
    QString address;         // IPv4 text; in the finished list, the address chosen for the server
    QString source;          // carried, not interpreted
    QString ver;             // carried, not interpreted
    int stratum = 0;
    int clients = 0;         // carried, not interpreted
    bool synced = false;
    bool accepting = false;
    bool answered = false;   // the reported address passed the SNTP probe of this run
    bool onThisComputer = false;
    bool steady = false;
};

Q_DECLARE_METATYPE(DiscoveredServer)

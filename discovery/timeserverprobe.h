#pragma once

#include <QString>
#include <QtGlobal>

// One blocking SNTP request to `address`: true when a valid reply came within
// `timeoutMs`. Blocks the caller meanwhile.
bool probeTimeServer(const QString& address, int timeoutMs);

// The same on another port (tests).
bool probeTimeServerOnPort(const QString& address, quint16 port, int timeoutMs);

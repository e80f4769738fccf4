#pragma once

#include <QString>
#include <QStringList>

class QLocalServer;

// Name of the per-user local server that guards against a second instance.
QString instanceServerName();

// True when this process is the first instance; *server then holds a
// listening server nobody owns yet. False when a running instance answered
// and was told to show itself.
bool claimSingleInstance(QLocalServer** server);

// True when the argument list holds "--login" as a whole element.
bool launchedAtLogin(const QStringList& arguments);

inline constexpr char kLoginArgument[] = "--login";

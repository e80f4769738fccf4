#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QLocalServer;
class QObject;

// Name of the per-user local server that guards against a second instance:
// on Windows from the account's SID, elsewhere from the user's name.
QString instanceServerName();

// The folder that holds the instance socket and its lock: on Unix the user's
// runtime folder when it is private (ours, mode 0700), else a private folder
// of our own in the temp folder; empty when neither can be had. On Windows
// the user's temp folder, which holds only the lock.
QString instanceFolder();

// Where the server listens: the full socket path on Unix (empty without a
// private folder), the pipe name on Windows.
QString instanceServerPath();

// The lock file that marks a live instance, in instanceFolder(); its name is
// made from the instance name so that any user name gives a valid file name.
QString instanceLockPath();

// True when this process is the first instance; *server then holds a
// listening server nobody owns yet, which keeps the claim until it is
// destroyed. False when a running instance answered and was told to show
// itself.
bool claimSingleInstance(QLocalServer** server);

// Runs `show` for every client that sends exactly "show\n" (on Windows only
// a local one of this user); anything else, or nothing within 2 s, is
// dropped unanswered. The connections live as long as `context`.
void answerShowRequests(QLocalServer* server, QObject* context, const std::function<void()>& show);

// True when the argument list holds "--login" as a whole element.
bool launchedAtLogin(const QStringList& arguments);

inline constexpr char kLoginArgument[] = "--login";

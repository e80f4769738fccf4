#pragma once

// On Unix a session logout or `kill` ends the program with SIGTERM; turning
// that into an ordinary quit lets the watcher store its last sync and say
// goodbye to the server. Does nothing on Windows.
void quitOnTerminationSignals();

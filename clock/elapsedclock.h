#pragma once

#include <QtGlobal>

// The two clocks the program reads. Nanoseconds, so that an exchange with a
// server on the LAN is timed to well under a millisecond.

// The wall clock: Unix nanoseconds, UTC. The clock being watched; it can be
// set forward or back at any moment.
qint64 wallClockNs();

// Time elapsed since an arbitrary origin, counting the time the computer
// sleeps and never set: a resume from sleep is time that passed, not a jump.
qint64 elapsedClockNs();

// n / d rounded to the nearest whole number, halves away from zero.
qint64 roundedDiv(qint64 n, qint64 d);

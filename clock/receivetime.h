#pragma once

#include <QtGlobal>

// When the kernel received a datagram. A reply can wait in the socket while
// the GUI thread paints; its arrival time must not.

// Asks the kernel to stamp every datagram the socket receives. False where
// the platform gives no such stamps; callers then take the time at reading.
bool enableReceiveStamps(qintptr socketDescriptor);

// How long ago, in nanoseconds, the next pending datagram arrived, read
// without taking it from the socket; false when it carries no stamp.
bool peekReceiveAgeNs(qintptr socketDescriptor, qint64* ageNs);

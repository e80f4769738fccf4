#pragma once

#include <QHostAddress>
#include <QString>

// Checks an address typed in by the user before it goes to the setup script.
namespace AddressCheck {

enum Verdict {
    Usable,     // one IPv4 host address
    NotIpv4,    // not four dotted decimal numbers of 0 to 255
    NotOneHost, // IPv4, but 0.0.0.0/8, multicast, reserved (240.0.0.0/4) or a broadcast
};

// `canonical` receives the address written back in its canonical form
// whenever the text is IPv4 at all.
Verdict check(const QString& text, QString* canonical);

// A loopback address or one of this computer's own interface addresses.
bool isThisComputer(const QHostAddress& address);

} // namespace AddressCheck

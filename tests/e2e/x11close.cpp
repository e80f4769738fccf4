// pellum-x11-close WINDOW-ID: asks an X11 window to close the way a window
// manager's close button does (WM_DELETE_WINDOW), for tests under Xvfb,
// where no window manager runs. Prints "sent" once the request went out.

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const Window id = argc == 2 ? std::strtoul(argv[1], nullptr, 0) : 0;
    Display* display = id ? XOpenDisplay(nullptr) : nullptr;
    if (!display)
        return 2;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = id;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, id, False, NoEventMask, &event);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? (std::puts("sent"), 0) : 1;
}

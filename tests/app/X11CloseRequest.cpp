// A bare X server has no window manager, so nothing turns a close click into the close
// request that a window manager sends. This sends it, so that tests take the close
// button's own path.
//
//   kx_x11_close intern       interns WM_PROTOCOLS and WM_DELETE_WINDOW; a program looks
//                             them up only if they exist when it starts (keep the server
//                             from resetting with -noreset)
//   kx_x11_close WINDOW_ID    sends WM_DELETE_WINDOW to the window

#include <X11/Xlib.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf (stderr, "usage: %s intern | WINDOW_ID\n", argv[0]);
        return 2;
    }

    Display* display = XOpenDisplay (nullptr);

    if (display == nullptr)
    {
        std::fprintf (stderr, "%s: cannot open the display\n", argv[0]);
        return 1;
    }

    const Atom protocols = XInternAtom (display, "WM_PROTOCOLS", False);
    const Atom deleteWindow = XInternAtom (display, "WM_DELETE_WINDOW", False);

    if (std::strcmp (argv[1], "intern") != 0)
    {
        char* end = nullptr;
        const auto window = (Window) std::strtoul (argv[1], &end, 0);

        if (end == argv[1] || *end != '\0' || window == 0)
        {
            std::fprintf (stderr, "%s: not a window id: %s\n", argv[0], argv[1]);
            XCloseDisplay (display);
            return 2;
        }

        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = protocols;
        event.xclient.format = 32;
        event.xclient.data.l[0] = (long) deleteWindow;
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent (display, window, False, NoEventMask, &event);
    }

    XSync (display, False);
    XCloseDisplay (display);
    return 0;
}

/* A system tray for the tests under Xvfb: it takes the X tray selection
 * (_NET_SYSTEM_TRAY_S<screen>, the freedesktop system tray protocol), says
 * "ready" on standard output, and docks every icon that asks, saying
 * "dock <window>" for each, so a test can see the icon come and click it.
 * Runs until it is killed.
 *   tray_host */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>

#define SYSTEM_TRAY_REQUEST_DOCK 0
#define XEMBED_EMBEDDED_NOTIFY 0

int main(void) {
    Display* display = XOpenDisplay(NULL);
    if (display == NULL) {
        fprintf(stderr, "tray_host: no display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    char name[64];
    snprintf(name, sizeof name, "_NET_SYSTEM_TRAY_S%d", screen);
    const Atom selection = XInternAtom(display, name, False);
    const Atom opcode = XInternAtom(display, "_NET_SYSTEM_TRAY_OPCODE", False);
    const Atom manager = XInternAtom(display, "MANAGER", False);
    const Atom orientation = XInternAtom(display, "_NET_SYSTEM_TRAY_ORIENTATION", False);
    const Atom xembed = XInternAtom(display, "_XEMBED", False);

    /* The tray itself: a strip the icons are docked into, shown at the top
     * left so that a click can reach them. */
    const Window tray = XCreateSimpleWindow(display, root, 0, 0, 200, 32, 0, 0, 0);
    const long horizontal = 0;
    XChangeProperty(display, tray, orientation, XA_CARDINAL, 32, PropModeReplace,
                    (const unsigned char*)&horizontal, 1);
    XSelectInput(display, tray, SubstructureNotifyMask);
    XMapWindow(display, tray);
    XSetSelectionOwner(display, selection, tray, CurrentTime);
    if (XGetSelectionOwner(display, selection) != tray) {
        fprintf(stderr, "tray_host: another tray holds %s\n", name);
        return 1;
    }
    XEvent announce = {0};
    announce.xclient.type = ClientMessage;
    announce.xclient.window = root;
    announce.xclient.message_type = manager;
    announce.xclient.format = 32;
    announce.xclient.data.l[0] = CurrentTime;
    announce.xclient.data.l[1] = (long)selection;
    announce.xclient.data.l[2] = (long)tray;
    XSendEvent(display, root, False, StructureNotifyMask, &announce);
    XFlush(display);
    printf("ready\n");
    fflush(stdout);

    int docked = 0;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == ClientMessage && event.xclient.message_type == opcode &&
            event.xclient.data.l[1] == SYSTEM_TRAY_REQUEST_DOCK) {
            const Window icon = (Window)event.xclient.data.l[2];
            XReparentWindow(display, icon, tray, 32 * docked, 0);
            XResizeWindow(display, icon, 32, 32);
            /* XEMBED: the icon is told it is embedded, as a desktop's tray
             * tells it; only then does it take input. */
            XEvent embedded = {0};
            embedded.xclient.type = ClientMessage;
            embedded.xclient.window = icon;
            embedded.xclient.message_type = xembed;
            embedded.xclient.format = 32;
            embedded.xclient.data.l[0] = CurrentTime;
            embedded.xclient.data.l[1] = XEMBED_EMBEDDED_NOTIFY;
            embedded.xclient.data.l[3] = (long)tray;
            XSendEvent(display, icon, False, NoEventMask, &embedded);
            XMapRaised(display, icon);
            XFlush(display);
            ++docked;
            printf("dock 0x%lx\n", (unsigned long)icon);
            fflush(stdout);
        }
    }
}

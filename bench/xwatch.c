/* Times what the X server sees of a program, from events rather than by polling:
 *   xwatch map PROGRAM [ARG...]      starts PROGRAM; prints "mapped MS WINDOW PID" once its first
 *                                    top-level window is mapped, and leaves it running
 *   xwatch keys WINDOW KEYSYM... N   presses each key in turn, N presses in all, through XTest;
 *                                    prints, per press, the ms until the server's first drawing
 *                                    into WINDOW, the pixels it drew until it was still, and the
 *                                    ms until its last drawing
 *   xwatch hold WINDOW KEYSYM HZ S   holds a key down as auto-repeat does (HZ presses a second for
 *                                    S seconds), releases it, and prints the ms from the release
 *                                    to the window's last drawing
 */
#define _POSIX_C_SOURCE 200809L
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xdamage.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double now_ms(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

/* Waits up to `timeout` ms for an event of `type` (and, for damage, on `window`). */
static int wait_event(Display *d, int type, XEvent *out, double timeout)
{
    const double end = now_ms() + timeout;
    for (;;) {
        while (XPending(d)) {
            XNextEvent(d, out);
            if (out->type == type)
                return 1;
        }
        const double left = end - now_ms();
        if (left <= 0)
            return 0;
        struct pollfd p = { ConnectionNumber(d), POLLIN, 0 };
        poll(&p, 1, (int)left + 1);
    }
}

static void drain(Display *d, int damage_event, Damage damage, double quiet)
{
    XEvent e;
    while (wait_event(d, damage_event, &e, quiet))
        XDamageSubtract(d, damage, None, None);
}

static int map_program(Display *d, char **argv)
{
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);
    const double start = now_ms();
    const pid_t pid = fork();
    if (pid == 0) {
        /* Our output is the caller's pipe: the program must neither hold it open nor block on it. */
        if (!freopen("/dev/null", "w", stdout) || !freopen("/dev/null", "w", stderr))
            _exit(126);
        execvp(argv[0], argv);
        _exit(127);
    }
    XEvent e;
    while (wait_event(d, MapNotify, &e, 20000)) {
        if (!e.xmap.override_redirect) {
            printf("mapped %.2f %lu %d\n", now_ms() - start, (unsigned long)e.xmap.window, (int)pid);
            return 0;
        }
    }
    fprintf(stderr, "xwatch: no window mapped\n");
    return 1;
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: xwatch map PROGRAM... | keys WINDOW KEYSYM... N | hold WINDOW KEYSYM HZ S\n");
        return 2;
    }
    Display *d = XOpenDisplay(NULL);
    if (!d) {
        fprintf(stderr, "xwatch: no display\n");
        return 1;
    }
    if (strcmp(argv[1], "map") == 0)
        return map_program(d, argv + 2);

    int damage_event, damage_error;
    if (!XDamageQueryExtension(d, &damage_event, &damage_error)) {
        fprintf(stderr, "xwatch: no DAMAGE extension\n");
        return 1;
    }
    damage_event += XDamageNotify;
    const Window window = strtoul(argv[2], NULL, 0);
    const Damage damage = XDamageCreate(d, window, XDamageReportNonEmpty);
    const XserverRegion parts = XFixesCreateRegion(d, NULL, 0);
    XSync(d, False);
    drain(d, damage_event, damage, 200);

    XEvent e;
    if (strcmp(argv[1], "keys") == 0 && argc >= 5) {
        const int keys = argc - 4, n = atoi(argv[argc - 1]);
        for (int i = 0; i < n; ++i) {
            const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(argv[3 + i % keys]));
            const double start = now_ms();
            XTestFakeKeyEvent(d, code, True, CurrentTime);
            XTestFakeKeyEvent(d, code, False, CurrentTime);
            XFlush(d);
            if (!wait_event(d, damage_event, &e, 2000)) {
                printf("none\n");
                fflush(stdout);
                continue;
            }
            const double ms = now_ms() - start;
            /* A report's own area is the whole window: the region subtracted tells what was drawn. */
            long pixels = 0;
            double settled = ms;
            do {
                settled = now_ms() - start;
                XDamageSubtract(d, damage, None, parts);
                int n = 0;
                XRectangle *drawn = XFixesFetchRegion(d, parts, &n);
                for (int r = 0; r < n; ++r)
                    pixels += (long)drawn[r].width * drawn[r].height;
                XFree(drawn);
            } while (wait_event(d, damage_event, &e, 120));
            printf("%.3f %ld %.3f\n", ms, pixels, settled);
            fflush(stdout);
        }
        return 0;
    }
    if (strcmp(argv[1], "hold") == 0 && argc == 6) {
        const KeyCode code = XKeysymToKeycode(d, XStringToKeysym(argv[3]));
        const double period = 1000.0 / atof(argv[4]);
        const double end = now_ms() + atof(argv[5]) * 1000;
        for (double next = now_ms(); next < end; next += period) {
            XTestFakeKeyEvent(d, code, True, CurrentTime);
            XFlush(d);
            while (now_ms() < next + period) {
                if (wait_event(d, damage_event, &e, next + period - now_ms()))
                    XDamageSubtract(d, damage, None, None);
            }
        }
        XTestFakeKeyEvent(d, code, False, CurrentTime);
        XFlush(d);
        const double released = now_ms();
        double last = released;
        /* The window has settled once it draws nothing for half a second. */
        while (wait_event(d, damage_event, &e, 500)) {
            last = now_ms();
            XDamageSubtract(d, damage, None, None);
        }
        printf("%.3f\n", last - released);
        return 0;
    }
    fprintf(stderr, "xwatch: unknown use\n");
    return 2;
}

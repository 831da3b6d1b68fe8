/* Presses keys in KWin the way a keyboard would, through KWin's fake-input protocol (KWin offers
   no virtual keyboard to other clients). Arguments: "d CODE" presses, "u CODE" lets go, "k CODE"
   taps, "s MS" waits; CODE is a Linux key code. Each step is seen by KWin before the next. */
#include "fake-input-client-protocol.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <wayland-client.h>

static struct org_kde_kwin_fake_input *input;

static void global(void *data, struct wl_registry *registry, uint32_t name, const char *interface,
    uint32_t version)
{
    (void)data;
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
        input = wl_registry_bind(
            registry, name, &org_kde_kwin_fake_input_interface, version < 4 ? version : 4);
}

static void globalRemoved(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

int main(int argc, char **argv)
{
    static const struct wl_registry_listener listener = { global, globalRemoved };
    struct wl_display *display = wl_display_connect(NULL);
    if (!display) {
        fprintf(stderr, "kwinkeys: no Wayland display\n");
        return 1;
    }
    wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
    wl_display_roundtrip(display);
    if (!input) {
        fprintf(stderr, "kwinkeys: KWin offers no fake input\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(input, "numeri tests", "keys of a child");
    for (int i = 1; i + 1 < argc; i += 2) {
        const int code = atoi(argv[i + 1]);
        switch (argv[i][0]) {
        case 'd':
        case 'u':
            org_kde_kwin_fake_input_keyboard_key(input, code, argv[i][0] == 'd');
            break;
        case 'k':
            org_kde_kwin_fake_input_keyboard_key(input, code, 1);
            wl_display_roundtrip(display);
            /* A tap as long as a finger's: KWin's shortcuts look at the keys held together. */
            usleep(30000);
            org_kde_kwin_fake_input_keyboard_key(input, code, 0);
            break;
        case 's':
            usleep(code * 1000);
            break;
        default:
            fprintf(stderr, "kwinkeys: unknown step %s\n", argv[i]);
            return 2;
        }
        if (wl_display_roundtrip(display) < 0)
            return 1;
    }
    wl_display_disconnect(display);
    return 0;
}

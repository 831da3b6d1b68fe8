/* Presses keys in KWin the way a keyboard would, through KWin's fake-input protocol (KWin offers
   no virtual keyboard to other clients). Arguments: "d CODE" presses, "u CODE" lets go, "s MS"
   waits; CODE is a Linux key code. Each step is seen by KWin before the next. */
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
    (void)data, (void)version;
    /* Keys came with the protocol's fourth version. */
    if (strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
        input = wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4);
}

static void globalRemoved(void *data, struct wl_registry *registry, uint32_t name)
{
    (void)data, (void)registry, (void)name;
}

int main(int argc, char **argv)
{
    static const struct wl_registry_listener listener = { global, globalRemoved };
    struct wl_display *display = wl_display_connect(NULL);
    if (display) {
        wl_registry_add_listener(wl_display_get_registry(display), &listener, NULL);
        wl_display_roundtrip(display);
    }
    if (!input) {
        fprintf(stderr, "kwinkeys: no KWin with fake input\n");
        return 1;
    }
    org_kde_kwin_fake_input_authenticate(input, "numeri tests", "keys of a child");
    for (int i = 1; i + 1 < argc; i += 2) {
        if (argv[i][0] == 's')
            usleep(atoi(argv[i + 1]) * 1000);
        else
            org_kde_kwin_fake_input_keyboard_key(input, atoi(argv[i + 1]), argv[i][0] == 'd');
        if (wl_display_roundtrip(display) < 0)
            return 1;
    }
    wl_display_disconnect(display);
    return 0;
}

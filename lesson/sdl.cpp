#include "lesson/sdl.h"

#include <bit>
#include <dlfcn.h>

namespace lesson {

const SdlLibrary *sdl()
{
    static const SdlLibrary *const loaded = []() -> const SdlLibrary * {
        void *handle = dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        static SdlLibrary library;
        bool complete = true;
#define NUMERI_SDL_RESOLVE(name)                                                                   \
    library.name = std::bit_cast<decltype(&::name)>(dlsym(handle, #name));                         \
    complete = complete && library.name;
        NUMERI_SDL_FUNCTIONS(NUMERI_SDL_RESOLVE)
#undef NUMERI_SDL_RESOLVE
        if (!complete)
            return nullptr;
        // SDL's audio pulls in its event subsystem, whose signal handlers would turn SIGTERM and
        // SIGINT into events that nobody reads: the program could then no longer be stopped.
        library.SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
        return &library;
    }();
    return loaded;
}

} // namespace lesson

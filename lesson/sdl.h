#pragma once

#include <SDL.h>

namespace lesson {

// SDL is loaded when first needed, not linked: Debian's SDL brings some thirty libraries (codecs,
// Wayland, DRM) whose loading would delay the window's first appearance by about 10 ms.
#define NUMERI_SDL_FUNCTIONS(F)                                                                    \
    F(SDL_SetHint)                                                                                 \
    F(SDL_InitSubSystem)                                                                           \
    F(SDL_QuitSubSystem)                                                                           \
    F(SDL_Quit)                                                                                    \
    F(SDL_CreateThread)                                                                            \
    F(SDL_WaitThread)                                                                              \
    F(SDL_DetachThread)                                                                            \
    F(SDL_OpenAudioDevice)                                                                         \
    F(SDL_CloseAudioDevice)                                                                        \
    F(SDL_GetAudioDeviceStatus)                                                                    \
    F(SDL_GetNumAudioDevices)                                                                      \
    F(SDL_PauseAudioDevice)                                                                        \
    F(SDL_ClearQueuedAudio)                                                                        \
    F(SDL_QueueAudio)                                                                              \
    F(SDL_GetQueuedAudioSize)                                                                      \
    F(SDL_DequeueAudio)                                                                            \
    F(SDL_RWFromConstMem)                                                                          \
    F(SDL_LoadWAV_RW)                                                                              \
    F(SDL_FreeWAV)                                                                                 \
    F(SDL_NewAudioStream)                                                                          \
    F(SDL_AudioStreamPut)                                                                          \
    F(SDL_AudioStreamFlush)                                                                        \
    F(SDL_AudioStreamAvailable)                                                                    \
    F(SDL_AudioStreamGet)                                                                          \
    F(SDL_FreeAudioStream)

struct SdlLibrary
{
#define NUMERI_SDL_POINTER(name) decltype(&::name) name = nullptr;
    NUMERI_SDL_FUNCTIONS(NUMERI_SDL_POINTER)
#undef NUMERI_SDL_POINTER
};

// The loaded library, or null where it cannot be had: then every sound is silence.
const SdlLibrary *sdl();

} // namespace lesson

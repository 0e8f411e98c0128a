#pragma once
// The audio server's client library (libpulse), loaded the first time live capture, the device
// list or playback needs it, not when the program starts: a program that only reads files
// (the scanner over recordings) never maps it, nor the dozen libraries it brings along (X11,
// D-Bus, systemd, gcrypt), whose loading and start-up cost more than a short scan itself.
//
// The code that talks to the server calls the library's functions through Pulse(), by their
// own names and types: Pulse().pa_stream_new(...).

#include <pulse/pulseaudio.h>

#include <string>

// Every function of the library the program calls.
#define ONDRIX_PULSE_FUNCTIONS(X)                                                                      \
    X(pa_context_connect) X(pa_context_disconnect) X(pa_context_errno) X(pa_context_get_source_info_list) \
    X(pa_context_get_state) X(pa_context_new) X(pa_context_set_state_callback) X(pa_context_unref)       \
    X(pa_mainloop_free) X(pa_mainloop_get_api) X(pa_mainloop_new) X(pa_mainloop_quit) X(pa_mainloop_run) \
    X(pa_mainloop_set_poll_func) X(pa_operation_get_state) X(pa_operation_unref) X(pa_sample_spec_valid) \
    X(pa_stream_begin_write) X(pa_stream_cancel_write) X(pa_stream_connect_playback)                     \
    X(pa_stream_connect_record) X(pa_stream_cork) X(pa_stream_disconnect) X(pa_stream_drain)             \
    X(pa_stream_drop) X(pa_stream_get_context) X(pa_stream_get_state) X(pa_stream_new) X(pa_stream_peek) \
    X(pa_stream_set_read_callback) X(pa_stream_set_state_callback) X(pa_stream_set_write_callback)      \
    X(pa_stream_unref) X(pa_stream_write) X(pa_strerror) X(pa_threaded_mainloop_free)                    \
    X(pa_threaded_mainloop_get_api) X(pa_threaded_mainloop_lock) X(pa_threaded_mainloop_new)             \
    X(pa_threaded_mainloop_signal) X(pa_threaded_mainloop_start) X(pa_threaded_mainloop_stop)            \
    X(pa_threaded_mainloop_unlock) X(pa_threaded_mainloop_wait)

struct TPulseLibrary {
#define ONDRIX_PULSE_POINTER(Name) decltype(&::Name) Name = nullptr;
    ONDRIX_PULSE_FUNCTIONS(ONDRIX_PULSE_POINTER)
#undef ONDRIX_PULSE_POINTER
};

// Loads the library on the first call (from any thread, once); false when it cannot be
// loaded or lacks a function, with PulseLibraryError saying why. Call before Pulse().
bool PulseLibraryLoaded();
// Why the library could not be loaded; empty while it could.
const std::string& PulseLibraryError();
// The library's functions; only after PulseLibraryLoaded returned true.
const TPulseLibrary& Pulse();

// The error code a device reports when the library cannot be loaded: outside the server's
// own codes (PA_ERR_*), so that WaveInErrorText tells it apart.
inline constexpr int PulseLibraryMissing = 0x10000;

#include "audio/PulseLibrary.h"

#include <dlfcn.h>

namespace {

// The library's soname: the one its development package links programs against.
constexpr const char* LibraryName = "libpulse.so.0";

struct TLoaded {
    TPulseLibrary Functions;
    std::string Error;

    TLoaded()
    {
        // Never unloaded: its threads and callbacks may outlive any one user.
        void* Handle = dlopen(LibraryName, RTLD_NOW | RTLD_LOCAL);
        if (Handle == nullptr) {
            const char* Text = dlerror();
            Error = std::string(LibraryName) + " cannot be loaded: " + (Text ? Text : "unknown error");
            return;
        }
#define ONDRIX_PULSE_RESOLVE(Name)                                                                     \
    if (Error.empty()) {                                                                               \
        Functions.Name = reinterpret_cast<decltype(Functions.Name)>(dlsym(Handle, #Name));             \
        if (Functions.Name == nullptr)                                                                 \
            Error = std::string(LibraryName) + " has no function " #Name;                              \
    }
        ONDRIX_PULSE_FUNCTIONS(ONDRIX_PULSE_RESOLVE)
#undef ONDRIX_PULSE_RESOLVE
        if (!Error.empty())
            Functions = TPulseLibrary();
    }
};

const TLoaded& Loaded()
{
    static const TLoaded Library;  // thread-safe initialisation
    return Library;
}

}  // namespace

bool PulseLibraryLoaded()
{
    return Loaded().Error.empty();
}

const std::string& PulseLibraryError()
{
    return Loaded().Error;
}

const TPulseLibrary& Pulse()
{
    return Loaded().Functions;
}

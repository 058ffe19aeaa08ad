#pragma once

// A bare X server (Xvfb with no window manager) has no WM_PROTOCOLS and
// friends until some client interns them; the framework only looks them up
// and then sets window properties with atom 0, which the server rejects
// fatally when a top-level window opens. Intern them before the framework
// connects, on a connection held for the whole run: closing the last
// connection would reset the server and forget them again.

#include <cstdlib>
#include <dlfcn.h>

struct WindowManagerAtoms
{
    WindowManagerAtoms()
    {
        if (std::getenv ("DISPLAY") == nullptr)
            return;
        void* x11 = dlopen ("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
        if (x11 == nullptr)
            return;
        using OpenDisplay = void* (*) (const char*);
        using InternAtom = unsigned long (*) (void*, const char*, int);
        auto openDisplay = reinterpret_cast<OpenDisplay> (dlsym (x11, "XOpenDisplay"));
        auto internAtom = reinterpret_cast<InternAtom> (dlsym (x11, "XInternAtom"));
        if (openDisplay == nullptr || internAtom == nullptr)
            return;
        display = openDisplay (nullptr);
        if (display == nullptr)
            return;
        for (const char* name : { "WM_PROTOCOLS", "WM_TAKE_FOCUS", "WM_DELETE_WINDOW", "WM_CHANGE_STATE", "WM_STATE" })
            internAtom (display, name, 0);
    }
    void* display = nullptr;
};

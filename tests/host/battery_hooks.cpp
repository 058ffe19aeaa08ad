// Counting replacements of malloc, operator new and pthread_mutex_lock for the
// host battery. They count only on a thread that armed them, so the test's
// own work, the host wrappers outside processBlock and other threads are not
// counted. The hosted plug-in's shared object calls the same process-wide
// functions, so its allocations and locks are seen too.

#include "battery_support.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
 #define TOLVEK_BATTERY_COUNTING 0
#elif defined(__has_feature)
 #if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  #define TOLVEK_BATTERY_COUNTING 0
 #endif
#endif
#ifndef TOLVEK_BATTERY_COUNTING
 #define TOLVEK_BATTERY_COUNTING 1
#endif

namespace
{
// Initial-exec thread locals of the executable: reading them never allocates.
thread_local bool counting = false;
thread_local battery::RealtimeCounts counts;

// TOLVEK_BATTERY_TRACE=1 prints a stack for every counted allocation and lock.
const bool tracing = std::getenv ("TOLVEK_BATTERY_TRACE") != nullptr;

const void* executableBase()
{
    static const void* base = []
    {
        Dl_info info {};
        dladdr (reinterpret_cast<const void*> (&executableBase), &info);
        return info.dli_fbase;
    }();
    return base;
}

// Symbols of a loaded plug-in module, read once with nm (outside any count).
struct ModuleSymbols
{
    struct Symbol
    {
        uintptr_t start, size;
        std::string name;
    };
    std::vector<Symbol> symbols;   // by start
    uintptr_t processBlockStart = 0, processBlockEnd = 0;

    explicit ModuleSymbols (const char* path)
    {
        const std::string command = std::string ("nm -C -S --defined-only '") + path + "' 2>/dev/null";
        if (FILE* pipe = popen (command.c_str(), "r"))
        {
            char line[4096];
            while (std::fgets (line, sizeof (line), pipe) != nullptr)
            {
                unsigned long start = 0, size = 0;
                char kind = 0;
                int used = 0;
                if (std::sscanf (line, "%lx %lx %c %n", &start, &size, &kind, &used) < 3 || (kind != 't' && kind != 'T'))
                    continue;
                std::string name (line + used);
                while (! name.empty() && (name.back() == '\n' || name.back() == '\r'))
                    name.pop_back();
                if (name == "TolvekAudioProcessor::processBlock(juce::AudioBuffer<float>&, juce::MidiBuffer&)")
                    processBlockStart = start, processBlockEnd = start + size;
                symbols.push_back ({ start, size, name });
            }
            pclose (pipe);
        }
        std::sort (symbols.begin(), symbols.end(), [] (const Symbol& a, const Symbol& b) { return a.start < b.start; });
    }

    const char* nameAt (uintptr_t offset) const
    {
        auto it = std::upper_bound (symbols.begin(), symbols.end(), offset, [] (uintptr_t o, const Symbol& s) { return o < s.start; });
        if (it == symbols.begin())
            return "?";
        --it;
        return offset < it->start + it->size ? it->name.c_str() : "?";
    }
};

std::map<std::string, ModuleSymbols>& moduleTable()
{
    static std::map<std::string, ModuleSymbols> modules;
    return modules;
}

const ModuleSymbols& symbolsOf (const char* path)
{
    auto& modules = moduleTable();
    auto it = modules.find (path);
    if (it == modules.end())
        it = modules.emplace (path, ModuleSymbols (path)).first;
    return it->second;
}

enum class Origin
{
    host,          // this executable, the host side with its own copy of JUCE
    wrapper,       // the plug-in's format wrapper, outside Tolvek's processBlock
    tolvek,        // inside TolvekAudioProcessor::processBlock
    keyboardState  // the keyboard state's own lock, taken in processBlock
};

// Where a call to malloc / new / pthread_mutex_lock came from: the module of
// the caller, and for a plug-in module whether Tolvek's processBlock is on
// the stack.
Origin originOf (const void* caller, bool lock, battery::CallSite& site)
{
    Dl_info info {};
    if (dladdr (caller, &info) == 0 || info.dli_fbase == executableBase() || std::strstr (info.dli_fname, "Tolvek") == nullptr)
        return Origin::host;
    const uintptr_t base = reinterpret_cast<uintptr_t> (info.dli_fbase);
    const ModuleSymbols& module = symbolsOf (info.dli_fname);
    site.module = info.dli_fname;
    site.offset = reinterpret_cast<uintptr_t> (caller) - base;
    site.function = module.nameAt (site.offset);

    void* frames[48];
    const int depth = backtrace (frames, 48);
    bool inProcessBlock = false;
    for (int i = 0; i < depth && ! inProcessBlock; ++i)
    {
        const uintptr_t offset = reinterpret_cast<uintptr_t> (frames[i]) - base;
        inProcessBlock = offset >= module.processBlockStart && offset < module.processBlockEnd;
    }
    if (! inProcessBlock)
        return Origin::wrapper;
    if (lock && std::strncmp (site.function, "juce::MidiKeyboardState::", 25) == 0)
        return Origin::keyboardState;
    return Origin::tolvek;
}

void trace (const char* what)
{
    void* frames[24];
    const int depth = backtrace (frames, 24);
    std::fprintf (stderr, "--- %s inside processBlock:\n", what);
    backtrace_symbols_fd (frames, depth, 2);
}

void note (bool lock, const void* caller, const void* mutex)
{
    if (! counting)
        return;
    counting = false;   // the lookups and the trace must not count themselves
    battery::CallSite site;
    site.mutex = mutex;
    switch (originOf (caller, lock, site))
    {
        case Origin::host:
            ++(lock ? counts.hostLocks : counts.hostAllocations);
            break;
        case Origin::wrapper:
            ++(lock ? counts.wrapperLocks : counts.wrapperAllocations);
            if (lock && counts.wrapperLocks <= battery::RealtimeCounts::maxRecorded)
                counts.wrapperLocksSeen[counts.wrapperLocks - 1] = site;
            break;
        case Origin::keyboardState:
            ++counts.keyboardStateLocks;
            break;
        case Origin::tolvek:
        {
            int& count = lock ? counts.tolvekLocks : counts.tolvekAllocations;
            battery::CallSite* recorded = lock ? counts.tolvekLocksSeen : counts.tolvekAllocationsSeen;
            if (count < battery::RealtimeCounts::maxRecorded)
                recorded[count] = site;
            ++count;
            break;
        }
    }
    if (tracing)
        trace (lock ? "lock" : "allocation");
    counting = true;
}
} // namespace

namespace battery
{
bool countingAvailable() { return TOLVEK_BATTERY_COUNTING != 0; }

void beginCounting()
{
    executableBase();
    counts = RealtimeCounts();
    counting = true;
}

RealtimeCounts endCounting()
{
    counting = false;
    return counts;
}

std::string describe (const CallSite& site)
{
    char text[600];
    std::snprintf (text, sizeof (text), "%s in %s+0x%lx (mutex %p)", site.function != nullptr ? site.function : "?",
                   site.module != nullptr ? site.module : "?", (unsigned long) site.offset, site.mutex);
    return text;
}
} // namespace battery

#if TOLVEK_BATTERY_COUNTING
extern "C" void* __libc_malloc (size_t);
extern "C" void* __libc_calloc (size_t, size_t);
extern "C" void* __libc_realloc (void*, size_t);

extern "C" void* malloc (size_t size)
{
    note (false, __builtin_return_address (0), nullptr);
    return __libc_malloc (size);
}
extern "C" void* calloc (size_t count, size_t size)
{
    note (false, __builtin_return_address (0), nullptr);
    return __libc_calloc (count, size);
}
extern "C" void* realloc (void* p, size_t size)
{
    note (false, __builtin_return_address (0), nullptr);
    return __libc_realloc (p, size);
}
void* operator new (size_t size)
{
    note (false, __builtin_return_address (0), nullptr);
    if (void* p = __libc_malloc (size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new[] (size_t size) { return operator new (size); }
void* operator new (size_t size, const std::nothrow_t&) noexcept
{
    note (false, __builtin_return_address (0), nullptr);
    return __libc_malloc (size ? size : 1);
}
void* operator new[] (size_t size, const std::nothrow_t&) noexcept { return operator new (size, std::nothrow); }
void operator delete (void* p) noexcept { std::free (p); }
void operator delete[] (void* p) noexcept { std::free (p); }
void operator delete (void* p, size_t) noexcept { std::free (p); }
void operator delete[] (void* p, size_t) noexcept { std::free (p); }

namespace
{
using LockFunction = int (*) (pthread_mutex_t*);
LockFunction realLock = nullptr;
LockFunction realTryLock = nullptr;

// Resolved at the first call (glibc's dlsym takes its own internal locks,
// not these), and again before main while there is one thread.
void resolveLockFunctions()
{
    realLock = reinterpret_cast<LockFunction> (dlsym (RTLD_NEXT, "pthread_mutex_lock"));
    realTryLock = reinterpret_cast<LockFunction> (dlsym (RTLD_NEXT, "pthread_mutex_trylock"));
}
__attribute__ ((constructor)) void resolveBeforeMain() { resolveLockFunctions(); }
} // namespace

extern "C" int pthread_mutex_lock (pthread_mutex_t* mutex)
{
    note (true, __builtin_return_address (0), mutex);
    if (realLock == nullptr)
        resolveLockFunctions();
    return realLock (mutex);
}
extern "C" int pthread_mutex_trylock (pthread_mutex_t* mutex)
{
    note (true, __builtin_return_address (0), mutex);
    if (realTryLock == nullptr)
        resolveLockFunctions();
    return realTryLock (mutex);
}
#endif

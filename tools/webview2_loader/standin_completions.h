// How the stand-in runtime owes its client completions and pays them: later, through the
// message queue of the thread that asked, as the real runtime does; at once, after a delay,
// or not while the client runs. It watches the client's thread leave COM (the plugin has
// stopped) and then answers, or drops, what it still owes, which the real runtime may also
// do long after the plugin is gone.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <functional>
#include <string>
#include <vector>

namespace standin {

struct Completion {
    std::string what;                          // its name in the record: "environment", "controller", "capture"
    HWND client = nullptr;                     // the host window of the client that asked
    Microsoft::WRL::ComPtr<IUnknown> handler;  // the client's completion handler
    Microsoft::WRL::ComPtr<IUnknown> object;   // what the answer hands over or writes into, if any
    // Makes the answer and calls the handler; returns what the handler returned. May set `object`.
    std::function<HRESULT(Completion&)> answer;
    int browser = 0;  // the stand-in browser that owes it, if one does
    // The stand-in's own timers (a page painting): paid at once whatever the client does, and
    // never recorded.
    bool quiet = false;

    // The ledger's own.
    unsigned long clientSession = 0;
    enum class Fate { Due, Late, Dropped } fate = Fate::Due;
};

template <class Handler>
Handler* handlerOf(Completion& completion) {
    return static_cast<Handler*>(completion.handler.Get());
}

// Pays at the client thread's next message pump, or `delayMs` later.
void owe(Completion completion, DWORD delayMs = 0);
// Pays nothing while the client runs; once it has left, answers late (cue late-completions)
// or drops the completion unanswered.
void oweHeld(Completion completion);

// Records how many completions are held for the stand-in browser `browser` and how many
// references to the objects they write into (a snapshot's stream) the client still holds.
void recordHeld(int browser);

// Takes back the completions held (oweHeld) for the stand-in browser `browser` and the ones
// before it, for whoever owes them to answer otherwise.
std::vector<Completion> takeHeldUpTo(int browser);

// At each request for an environment: the client's thread leaving COM next tells the ledger
// that this client has stopped.
void watchClient();
// Counts the clients that have come and gone: it changes when the client's thread leaves COM.
unsigned long clientSession();

// Completions owed and not yet paid or dropped.
int owedCompletions();

// For a runtime DLL that is being unloaded, on the thread that asked it for everything, once it
// owes nothing: its window and its watch on that thread's COM go with it.
void closeLedger();

}  // namespace standin

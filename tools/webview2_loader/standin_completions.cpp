#include "standin_completions.h"

#include <objbase.h>

#include <algorithm>
#include <deque>
#include <iterator>
#include <map>
#include <vector>

#include "standin_browser.h"
#include "standin_support.h"

extern HINSTANCE runtimeInstance;

namespace standin {
namespace {

constexpr wchar_t kLedgerWindowClass[] = L"StandInWebView2Completions";
constexpr UINT kPay = WM_APP + 0x2A;

struct Ledger {
    HWND window = nullptr;
    std::deque<Completion> due;
    std::map<UINT_PTR, Completion> delayed;  // by timer id
    std::vector<Completion> held;
    UINT_PTR lastTimer = 0;
    unsigned long clientSession = 1;  // a new one each time the client leaves
    bool clientAsked = false;         // this session asked for an environment
};

// Never destroyed: the runtime may hold a client's handlers until the process ends, and
// releasing them from a destructor at exit could call a module already gone. A runtime that is
// unloaded (the Evergreen copy, once it owes nothing) takes only its window down.
Ledger& ledger() {
    static Ledger* const theLedger = new Ledger;
    return *theLedger;
}

ULONG releaseLast(Microsoft::WRL::ComPtr<IUnknown>& reference) {
    IUnknown* object = reference.Detach();
    return object != nullptr ? object->Release() : 0;
}

// Releases what the completion holds, the handler before the object it was given, and records
// how many references each still has: 0 means the client kept none.
void settle(Completion& completion, const std::string& line) {
    completion.answer = nullptr;
    const ULONG handlerLeft = releaseLast(completion.handler);
    const ULONG objectLeft = releaseLast(completion.object);
    record(line + format(" handler-left=%lu object-left=%lu", handlerLeft, objectLeft));
}

void pay(Completion completion) {
    if (completion.quiet) {
        completion.answer(completion);
        return;
    }
    if (completion.fate == Completion::Fate::Dropped) {
        settle(completion, completion.what + " dropped unanswered");
        return;
    }
    const bool late = completion.fate == Completion::Fate::Late || completion.clientSession != ledger().clientSession;
    if (!late && cue("late-completions") && !IsWindow(completion.client)) {
        // The client is tearing down: under this cue the answer comes only once it has gone.
        record(completion.what + " held: the client's window is gone");
        ledger().held.push_back(std::move(completion));
        return;
    }
    const HRESULT returned = completion.answer(completion);
    settle(completion, (late ? "late " : "") + completion.what +
                           format(" answered returned=0x%08lX", static_cast<unsigned long>(returned)));
}

LRESULT CALLBACK ledgerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Ledger& theLedger = ledger();
    try {
        if (message == kPay) {
            if (theLedger.due.empty()) return 0;
            Completion completion = std::move(theLedger.due.front());
            theLedger.due.pop_front();
            pay(std::move(completion));
            return 0;
        }
        if (message == WM_TIMER) {
            KillTimer(window, wParam);
            const auto found = theLedger.delayed.find(wParam);
            if (found == theLedger.delayed.end()) return 0;
            Completion completion = std::move(found->second);
            theLedger.delayed.erase(found);
            pay(std::move(completion));
            return 0;
        }
    } catch (...) {
        record("error while paying a completion");
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool ensureLedgerWindow() {
    Ledger& theLedger = ledger();
    if (theLedger.window != nullptr) return true;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = ledgerWindowProc;
    windowClass.hInstance = runtimeInstance;
    windowClass.lpszClassName = kLedgerWindowClass;
    RegisterClassW(&windowClass);
    theLedger.window =
        CreateWindowExW(0, kLedgerWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, runtimeInstance, nullptr);
    if (theLedger.window == nullptr) record("error no-ledger-window");
    return theLedger.window != nullptr;
}

void postDue(Completion completion) {
    Ledger& theLedger = ledger();
    theLedger.due.push_back(std::move(completion));
    PostMessageW(theLedger.window, kPay, 0, 0);
}

void clientLeft() {
    Ledger& theLedger = ledger();
    if (!theLedger.clientAsked) return;  // a thread leaving COM that never asked us for anything
    theLedger.clientAsked = false;
    ++theLedger.clientSession;
    record(format("client-left live=%d held=%d", liveObjects.load(), static_cast<int>(theLedger.held.size())));
    const bool answerLate = cue("late-completions");
    std::vector<Completion> held;
    held.swap(theLedger.held);
    for (Completion& completion : held) {
        completion.fate = answerLate ? Completion::Fate::Late : Completion::Fate::Dropped;
        postDue(std::move(completion));
    }
}

// Told when the client's thread enters and leaves COM. A static object: it lives as long as
// the runtime, which is never unloaded.
class ClientWatch final : public IInitializeSpy {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, IID_IInitializeSpy)) return E_NOINTERFACE;
        *object = static_cast<IInitializeSpy*>(this);
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE PreInitialize(DWORD, DWORD) override { return S_OK; }
    // What this returns becomes CoInitializeEx's result.
    HRESULT STDMETHODCALLTYPE PostInitialize(HRESULT result, DWORD, DWORD) override { return result; }
    HRESULT STDMETHODCALLTYPE PreUninitialize(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostUninitialize(DWORD apartmentReferencesLeft) override {
        try {
            if (apartmentReferencesLeft == 0) clientLeft();
        } catch (...) {
            record("error while the client left");
        }
        return S_OK;
    }
};

ClientWatch clientWatch;
ULARGE_INTEGER clientWatchCookie{};
bool watching = false;

}  // namespace

void owe(Completion completion, DWORD delayMs) {
    if (!ensureLedgerWindow()) return;
    Ledger& theLedger = ledger();
    completion.clientSession = theLedger.clientSession;
    if (delayMs == 0) {
        postDue(std::move(completion));
        return;
    }
    const UINT_PTR timer = ++theLedger.lastTimer;
    theLedger.delayed.emplace(timer, std::move(completion));
    SetTimer(theLedger.window, timer, delayMs, nullptr);
}

void oweHeld(Completion completion) {
    if (!ensureLedgerWindow()) return;
    Ledger& theLedger = ledger();
    completion.clientSession = theLedger.clientSession;
    record(completion.what + " held");
    theLedger.held.push_back(std::move(completion));
}

void recordHeld(int browser) {
    int count = 0;
    ULONG clientReferences = 0;
    for (Completion& completion : ledger().held) {
        if (completion.browser != browser || !completion.object) continue;
        ++count;
        // The count before this AddRef, less the ledger's own reference.
        completion.object->AddRef();
        clientReferences += completion.object->Release() - 1;
    }
    if (count > 0) record(format("held-captures %d client-stream-refs %lu", count, clientReferences));
}

std::vector<Completion> takeHeldUpTo(int browser) {
    std::vector<Completion>& held = ledger().held;
    const auto taken = std::stable_partition(held.begin(), held.end(), [browser](const Completion& completion) {
        return completion.browser == 0 || completion.browser > browser;
    });
    std::vector<Completion> out(std::make_move_iterator(taken), std::make_move_iterator(held.end()));
    held.erase(taken, held.end());
    return out;
}

unsigned long clientSession() { return ledger().clientSession; }

void watchClient() {
    ledger().clientAsked = true;
    if (watching) return;
    watching = SUCCEEDED(CoRegisterInitializeSpy(&clientWatch, &clientWatchCookie));
    if (!watching) record("error cannot watch the client's thread");
}

void closeLedger() {
    if (watching) CoRevokeInitializeSpy(clientWatchCookie);
    watching = false;
    Ledger& theLedger = ledger();
    if (theLedger.window != nullptr) DestroyWindow(theLedger.window);
    theLedger.window = nullptr;
    UnregisterClassW(kLedgerWindowClass, runtimeInstance);
}

int owedCompletions() {
    const Ledger& theLedger = ledger();
    auto owed = [](const Completion& completion) { return !completion.quiet; };
    // The stand-in's own timers (a page painting for its screencast) owe the client nothing: a
    // runtime they kept loaded would never show a plugin that let go of it cleanly.
    return static_cast<int>(std::count_if(theLedger.due.begin(), theLedger.due.end(), owed) +
                            std::count_if(theLedger.delayed.begin(), theLedger.delayed.end(),
                                          [&](const auto& entry) { return owed(entry.second); }) +
                            theLedger.held.size());
}

}  // namespace standin

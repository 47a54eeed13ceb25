// A completion-handler COM object made from a callable, for the browser's one-method handler
// interfaces (IUnknown plus `HRESULT Invoke(...)` in slot 3). The object starts with one
// reference, which belongs to whoever made it; makeComCallback hands that reference over
// in a ComPtr, so the creator's reference goes when its ComPtr does. Invoke never lets an
// exception out: the browser that calls it cannot take one.
//
// Every such object runs this module's code until it is gone, its final Release included, so
// the module counts them: while one is alive, whoever holds it can still call into us.
#pragma once

#include <windows.h>
#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <functional>
#include <new>
#include <utility>

// Handler objects of this module alive right now.
inline std::atomic<long> liveComCallbacks{0};

template <class Interface, class... Args>
class ComCallback final : public Interface {
public:
    using Function = std::function<HRESULT(Args...)>;

    ComCallback(const IID& interfaceId, Function function)
        : interfaceId_(interfaceId), function_(std::move(function)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID requested, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (IsEqualIID(requested, IID_IUnknown) || IsEqualIID(requested, interfaceId_)) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return references_.fetch_add(1, std::memory_order_relaxed) + 1; }

    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = references_.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (left == 0) delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE Invoke(Args... args) override {
        // The call may let go of the browser's last reference (an event handler that removes
        // its own registration); the object stays until the call is over.
        AddRef();
        HRESULT result = S_OK;
        try {
            if (function_) result = function_(args...);
        } catch (...) {
            result = E_UNEXPECTED;
        }
        Release();
        return result;
    }

private:
    ~ComCallback() = default;  // only Release destroys

    // Counts the object from before its callable exists until after that and what it captured
    // are destroyed (the first member is the last to go), so a count of 0 means no code of
    // this module is left to run for it.
    struct LiveCount {
        LiveCount() { liveComCallbacks.fetch_add(1, std::memory_order_relaxed); }
        ~LiveCount() { liveComCallbacks.fetch_sub(1, std::memory_order_release); }
        LiveCount(const LiveCount&) = delete;
        LiveCount& operator=(const LiveCount&) = delete;
    };

    LiveCount live_;
    std::atomic<ULONG> references_{1};
    const IID interfaceId_;
    Function function_;
};

namespace com_callback_detail {
template <class Interface, class Method>
struct ForMethod;
template <class Interface, class Owner, class... Args>
struct ForMethod<Interface, HRESULT (Owner::*)(Args...)> {
    using Type = ComCallback<Interface, Args...>;
};
}  // namespace com_callback_detail

// The handler object for Interface, with Invoke's parameters taken from the interface.
template <class Interface>
using ComCallbackFor = typename com_callback_detail::ForMethod<Interface, decltype(&Interface::Invoke)>::Type;

// Takes over the one reference a freshly made COM object starts with. ComPtr::Attach is not
// used for this: MinGW-w64's version adds a reference of its own, and the object would leak.
template <class Interface>
Microsoft::WRL::ComPtr<Interface> adoptComReference(Interface* object) {
    Microsoft::WRL::ComPtr<Interface> owner(object);  // adds a reference on every toolchain
    if (object != nullptr) object->Release();
    return owner;
}

// Makes a handler whose Invoke calls `function`. Null if memory ran out.
template <class Interface, class Callable>
Microsoft::WRL::ComPtr<Interface> makeComCallback(const IID& interfaceId, Callable&& function) {
    return adoptComReference<Interface>(new (std::nothrow)
                                            ComCallbackFor<Interface>(interfaceId, std::forward<Callable>(function)));
}

// Our WebView2 declarations at the machine level: a call made through an interface must land
// in the vtable slot the browser fills with that method. The probe object's vtable is a row
// of thunks that each note their own index, so the test sees the slot the compiler actually
// called, whatever the declarations say about themselves.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/com_callback.h"
#include "platform/webview2.h"

namespace {

constexpr int kSlots = 32;

struct SlotProbe {
    const void* const* vtable;
    int calledSlot = -1;
};

// On x64 the caller cleans up and passes `this` first, so a thunk that ignores the rest of
// the arguments is safe to call in place of any method.
template <int Slot>
HRESULT STDMETHODCALLTYPE noteSlot(SlotProbe* self) {
    self->calledSlot = Slot;
    return S_OK;
}

template <int... Slots>
constexpr std::array<const void*, kSlots> makeThunks(std::integer_sequence<int, Slots...>) {
    return {reinterpret_cast<const void*>(&noteSlot<Slots>)...};
}

const std::array<const void*, kSlots> thunks = makeThunks(std::make_integer_sequence<int, kSlots>{});

template <typename Interface, typename Call>
int slotCalledBy(Call call) {
    SlotProbe probe{thunks.data()};
    call(reinterpret_cast<Interface*>(&probe));
    return probe.calledSlot;
}

TEST(WebView2Declarations, CallsLandInTheBrowsersSlotAndInterfaceIdsAreTheBrowsers) {
    EXPECT_EQ(slotCalledBy<ICoreWebView2>([](auto* v) {
                  v->CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG, nullptr, nullptr);
              }),
              30);

    // The byte order of the GUID parts against the published text form.
    wchar_t text[40] = {};
    ASSERT_GT(StringFromGUID2(IID_ICoreWebView2Environment3, text, 40), 0);
    EXPECT_STREQ(text, L"{80A22AE3-BE7C-4CE2-AFE1-5A50056CDEEB}");
}

TEST(ComCallback, AnswersItsOwnInterfacesCountsReferencesAndKeepsExceptionsIn) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    HRESULT seen = S_OK;
    auto handler = makeComCallback<ICoreWebView2CapturePreviewCompletedHandler>(
        IID_ICoreWebView2CapturePreviewCompletedHandler, [token, &seen](HRESULT result) {
            seen = result;
            return S_FALSE;
        });
    token.reset();
    ASSERT_TRUE(handler);
    EXPECT_EQ(handler->Invoke(E_ABORT), S_FALSE);
    EXPECT_EQ(seen, E_ABORT);

    void* object = nullptr;
    EXPECT_EQ(handler->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(handler.Get()));
    static_cast<IUnknown*>(object)->Release();
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(handler->QueryInterface(IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(handler->QueryInterface(IID_IUnknown, nullptr), E_POINTER);

    // One reference, the creator's: an AddRef makes two, its Release one again, the last
    // release frees the callable.
    EXPECT_EQ(handler->AddRef(), 2u);
    EXPECT_EQ(handler->Release(), 1u);
    EXPECT_FALSE(watch.expired());
    handler.Reset();
    EXPECT_TRUE(watch.expired());

    auto throwing = makeComCallback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
        IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
        [](HRESULT, ICoreWebView2Environment*) -> HRESULT { throw std::runtime_error("boom"); });
    EXPECT_EQ(throwing->Invoke(S_OK, nullptr), E_UNEXPECTED);
}

// Stop waits while the browser holds a handler: the count must cover a handler the browser
// still holds after its creator let go, and last until what the handler captured is destroyed
// (that runs this module's code too).
TEST(ComCallback, CountsItselfAliveUntilItAndWhatItCapturedAreGone) {
    const long before = liveComCallbacks.load();
    static int token;
    long countWhileCapturedStateWent = -1;
    std::shared_ptr<int> captured(&token, [&](int*) { countWhileCapturedStateWent = liveComCallbacks.load(); });
    auto handler = makeComCallback<ICoreWebView2CapturePreviewCompletedHandler>(
        IID_ICoreWebView2CapturePreviewCompletedHandler, [captured](HRESULT) { return S_OK; });
    captured.reset();
    EXPECT_EQ(liveComCallbacks.load(), before + 1);

    ICoreWebView2CapturePreviewCompletedHandler* browsersReference = handler.Get();
    browsersReference->AddRef();
    handler.Reset();
    EXPECT_EQ(liveComCallbacks.load(), before + 1);
    browsersReference->Release();
    EXPECT_EQ(liveComCallbacks.load(), before);
    EXPECT_EQ(countWhileCapturedStateWent, before + 1);
}

}  // namespace

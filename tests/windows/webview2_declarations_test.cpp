// Our WebView2 declarations at the machine level: a call made through each interface must
// land in the vtable slot the browser fills with that method. The probe object's vtable is a
// row of thunks that each note their own index, so the test sees the slot the compiler
// actually called, whatever the declarations say about themselves.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <utility>

#include "platform/com_callback.h"
#include "platform/webview2.h"

namespace {

constexpr int kSlots = 40;

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

TEST(WebView2Declarations, CallsLandInTheBrowsersSlots) {
    EXPECT_EQ(slotCalledBy<ICoreWebView2>([](ICoreWebView2* v) { v->Navigate(L"about:blank"); }), 5);
    EXPECT_EQ(slotCalledBy<ICoreWebView2>([](ICoreWebView2* v) {
                  v->CapturePreview(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG, nullptr, nullptr);
              }),
              30);
    EXPECT_EQ(slotCalledBy<ICoreWebView2Controller>([](ICoreWebView2Controller* c) { c->put_IsVisible(TRUE); }), 4);
    EXPECT_EQ(slotCalledBy<ICoreWebView2Controller>([](ICoreWebView2Controller* c) { c->put_Bounds(RECT{}); }), 6);
    EXPECT_EQ(slotCalledBy<ICoreWebView2Controller>([](ICoreWebView2Controller* c) { c->put_ZoomFactor(0.5); }), 8);
    EXPECT_EQ(slotCalledBy<ICoreWebView2Controller>([](ICoreWebView2Controller* c) { c->get_CoreWebView2(nullptr); }),
              25);
    EXPECT_EQ(slotCalledBy<ICoreWebView2CompositionController>([](ICoreWebView2CompositionController* c) {
                  c->SendMouseInput(COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_DOWN,
                                    COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_NONE, 0, POINT{});
              }),
              5);
    EXPECT_EQ(slotCalledBy<ICoreWebView2Environment3>([](ICoreWebView2Environment3* e) {
                  e->CreateCoreWebView2CompositionController(nullptr, nullptr);
              }),
              9);
    EXPECT_EQ(slotCalledBy<ICoreWebView2Environment3>([](ICoreWebView2Environment3* e) {
                  e->QueryInterface(IID_ICoreWebView2Controller, nullptr);
              }),
              0);
    EXPECT_EQ(slotCalledBy<ICoreWebView2Environment3>([](ICoreWebView2Environment3* e) { e->Release(); }), 2);
    EXPECT_EQ(slotCalledBy<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
                  [](auto* h) { h->Invoke(S_OK, nullptr); }),
              3);
    EXPECT_EQ(slotCalledBy<ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler>(
                  [](auto* h) { h->Invoke(S_OK, nullptr); }),
              3);
    EXPECT_EQ(slotCalledBy<ICoreWebView2CapturePreviewCompletedHandler>([](auto* h) { h->Invoke(S_OK); }), 3);
}

TEST(WebView2Declarations, InterfaceIdsAreTheBrowsers) {
    // Spot checks of the byte order of the GUID parts against the published text form.
    wchar_t text[40] = {};
    ASSERT_GT(StringFromGUID2(IID_ICoreWebView2Environment3, text, 40), 0);
    EXPECT_STREQ(text, L"{80A22AE3-BE7C-4CE2-AFE1-5A50056CDEEB}");
    ASSERT_GT(StringFromGUID2(IID_ICoreWebView2CapturePreviewCompletedHandler, text, 40), 0);
    EXPECT_STREQ(text, L"{697E05E9-3D8F-45FA-96F4-8FFE1EDEDAF5}");
    ASSERT_GT(StringFromGUID2(IID_ICoreWebView2Controller, text, 40), 0);
    EXPECT_STREQ(text, L"{4D00C0D1-9434-4EB6-8078-8697A560334F}");
}

using CaptureHandler = ICoreWebView2CapturePreviewCompletedHandler;

TEST(ComCallback, AnswersOnlyItsOwnInterfaceAndIUnknown) {
    auto handler = makeComCallback<CaptureHandler>(IID_ICoreWebView2CapturePreviewCompletedHandler,
                                                   [](HRESULT) { return S_OK; });
    ASSERT_TRUE(handler);
    void* object = nullptr;
    EXPECT_EQ(handler->QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<void*>(handler.Get()));
    static_cast<IUnknown*>(object)->Release();
    EXPECT_EQ(handler->QueryInterface(IID_ICoreWebView2CapturePreviewCompletedHandler, &object), S_OK);
    static_cast<IUnknown*>(object)->Release();
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(handler->QueryInterface(IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, &object),
              E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(handler->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST(ComCallback, CreatorHoldsTheOnlyReferenceAndTheLastReleaseFreesIt) {
    auto token = std::make_shared<int>(0);
    std::weak_ptr<int> watch = token;
    auto handler = makeComCallback<CaptureHandler>(IID_ICoreWebView2CapturePreviewCompletedHandler,
                                                   [token](HRESULT) { return S_OK; });
    token.reset();
    ASSERT_TRUE(handler);
    // One reference, the creator's: an AddRef makes two, its Release one again.
    EXPECT_EQ(handler->AddRef(), 2u);
    EXPECT_EQ(handler->Release(), 1u);
    EXPECT_FALSE(watch.expired());
    handler.Reset();
    EXPECT_TRUE(watch.expired());
}

TEST(ComCallback, InvokeRunsTheCallableAndKeepsExceptionsIn) {
    HRESULT seen = S_OK;
    auto handler = makeComCallback<CaptureHandler>(IID_ICoreWebView2CapturePreviewCompletedHandler,
                                                   [&seen](HRESULT result) {
                                                       seen = result;
                                                       return S_FALSE;
                                                   });
    EXPECT_EQ(handler->Invoke(E_ABORT), S_FALSE);
    EXPECT_EQ(seen, E_ABORT);

    auto throwing = makeComCallback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
        IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
        [](HRESULT, ICoreWebView2Environment*) -> HRESULT { throw std::runtime_error("boom"); });
    EXPECT_EQ(throwing->Invoke(S_OK, nullptr), E_UNEXPECTED);
}

}  // namespace

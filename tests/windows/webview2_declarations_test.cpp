// Our WebView2 declarations at the machine level: a call made through an interface must land
// in the vtable slot the browser fills with that method. The probe object's vtable is a row
// of thunks that each note their own index, so the test sees the slot the compiler actually
// called, whatever the declarations say about themselves.
#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>

#include "platform/com_callback.h"
#include "platform/webview2.h"

namespace {

constexpr int kSlots = 80;

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

std::wstring text(const IID& id) {
    wchar_t buffer[40] = {};
    return StringFromGUID2(id, buffer, 40) > 0 ? buffer : L"";
}

// The slot `call` made through an `Interface` lands in is the browser's `slot`.
#define EXPECT_SLOT(Interface, call, slot) \
    EXPECT_EQ(slotCalledBy<Interface>([&](auto* object) { object->call; }), slot) << #call

// An event's add_ method in the browser's `addSlot`, its remove_ in the one after.
#define EXPECT_EVENT_SLOTS(Interface, event, addSlot)                   \
    do {                                                                \
        EXPECT_SLOT(Interface, add_##event(nullptr, nullptr), addSlot); \
        EXPECT_SLOT(Interface, remove_##event(token), (addSlot) + 1);   \
    } while (false)

TEST(WebView2Declarations, CallsLandInTheBrowsersSlotAndInterfaceIdsAreTheBrowsers) {
    using View = ICoreWebView2;
    using Receiver = ICoreWebView2DevToolsProtocolEventReceiver;
    using DialogArgs = ICoreWebView2ScriptDialogOpeningEventArgs;
    using WindowArgs = ICoreWebView2NewWindowRequestedEventArgs;
    using PermissionArgs = ICoreWebView2PermissionRequestedEventArgs;
    using DownloadArgs = ICoreWebView2DownloadStartingEventArgs;
    const WebView2EventToken token{};
    const auto png = COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG;
    EXPECT_SLOT(View, CapturePreview(png, nullptr, nullptr), 30);
    // The events we listen to: a wrong slot would register our handler for another event, or
    // remove someone else's.
    EXPECT_EVENT_SLOTS(View, NavigationCompleted, 15);
    EXPECT_EVENT_SLOTS(View, ProcessFailed, 25);
    EXPECT_SLOT(ICoreWebView2ProcessFailedEventArgs, get_ProcessFailedKind(nullptr), 3);
    // The page's keyboard and its focus reports go through the DevTools protocol.
    EXPECT_SLOT(View, CallDevToolsProtocolMethod(nullptr, nullptr, nullptr), 36);
    EXPECT_SLOT(View, GetDevToolsProtocolEventReceiver(nullptr, nullptr), 42);
    EXPECT_EVENT_SLOTS(Receiver, DevToolsProtocolEventReceived, 3);
    EXPECT_SLOT(ICoreWebView2DevToolsProtocolEventReceivedEventArgs, get_ParameterObjectAsJson(nullptr), 3);
    // What a page asks of its browser: its dialogs, new windows and permissions. A wrong slot
    // here would leave WebView2's own dialog or window on the pilot's desktop, or answer a
    // question the page never asked.
    EXPECT_SLOT(View, get_Settings(nullptr), 3);
    EXPECT_EVENT_SLOTS(View, ScriptDialogOpening, 21);
    EXPECT_EVENT_SLOTS(View, PermissionRequested, 23);
    EXPECT_EVENT_SLOTS(View, NewWindowRequested, 44);
    EXPECT_SLOT(ICoreWebView2Settings, put_AreDefaultScriptDialogsEnabled(FALSE), 8);
    // What WebView2 would offer on its own: a wrong slot here would turn some other setting off
    // (scripts, the page's messages) and leave the feature on.
    EXPECT_SLOT(ICoreWebView2Settings, put_AreDevToolsEnabled(FALSE), 12);
    EXPECT_SLOT(ICoreWebView2Settings, put_AreDefaultContextMenusEnabled(FALSE), 14);
    EXPECT_SLOT(ICoreWebView2Settings3, put_AreBrowserAcceleratorKeysEnabled(FALSE), 24);
    EXPECT_SLOT(ICoreWebView2Settings4, put_IsPasswordAutosaveEnabled(FALSE), 26);
    EXPECT_SLOT(ICoreWebView2Settings4, put_IsGeneralAutofillEnabled(FALSE), 28);
    EXPECT_SLOT(ICoreWebView2Deferral, Complete(), 3);
    EXPECT_SLOT(DialogArgs, get_Kind(nullptr), 4);
    EXPECT_SLOT(DialogArgs, get_Message(nullptr), 5);
    EXPECT_SLOT(DialogArgs, Accept(), 6);
    EXPECT_SLOT(DialogArgs, get_DefaultText(nullptr), 7);
    EXPECT_SLOT(DialogArgs, put_ResultText(nullptr), 9);
    EXPECT_SLOT(DialogArgs, GetDeferral(nullptr), 10);
    EXPECT_SLOT(WindowArgs, get_Uri(nullptr), 3);
    EXPECT_SLOT(WindowArgs, put_Handled(TRUE), 6);
    EXPECT_SLOT(PermissionArgs, get_PermissionKind(nullptr), 4);
    EXPECT_SLOT(PermissionArgs, put_State(COREWEBVIEW2_PERMISSION_STATE_DENY), 7);
    EXPECT_EVENT_SLOTS(ICoreWebView2_4, DownloadStarting, 75);
    EXPECT_SLOT(DownloadArgs, put_Cancel(TRUE), 5);
    EXPECT_SLOT(DownloadArgs, put_Handled(TRUE), 9);
    // The page scale: a wrong slot would leave the monitor's scale in charge, or shrink the layout.
    using Controller3 = ICoreWebView2Controller3;
    EXPECT_SLOT(Controller3, get_Bounds(nullptr), 5);
    EXPECT_SLOT(Controller3, put_RasterizationScale(2.0), 29);
    EXPECT_SLOT(Controller3, put_ShouldDetectMonitorScaleChanges(FALSE), 31);
    EXPECT_SLOT(Controller3, put_BoundsMode(COREWEBVIEW2_BOUNDS_MODE_USE_RASTERIZATION_SCALE), 35);

    // The byte order of the GUID parts against the published text form.
    const std::pair<const IID*, const wchar_t*> ids[] = {
        {&IID_ICoreWebView2Environment3, L"{80A22AE3-BE7C-4CE2-AFE1-5A50056CDEEB}"},
        {&IID_ICoreWebView2Controller3, L"{F9614724-5D2B-41DC-AEF7-73D62B51543B}"},
        {&IID_ICoreWebView2ProcessFailedEventHandler, L"{79E0AEA4-990B-42D9-AA1D-0FCC2E5BC7F1}"},
        {&IID_ICoreWebView2ProcessFailedEventArgs, L"{8155A9A4-1474-4A86-8CAE-151B0FA6B8CA}"},
        {&IID_ICoreWebView2NavigationCompletedEventHandler, L"{D33A35BF-1C49-4F98-93AB-006E0533FE1C}"},
        {&IID_ICoreWebView2NavigationCompletedEventArgs, L"{30D68B7D-20D9-4752-A9CA-EC8448FBB5C1}"},
        {&IID_ICoreWebView2CallDevToolsProtocolMethodCompletedHandler, L"{5C4889F0-5EF6-4C5A-952C-D8F1B92D0574}"},
        {&IID_ICoreWebView2DevToolsProtocolEventReceiver, L"{B32CA51A-8371-45E9-9317-AF021D080367}"},
        {&IID_ICoreWebView2DevToolsProtocolEventReceivedEventHandler, L"{E2FDA4BE-5456-406C-A261-3D452138362C}"},
        {&IID_ICoreWebView2DevToolsProtocolEventReceivedEventArgs, L"{653C2959-BB3A-4377-8632-B58ADA4E66C4}"},
        {&IID_ICoreWebView2Settings, L"{E562E4F0-D7FA-43AC-8D71-C05150499F00}"},
        {&IID_ICoreWebView2Settings3, L"{FDB5AB74-AF33-4854-84F0-0A631DEB5EBA}"},
        {&IID_ICoreWebView2Settings4, L"{CB56846C-4168-4D53-B04F-03B6D6796FF2}"},
        {&IID_ICoreWebView2Deferral, L"{C10E7F7B-B585-46F0-A623-8BEFBF3E4EE0}"},
        {&IID_ICoreWebView2ScriptDialogOpeningEventHandler, L"{EF381BF9-AFA8-4E37-91C4-8AC48524BDFB}"},
        {&IID_ICoreWebView2ScriptDialogOpeningEventArgs, L"{7390BB70-ABE0-4843-9529-F143B31B03D6}"},
        {&IID_ICoreWebView2NewWindowRequestedEventHandler, L"{D4C185FE-C81C-4989-97AF-2D3FA7AB5651}"},
        {&IID_ICoreWebView2NewWindowRequestedEventArgs, L"{34ACB11C-FC37-4418-9132-F9C21D1EAFB9}"},
        {&IID_ICoreWebView2PermissionRequestedEventHandler, L"{15E1C6A3-C72A-4DF3-91D7-D097FBEC6BFD}"},
        {&IID_ICoreWebView2PermissionRequestedEventArgs, L"{973AE2EF-FF18-4894-8FB2-3C758F046810}"},
        {&IID_ICoreWebView2_4, L"{20D02D59-6DF2-42DC-BD06-F98A694B1302}"},
        {&IID_ICoreWebView2DownloadStartingEventHandler, L"{EFEDC989-C396-41CA-83F7-07F845A55724}"},
        {&IID_ICoreWebView2DownloadStartingEventArgs, L"{E99BBE21-43E9-4544-A732-282764EAFA60}"},
    };
    for (const auto& [id, published] : ids) EXPECT_EQ(text(*id), published);
}

// The browser calls an event handler through slot 3 of its vtable with the sender and the
// arguments, as a C caller would; our handler object must take them there.
TEST(WebView2Declarations, AnEventHandlerTakesTheBrowsersCallInItsThirdSlot) {
    ICoreWebView2* seenSender = nullptr;
    ICoreWebView2ProcessFailedEventArgs* seenArgs = nullptr;
    auto handler = makeComCallback<ICoreWebView2ProcessFailedEventHandler>(
        IID_ICoreWebView2ProcessFailedEventHandler,
        [&](ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args) {
            seenSender = sender;
            seenArgs = args;
            return S_FALSE;
        });
    ASSERT_TRUE(handler);
    using Invoke = HRESULT(STDMETHODCALLTYPE*)(void*, void*, void*);
    const auto* vtable = *reinterpret_cast<void* const* const*>(handler.Get());
    int sender = 0, args = 0;
    EXPECT_EQ(reinterpret_cast<Invoke>(vtable[3])(handler.Get(), &sender, &args), S_FALSE);
    EXPECT_EQ(static_cast<void*>(seenSender), static_cast<void*>(&sender));
    EXPECT_EQ(static_cast<void*>(seenArgs), static_cast<void*>(&args));
}

// How the handler counts its references and lets go of what it captured is the next test's.
TEST(ComCallback, AnswersItsOwnInterfacesAndKeepsExceptionsIn) {
    HRESULT seen = S_OK;
    auto handler = makeComCallback<ICoreWebView2CapturePreviewCompletedHandler>(
        IID_ICoreWebView2CapturePreviewCompletedHandler, [&seen](HRESULT result) {
            seen = result;
            return S_FALSE;
        });
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

// An event handler that removes its own registration lets go of the browser's last reference
// to it while the browser is still calling it: it must live until that call is over.
ICoreWebView2CapturePreviewCompletedHandler* handlerBeingCalled = nullptr;
long aliveAfterItsLastRelease = -1;

TEST(ComCallback, OutlivesTheCallThatLetsGoOfItsLastReference) {
    const long before = liveComCallbacks.load();
    auto handler = makeComCallback<ICoreWebView2CapturePreviewCompletedHandler>(
        IID_ICoreWebView2CapturePreviewCompletedHandler, [](HRESULT) {
            handlerBeingCalled->Release();
            aliveAfterItsLastRelease = liveComCallbacks.load();
            return S_OK;
        });
    handlerBeingCalled = handler.Detach();  // the browser's reference, the only one
    EXPECT_EQ(handlerBeingCalled->Invoke(S_OK), S_OK);
    EXPECT_EQ(aliveAfterItsLastRelease, before + 1);
    EXPECT_EQ(liveComCallbacks.load(), before);
}

}  // namespace

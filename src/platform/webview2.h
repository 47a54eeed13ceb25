// Our own declarations of the WebView2 COM interfaces, enums and loader function that the
// Windows backend touches. No SDK is vendored: the interfaces are written here from the
// published slot tables. The browser calls us through these vtables, so a method in the
// wrong slot crashes the simulator; each interface is therefore generated from one ordered
// method list, and the slot of every method we call is checked at compile time below.
//
// Rules that keep the layout right: single inheritance from IUnknown (or the previous
// interface version), no virtual destructor, no overloads, parameters by value exactly as
// the browser passes them (RECT, POINT and double by value). Methods we never call keep
// their slot with a simplified parameter list; only their position matters.
#pragma once

#include <windows.h>
#include <objidl.h>
#include <unknwn.h>

#include <cstdint>
#include <type_traits>

static_assert(sizeof(void*) == 8, "the WebView2 declarations are for 64-bit modules");

// ---- enums (32-bit, as the browser passes them) ----

enum COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT : std::int32_t {
    COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_PNG = 0,
    COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT_JPEG = 1,
};

enum COREWEBVIEW2_MOUSE_EVENT_KIND : std::int32_t {
    COREWEBVIEW2_MOUSE_EVENT_KIND_MOVE = 0x0200,
    COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_DOWN = 0x0201,
    COREWEBVIEW2_MOUSE_EVENT_KIND_LEFT_BUTTON_UP = 0x0202,
    COREWEBVIEW2_MOUSE_EVENT_KIND_WHEEL = 0x020A,
    COREWEBVIEW2_MOUSE_EVENT_KIND_HORIZONTAL_WHEEL = 0x020E,
    COREWEBVIEW2_MOUSE_EVENT_KIND_LEAVE = 0x02A3,
};

enum COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS : std::int32_t {
    COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_NONE = 0,
    COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS_LEFT_BUTTON = 1,
};

// Which of the browser's processes failed (ProcessFailed). Values as published; later runtimes
// may add kinds, so a value not listed here must be expected too.
enum COREWEBVIEW2_PROCESS_FAILED_KIND : std::int32_t {
    COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED = 0,
    COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED = 1,
    COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE = 2,
    COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED = 3,
    COREWEBVIEW2_PROCESS_FAILED_KIND_UTILITY_PROCESS_EXITED = 4,
    COREWEBVIEW2_PROCESS_FAILED_KIND_SANDBOX_HELPER_PROCESS_EXITED = 5,
    COREWEBVIEW2_PROCESS_FAILED_KIND_GPU_PROCESS_EXITED = 6,
    COREWEBVIEW2_PROCESS_FAILED_KIND_PPAPI_PLUGIN_PROCESS_EXITED = 7,
    COREWEBVIEW2_PROCESS_FAILED_KIND_PPAPI_BROKER_PROCESS_EXITED = 8,
    COREWEBVIEW2_PROCESS_FAILED_KIND_UNKNOWN_PROCESS_EXITED = 9,
};

// What a page's script asks (ScriptDialogOpening): alert, confirm, prompt, and the question
// before the page is left (beforeunload).
enum COREWEBVIEW2_SCRIPT_DIALOG_KIND : std::int32_t {
    COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT = 0,
    COREWEBVIEW2_SCRIPT_DIALOG_KIND_CONFIRM = 1,
    COREWEBVIEW2_SCRIPT_DIALOG_KIND_PROMPT = 2,
    COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD = 3,
};

// What a page asks permission for (PermissionRequested); later runtimes add kinds.
enum COREWEBVIEW2_PERMISSION_KIND : std::int32_t {
    COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION = 0,
    COREWEBVIEW2_PERMISSION_KIND_MICROPHONE = 1,
    COREWEBVIEW2_PERMISSION_KIND_CAMERA = 2,
    COREWEBVIEW2_PERMISSION_KIND_GEOLOCATION = 3,
    COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS = 4,
    COREWEBVIEW2_PERMISSION_KIND_OTHER_SENSORS = 5,
    COREWEBVIEW2_PERMISSION_KIND_CLIPBOARD_READ = 6,
};

enum COREWEBVIEW2_PERMISSION_STATE : std::int32_t {
    COREWEBVIEW2_PERMISSION_STATE_DEFAULT = 0,
    COREWEBVIEW2_PERMISSION_STATE_ALLOW = 1,
    COREWEBVIEW2_PERMISSION_STATE_DENY = 2,
};

// How the controller's bounds are read: raw screen pixels, or logical pixels that the view
// multiplies by its rasterization scale.
enum COREWEBVIEW2_BOUNDS_MODE : std::int32_t {
    COREWEBVIEW2_BOUNDS_MODE_USE_RAW_PIXELS = 0,
    COREWEBVIEW2_BOUNDS_MODE_USE_RASTERIZATION_SCALE = 1,
};
static_assert(sizeof(COREWEBVIEW2_BOUNDS_MODE) == 4);
static_assert(sizeof(COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT) == 4);
static_assert(sizeof(COREWEBVIEW2_SCRIPT_DIALOG_KIND) == 4);
static_assert(sizeof(COREWEBVIEW2_PERMISSION_KIND) == 4);
static_assert(sizeof(COREWEBVIEW2_PERMISSION_STATE) == 4);
static_assert(sizeof(COREWEBVIEW2_PROCESS_FAILED_KIND) == 4);
static_assert(sizeof(COREWEBVIEW2_MOUSE_EVENT_KIND) == 4);
static_assert(sizeof(COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS) == 4);

// The token add_* hands back and remove_* takes by value: one 64-bit integer.
struct WebView2EventToken {
    std::int64_t value;
};
static_assert(sizeof(WebView2EventToken) == 8);

// ---- interface ids ----
//
// Written in the registry form the published tables give, so each can be compared with its
// source character by character; a character out of place fails the build.

constexpr unsigned long hexValue(const char* text, int digits) {
    unsigned long value = 0;
    for (const char* c = text; c < text + digits; ++c) {
        if (!((*c >= '0' && *c <= '9') || (*c >= 'A' && *c <= 'F'))) throw "not an upper-case hex digit";
        value = value * 16 + static_cast<unsigned long>(*c <= '9' ? *c - '0' : *c - 'A' + 10);
    }
    return value;
}

consteval IID interfaceId(const char (&text)[37]) {
    if (text[8] != '-' || text[13] != '-' || text[18] != '-' || text[23] != '-') throw "a dash out of place";
    IID id{hexValue(text, 8),
           static_cast<unsigned short>(hexValue(text + 9, 4)),
           static_cast<unsigned short>(hexValue(text + 14, 4)),
           {}};
    // The last eight bytes: two before the last dash, six after it.
    for (int i = 0; i < 8; ++i) id.Data4[i] = static_cast<unsigned char>(hexValue(text + (i < 2 ? 19 : 20) + 2 * i, 2));
    return id;
}

// Declares IID_<Name>.
#define CV_WEBVIEW2_IID(Name, text) inline constexpr IID IID_##Name = interfaceId(text);

CV_WEBVIEW2_IID(ICoreWebView2, "76ECEACB-0462-4D94-AC83-423A6793775E")
CV_WEBVIEW2_IID(ICoreWebView2Controller, "4D00C0D1-9434-4EB6-8078-8697A560334F")
CV_WEBVIEW2_IID(ICoreWebView2Controller3, "F9614724-5D2B-41DC-AEF7-73D62B51543B")
CV_WEBVIEW2_IID(ICoreWebView2CompositionController, "3DF9B733-B9AE-4A15-86B4-EB9EE9826469")
CV_WEBVIEW2_IID(ICoreWebView2Environment, "B96D755E-0319-4E92-A296-23436F46A1FC")
CV_WEBVIEW2_IID(ICoreWebView2Environment2, "41F3632B-5EF4-404F-AD82-2D606C5A9A21")
CV_WEBVIEW2_IID(ICoreWebView2Environment3, "80A22AE3-BE7C-4CE2-AFE1-5A50056CDEEB")
CV_WEBVIEW2_IID(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler, "4E8A3389-C9D8-4BD2-B6B5-124FEE6CC14D")
CV_WEBVIEW2_IID(ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler,
                "02FAB84B-1428-4FB7-AD45-1B2E64736184")
CV_WEBVIEW2_IID(ICoreWebView2CapturePreviewCompletedHandler, "697E05E9-3D8F-45FA-96F4-8FFE1EDEDAF5")
CV_WEBVIEW2_IID(ICoreWebView2ProcessFailedEventHandler, "79E0AEA4-990B-42D9-AA1D-0FCC2E5BC7F1")
CV_WEBVIEW2_IID(ICoreWebView2ProcessFailedEventArgs, "8155A9A4-1474-4A86-8CAE-151B0FA6B8CA")
CV_WEBVIEW2_IID(ICoreWebView2NavigationCompletedEventHandler, "D33A35BF-1C49-4F98-93AB-006E0533FE1C")
CV_WEBVIEW2_IID(ICoreWebView2NavigationCompletedEventArgs, "30D68B7D-20D9-4752-A9CA-EC8448FBB5C1")
CV_WEBVIEW2_IID(ICoreWebView2CallDevToolsProtocolMethodCompletedHandler, "5C4889F0-5EF6-4C5A-952C-D8F1B92D0574")
CV_WEBVIEW2_IID(ICoreWebView2DevToolsProtocolEventReceiver, "B32CA51A-8371-45E9-9317-AF021D080367")
CV_WEBVIEW2_IID(ICoreWebView2DevToolsProtocolEventReceivedEventHandler, "E2FDA4BE-5456-406C-A261-3D452138362C")
CV_WEBVIEW2_IID(ICoreWebView2DevToolsProtocolEventReceivedEventArgs, "653C2959-BB3A-4377-8632-B58ADA4E66C4")
CV_WEBVIEW2_IID(ICoreWebView2Settings, "E562E4F0-D7FA-43AC-8D71-C05150499F00")
CV_WEBVIEW2_IID(ICoreWebView2Settings2, "EE9A0F68-F46C-4E32-AC23-EF8CAC224D2A")
CV_WEBVIEW2_IID(ICoreWebView2Settings3, "FDB5AB74-AF33-4854-84F0-0A631DEB5EBA")
CV_WEBVIEW2_IID(ICoreWebView2Settings4, "CB56846C-4168-4D53-B04F-03B6D6796FF2")
CV_WEBVIEW2_IID(ICoreWebView2Deferral, "C10E7F7B-B585-46F0-A623-8BEFBF3E4EE0")
CV_WEBVIEW2_IID(ICoreWebView2ScriptDialogOpeningEventHandler, "EF381BF9-AFA8-4E37-91C4-8AC48524BDFB")
CV_WEBVIEW2_IID(ICoreWebView2ScriptDialogOpeningEventArgs, "7390BB70-ABE0-4843-9529-F143B31B03D6")
CV_WEBVIEW2_IID(ICoreWebView2NewWindowRequestedEventHandler, "D4C185FE-C81C-4989-97AF-2D3FA7AB5651")
CV_WEBVIEW2_IID(ICoreWebView2NewWindowRequestedEventArgs, "34ACB11C-FC37-4418-9132-F9C21D1EAFB9")
CV_WEBVIEW2_IID(ICoreWebView2PermissionRequestedEventHandler, "15E1C6A3-C72A-4DF3-91D7-D097FBEC6BFD")
CV_WEBVIEW2_IID(ICoreWebView2PermissionRequestedEventArgs, "973AE2EF-FF18-4894-8FB2-3C758F046810")
CV_WEBVIEW2_IID(ICoreWebView2_4, "20D02D59-6DF2-42DC-BD06-F98A694B1302")
CV_WEBVIEW2_IID(ICoreWebView2DownloadStartingEventHandler, "EFEDC989-C396-41CA-83F7-07F845A55724")
CV_WEBVIEW2_IID(ICoreWebView2DownloadStartingEventArgs, "E99BBE21-43E9-4544-A732-282764EAFA60")

// ---- interface generation ----
//
// CV_WEBVIEW2_INTERFACE(Name, Base, METHODS) declares `struct Name : Base` with the methods
// of METHODS in list order, and `NameSlots`, an enum giving each method's vtable slot
// (continuing after the base's last slot). Since both come from the same list, a method
// moved, added or removed in the list moves the enum, and the static_asserts below fail.

#define CV_WEBVIEW2_DECLARE_METHOD(name, params) virtual HRESULT STDMETHODCALLTYPE name params = 0;
#define CV_WEBVIEW2_SLOT_NAME(name, params) name,
// A virtual destructor or a second base would add or shift slots: each interface is one
// vtable pointer and nothing else.
#define CV_WEBVIEW2_CHECK_SHAPE(Name)             \
    static_assert(sizeof(Name) == sizeof(void*)); \
    static_assert(std::is_abstract_v<Name>);      \
    static_assert(!std::has_virtual_destructor_v<Name>);
#define CV_WEBVIEW2_INTERFACE(Name, Base, METHODS)                                                   \
    struct Name : public Base {                                                                      \
        METHODS(CV_WEBVIEW2_DECLARE_METHOD)                                                          \
    };                                                                                               \
    struct Name##Slots {                                                                             \
        enum : int { cvBeforeFirst = Base##Slots::cvEnd - 1, METHODS(CV_WEBVIEW2_SLOT_NAME) cvEnd }; \
    };                                                                                               \
    CV_WEBVIEW2_CHECK_SHAPE(Name)

// The completion and event handlers we implement: one method, Invoke, after IUnknown's. An
// event's handler is passed the view and the event's arguments.
#define CV_WEBVIEW2_HANDLER(Name, params)                    \
    struct Name : public IUnknown {                          \
        CV_WEBVIEW2_DECLARE_METHOD(Invoke, params)           \
    };                                                       \
    struct Name##Slots {                                     \
        enum : int { Invoke = IUnknownSlots::cvEnd, cvEnd }; \
    };                                                       \
    CV_WEBVIEW2_CHECK_SHAPE(Name)
#define CV_WEBVIEW2_EVENT_HANDLER(Name, Args) CV_WEBVIEW2_HANDLER(Name, (ICoreWebView2 * sender, Args * args))

struct IUnknownSlots {
    enum : int { QueryInterface, AddRef, Release, cvEnd };
};

// An add_/remove_ event pair: two consecutive slots.
#define CV_WEBVIEW2_EVENT(M, event)                                  \
    M(add_##event, (IUnknown * handler, WebView2EventToken * token)) \
    M(remove_##event, (WebView2EventToken token))

struct ICoreWebView2EnvironmentOptions;  // never implemented by us: we pass null
struct ICoreWebView2;
struct ICoreWebView2Environment;
struct ICoreWebView2CompositionController;

CV_WEBVIEW2_HANDLER(ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler,
                    (HRESULT errorCode, ICoreWebView2Environment* environment))

CV_WEBVIEW2_HANDLER(ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler,
                    (HRESULT errorCode, ICoreWebView2CompositionController* controller))

CV_WEBVIEW2_HANDLER(ICoreWebView2CapturePreviewCompletedHandler, (HRESULT errorCode))

#define CV_PROCESS_FAILED_ARGS_METHODS(M) M(get_ProcessFailedKind, (COREWEBVIEW2_PROCESS_FAILED_KIND * kind))
CV_WEBVIEW2_INTERFACE(ICoreWebView2ProcessFailedEventArgs, IUnknown, CV_PROCESS_FAILED_ARGS_METHODS)

CV_WEBVIEW2_EVENT_HANDLER(ICoreWebView2ProcessFailedEventHandler, ICoreWebView2ProcessFailedEventArgs)

#define CV_NAVIGATION_COMPLETED_ARGS_METHODS(M)    \
    M(get_IsSuccess, (BOOL * isSuccess))           \
    M(get_WebErrorStatus, (std::int32_t * status)) \
    M(get_NavigationId, (UINT64 * navigationId))
CV_WEBVIEW2_INTERFACE(ICoreWebView2NavigationCompletedEventArgs, IUnknown, CV_NAVIGATION_COMPLETED_ARGS_METHODS)

// DevTools protocol calls and events. The result and an event's parameters come as JSON text.
CV_WEBVIEW2_HANDLER(ICoreWebView2CallDevToolsProtocolMethodCompletedHandler,
                    (HRESULT errorCode, LPCWSTR returnObjectAsJson))

#define CV_DEVTOOLS_EVENT_ARGS_METHODS(M) M(get_ParameterObjectAsJson, (LPWSTR * parameterObjectAsJson))
CV_WEBVIEW2_INTERFACE(ICoreWebView2DevToolsProtocolEventReceivedEventArgs, IUnknown, CV_DEVTOOLS_EVENT_ARGS_METHODS)

CV_WEBVIEW2_EVENT_HANDLER(ICoreWebView2DevToolsProtocolEventReceivedEventHandler,
                          ICoreWebView2DevToolsProtocolEventReceivedEventArgs)

#define CV_DEVTOOLS_EVENT_RECEIVER_METHODS(M) CV_WEBVIEW2_EVENT(M, DevToolsProtocolEventReceived)
CV_WEBVIEW2_INTERFACE(ICoreWebView2DevToolsProtocolEventReceiver, IUnknown, CV_DEVTOOLS_EVENT_RECEIVER_METHODS)

// The settings of a view, and their later versions (each continuing the slots of the one
// before) up to the fourth's autofill and password saving.
#define CV_SETTINGS_METHODS(M)                              \
    M(get_IsScriptEnabled, (BOOL * enabled))                \
    M(put_IsScriptEnabled, (BOOL enabled))                  \
    M(get_IsWebMessageEnabled, (BOOL * enabled))            \
    M(put_IsWebMessageEnabled, (BOOL enabled))              \
    M(get_AreDefaultScriptDialogsEnabled, (BOOL * enabled)) \
    M(put_AreDefaultScriptDialogsEnabled, (BOOL enabled))   \
    M(get_IsStatusBarEnabled, (BOOL * enabled))             \
    M(put_IsStatusBarEnabled, (BOOL enabled))               \
    M(get_AreDevToolsEnabled, (BOOL * enabled))             \
    M(put_AreDevToolsEnabled, (BOOL enabled))               \
    M(get_AreDefaultContextMenusEnabled, (BOOL * enabled))  \
    M(put_AreDefaultContextMenusEnabled, (BOOL enabled))    \
    M(get_AreHostObjectsAllowed, (BOOL * allowed))          \
    M(put_AreHostObjectsAllowed, (BOOL allowed))            \
    M(get_IsZoomControlEnabled, (BOOL * enabled))           \
    M(put_IsZoomControlEnabled, (BOOL enabled))             \
    M(get_IsBuiltInErrorPageEnabled, (BOOL * enabled))      \
    M(put_IsBuiltInErrorPageEnabled, (BOOL enabled))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Settings, IUnknown, CV_SETTINGS_METHODS)

#define CV_SETTINGS2_METHODS(M)            \
    M(get_UserAgent, (LPWSTR * userAgent)) \
    M(put_UserAgent, (LPCWSTR userAgent))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Settings2, ICoreWebView2Settings, CV_SETTINGS2_METHODS)

#define CV_SETTINGS3_METHODS(M)                               \
    M(get_AreBrowserAcceleratorKeysEnabled, (BOOL * enabled)) \
    M(put_AreBrowserAcceleratorKeysEnabled, (BOOL enabled))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Settings3, ICoreWebView2Settings2, CV_SETTINGS3_METHODS)

#define CV_SETTINGS4_METHODS(M)                        \
    M(get_IsPasswordAutosaveEnabled, (BOOL * enabled)) \
    M(put_IsPasswordAutosaveEnabled, (BOOL enabled))   \
    M(get_IsGeneralAutofillEnabled, (BOOL * enabled))  \
    M(put_IsGeneralAutofillEnabled, (BOOL enabled))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Settings4, ICoreWebView2Settings3, CV_SETTINGS4_METHODS)

// Holds an event's outcome open past the handler's return until Complete.
#define CV_DEFERRAL_METHODS(M) M(Complete, ())
CV_WEBVIEW2_INTERFACE(ICoreWebView2Deferral, IUnknown, CV_DEFERRAL_METHODS)

// A page's dialog: Accept means OK (with ResultText for a prompt); no Accept means Cancel.
// Strings handed out are the caller's to free with CoTaskMemFree.
#define CV_SCRIPT_DIALOG_ARGS_METHODS(M)                  \
    M(get_Uri, (LPWSTR * uri))                            \
    M(get_Kind, (COREWEBVIEW2_SCRIPT_DIALOG_KIND * kind)) \
    M(get_Message, (LPWSTR * message))                    \
    M(Accept, ())                                         \
    M(get_DefaultText, (LPWSTR * defaultText))            \
    M(get_ResultText, (LPWSTR * resultText))              \
    M(put_ResultText, (LPCWSTR resultText))               \
    M(GetDeferral, (ICoreWebView2Deferral * *deferral))
CV_WEBVIEW2_INTERFACE(ICoreWebView2ScriptDialogOpeningEventArgs, IUnknown, CV_SCRIPT_DIALOG_ARGS_METHODS)

CV_WEBVIEW2_EVENT_HANDLER(ICoreWebView2ScriptDialogOpeningEventHandler, ICoreWebView2ScriptDialogOpeningEventArgs)

// window.open or a link to a new window: Handled without a NewWindow means no window at all.
#define CV_NEW_WINDOW_ARGS_METHODS(M)                   \
    M(get_Uri, (LPWSTR * uri))                          \
    M(put_NewWindow, (ICoreWebView2 * newWindow))       \
    M(get_NewWindow, (ICoreWebView2 * *newWindow))      \
    M(put_Handled, (BOOL handled))                      \
    M(get_Handled, (BOOL * handled))                    \
    M(get_IsUserInitiated, (BOOL * isUserInitiated))    \
    M(GetDeferral, (ICoreWebView2Deferral * *deferral)) \
    M(get_WindowFeatures, (IUnknown * *features))
CV_WEBVIEW2_INTERFACE(ICoreWebView2NewWindowRequestedEventArgs, IUnknown, CV_NEW_WINDOW_ARGS_METHODS)

CV_WEBVIEW2_EVENT_HANDLER(ICoreWebView2NewWindowRequestedEventHandler, ICoreWebView2NewWindowRequestedEventArgs)

#define CV_PERMISSION_ARGS_METHODS(M)                            \
    M(get_Uri, (LPWSTR * uri))                                   \
    M(get_PermissionKind, (COREWEBVIEW2_PERMISSION_KIND * kind)) \
    M(get_IsUserInitiated, (BOOL * isUserInitiated))             \
    M(get_State, (COREWEBVIEW2_PERMISSION_STATE * state))        \
    M(put_State, (COREWEBVIEW2_PERMISSION_STATE state))          \
    M(GetDeferral, (ICoreWebView2Deferral * *deferral))
CV_WEBVIEW2_INTERFACE(ICoreWebView2PermissionRequestedEventArgs, IUnknown, CV_PERMISSION_ARGS_METHODS)

CV_WEBVIEW2_EVENT_HANDLER(ICoreWebView2PermissionRequestedEventHandler, ICoreWebView2PermissionRequestedEventArgs)

CV_WEBVIEW2_EVENT_HANDLER(ICoreWebView2NavigationCompletedEventHandler, ICoreWebView2NavigationCompletedEventArgs)

#define CV_WEBVIEW_METHODS(M)                                                                                        \
    M(get_Settings, (ICoreWebView2Settings * *settings))                                                             \
    M(get_Source, (LPWSTR * uri))                                                                                    \
    M(Navigate, (LPCWSTR uri))                                                                                       \
    M(NavigateToString, (LPCWSTR htmlContent))                                                                       \
    CV_WEBVIEW2_EVENT(M, NavigationStarting)                                                                         \
    CV_WEBVIEW2_EVENT(M, ContentLoading)                                                                             \
    CV_WEBVIEW2_EVENT(M, SourceChanged)                                                                              \
    CV_WEBVIEW2_EVENT(M, HistoryChanged)                                                                             \
    CV_WEBVIEW2_EVENT(M, NavigationCompleted)                                                                        \
    CV_WEBVIEW2_EVENT(M, FrameNavigationStarting)                                                                    \
    CV_WEBVIEW2_EVENT(M, FrameNavigationCompleted)                                                                   \
    CV_WEBVIEW2_EVENT(M, ScriptDialogOpening)                                                                        \
    CV_WEBVIEW2_EVENT(M, PermissionRequested)                                                                        \
    CV_WEBVIEW2_EVENT(M, ProcessFailed)                                                                              \
    M(AddScriptToExecuteOnDocumentCreated, (LPCWSTR javaScript, IUnknown * handler))                                 \
    M(RemoveScriptToExecuteOnDocumentCreated, (LPCWSTR id))                                                          \
    M(ExecuteScript, (LPCWSTR javaScript, IUnknown * handler))                                                       \
    M(CapturePreview, (COREWEBVIEW2_CAPTURE_PREVIEW_IMAGE_FORMAT imageFormat, IStream * imageStream,                 \
                       ICoreWebView2CapturePreviewCompletedHandler * handler))                                       \
    M(Reload, ())                                                                                                    \
    M(PostWebMessageAsJson, (LPCWSTR webMessageAsJson))                                                              \
    M(PostWebMessageAsString, (LPCWSTR webMessageAsString))                                                          \
    CV_WEBVIEW2_EVENT(M, WebMessageReceived)                                                                         \
    M(CallDevToolsProtocolMethod, (LPCWSTR methodName, LPCWSTR parametersAsJson,                                     \
                                   ICoreWebView2CallDevToolsProtocolMethodCompletedHandler * handler))               \
    M(get_BrowserProcessId, (UINT32 * value))                                                                        \
    M(get_CanGoBack, (BOOL * canGoBack))                                                                             \
    M(get_CanGoForward, (BOOL * canGoForward))                                                                       \
    M(GoBack, ())                                                                                                    \
    M(GoForward, ())                                                                                                 \
    M(GetDevToolsProtocolEventReceiver, (LPCWSTR eventName, ICoreWebView2DevToolsProtocolEventReceiver * *receiver)) \
    M(Stop, ())                                                                                                      \
    CV_WEBVIEW2_EVENT(M, NewWindowRequested)                                                                         \
    CV_WEBVIEW2_EVENT(M, DocumentTitleChanged)                                                                       \
    M(get_DocumentTitle, (LPWSTR * title))                                                                           \
    M(AddHostObjectToScript, (LPCWSTR name, VARIANT * object))                                                       \
    M(RemoveHostObjectFromScript, (LPCWSTR name))                                                                    \
    M(OpenDevToolsWindow, ())                                                                                        \
    CV_WEBVIEW2_EVENT(M, ContainsFullScreenElementChanged)                                                           \
    M(get_ContainsFullScreenElement, (BOOL * containsFullScreenElement))                                             \
    CV_WEBVIEW2_EVENT(M, WebResourceRequested)                                                                       \
    M(AddWebResourceRequestedFilter, (LPCWSTR uri, std::int32_t resourceContext))                                    \
    M(RemoveWebResourceRequestedFilter, (LPCWSTR uri, std::int32_t resourceContext))                                 \
    CV_WEBVIEW2_EVENT(M, WindowCloseRequested)
CV_WEBVIEW2_INTERFACE(ICoreWebView2, IUnknown, CV_WEBVIEW_METHODS)

// The later versions of the view, each continuing the slots of the one before, up to the
// download event of the fourth.
#define CV_WEBVIEW2_2_METHODS(M)                            \
    CV_WEBVIEW2_EVENT(M, WebResourceResponseReceived)       \
    M(NavigateWithWebResourceRequest, (IUnknown * request)) \
    CV_WEBVIEW2_EVENT(M, DOMContentLoaded)                  \
    M(get_CookieManager, (IUnknown * *cookieManager))       \
    M(get_Environment, (IUnknown * *environment))
CV_WEBVIEW2_INTERFACE(ICoreWebView2_2, ICoreWebView2, CV_WEBVIEW2_2_METHODS)

#define CV_WEBVIEW2_3_METHODS(M)                                                                    \
    M(TrySuspend, (IUnknown * handler))                                                             \
    M(Resume, ())                                                                                   \
    M(get_IsSuspended, (BOOL * isSuspended))                                                        \
    M(SetVirtualHostNameToFolderMapping, (LPCWSTR hostName, LPCWSTR folderPath, std::int32_t kind)) \
    M(ClearVirtualHostNameToFolderMapping, (LPCWSTR hostName))
CV_WEBVIEW2_INTERFACE(ICoreWebView2_3, ICoreWebView2_2, CV_WEBVIEW2_3_METHODS)

#define CV_WEBVIEW2_4_METHODS(M)       \
    CV_WEBVIEW2_EVENT(M, FrameCreated) \
    CV_WEBVIEW2_EVENT(M, DownloadStarting)
CV_WEBVIEW2_INTERFACE(ICoreWebView2_4, ICoreWebView2_3, CV_WEBVIEW2_4_METHODS)

// A download the page started: Cancel stops it, Handled keeps WebView2's download UI away.
#define CV_DOWNLOAD_ARGS_METHODS(M)                   \
    M(get_DownloadOperation, (IUnknown * *operation)) \
    M(get_Cancel, (BOOL * cancel))                    \
    M(put_Cancel, (BOOL cancel))                      \
    M(get_ResultFilePath, (LPWSTR * path))            \
    M(put_ResultFilePath, (LPCWSTR path))             \
    M(get_Handled, (BOOL * handled))                  \
    M(put_Handled, (BOOL handled))                    \
    M(GetDeferral, (ICoreWebView2Deferral * *deferral))
CV_WEBVIEW2_INTERFACE(ICoreWebView2DownloadStartingEventArgs, IUnknown, CV_DOWNLOAD_ARGS_METHODS)

CV_WEBVIEW2_EVENT_HANDLER(ICoreWebView2DownloadStartingEventHandler, ICoreWebView2DownloadStartingEventArgs)

#define CV_CONTROLLER_METHODS(M)                                \
    M(get_IsVisible, (BOOL * isVisible))                        \
    M(put_IsVisible, (BOOL isVisible))                          \
    M(get_Bounds, (RECT * bounds))                              \
    M(put_Bounds, (RECT bounds))                                \
    M(get_ZoomFactor, (double* zoomFactor))                     \
    M(put_ZoomFactor, (double zoomFactor))                      \
    CV_WEBVIEW2_EVENT(M, ZoomFactorChanged)                     \
    M(SetBoundsAndZoomFactor, (RECT bounds, double zoomFactor)) \
    M(MoveFocus, (std::int32_t reason))                         \
    CV_WEBVIEW2_EVENT(M, MoveFocusRequested)                    \
    CV_WEBVIEW2_EVENT(M, GotFocus)                              \
    CV_WEBVIEW2_EVENT(M, LostFocus)                             \
    CV_WEBVIEW2_EVENT(M, AcceleratorKeyPressed)                 \
    M(get_ParentWindow, (HWND * parentWindow))                  \
    M(put_ParentWindow, (HWND parentWindow))                    \
    M(NotifyParentWindowPositionChanged, ())                    \
    M(Close, ())                                                \
    M(get_CoreWebView2, (ICoreWebView2 * *coreWebView2))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Controller, IUnknown, CV_CONTROLLER_METHODS)

// The controller's later versions: the second's background colour (a four-byte struct, taken
// here as its 32 bits) and the third's rasterization scale, which renders the page at more
// device pixels per layout pixel.
#define CV_CONTROLLER2_METHODS(M)                                    \
    M(get_DefaultBackgroundColor, (std::uint32_t * backgroundColor)) \
    M(put_DefaultBackgroundColor, (std::uint32_t backgroundColor))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Controller2, ICoreWebView2Controller, CV_CONTROLLER2_METHODS)

#define CV_CONTROLLER3_METHODS(M)                              \
    M(get_RasterizationScale, (double* scale))                 \
    M(put_RasterizationScale, (double scale))                  \
    M(get_ShouldDetectMonitorScaleChanges, (BOOL * value))     \
    M(put_ShouldDetectMonitorScaleChanges, (BOOL value))       \
    CV_WEBVIEW2_EVENT(M, RasterizationScaleChanged)            \
    M(get_BoundsMode, (COREWEBVIEW2_BOUNDS_MODE * boundsMode)) \
    M(put_BoundsMode, (COREWEBVIEW2_BOUNDS_MODE boundsMode))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Controller3, ICoreWebView2Controller2, CV_CONTROLLER3_METHODS)

#define CV_COMPOSITION_CONTROLLER_METHODS(M)                                                                       \
    M(get_RootVisualTarget, (IUnknown * *target))                                                                  \
    M(put_RootVisualTarget, (IUnknown * target))                                                                   \
    M(SendMouseInput, (COREWEBVIEW2_MOUSE_EVENT_KIND eventKind, COREWEBVIEW2_MOUSE_EVENT_VIRTUAL_KEYS virtualKeys, \
                       UINT32 mouseData, POINT point))                                                             \
    M(SendPointerInput, (std::int32_t eventKind, IUnknown * pointerInfo))                                          \
    M(get_Cursor, (HCURSOR * cursor))                                                                              \
    M(get_SystemCursorId, (UINT32 * systemCursorId))                                                               \
    CV_WEBVIEW2_EVENT(M, CursorChanged)
CV_WEBVIEW2_INTERFACE(ICoreWebView2CompositionController, IUnknown, CV_COMPOSITION_CONTROLLER_METHODS)

#define CV_ENVIRONMENT_METHODS(M)                                                                      \
    M(CreateCoreWebView2Controller, (HWND parentWindow, IUnknown * handler))                           \
    M(CreateWebResourceResponse,                                                                       \
      (IStream * content, int statusCode, LPCWSTR reasonPhrase, LPCWSTR headers, IUnknown** response)) \
    M(get_BrowserVersionString, (LPWSTR * versionInfo))                                                \
    CV_WEBVIEW2_EVENT(M, NewBrowserVersionAvailable)
CV_WEBVIEW2_INTERFACE(ICoreWebView2Environment, IUnknown, CV_ENVIRONMENT_METHODS)

#define CV_ENVIRONMENT2_METHODS(M) \
    M(CreateWebResourceRequest, (LPCWSTR uri, LPCWSTR method, IStream * postData, LPCWSTR headers, IUnknown * *request))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Environment2, ICoreWebView2Environment, CV_ENVIRONMENT2_METHODS)

#define CV_ENVIRONMENT3_METHODS(M)                                                                         \
    M(CreateCoreWebView2CompositionController,                                                             \
      (HWND parentWindow, ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler * handler)) \
    M(CreateCoreWebView2PointerInfo, (IUnknown * *pointerInfo))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Environment3, ICoreWebView2Environment2, CV_ENVIRONMENT3_METHODS)

// ---- slot checks: every method we call, in the slot the browser expects it ----

static_assert(ICoreWebView2Slots::Navigate == 5);
static_assert(ICoreWebView2Slots::add_NavigationStarting == 7);
static_assert(ICoreWebView2Slots::add_NavigationCompleted == 15);
static_assert(ICoreWebView2Slots::remove_NavigationCompleted == 16);
static_assert(ICoreWebView2Slots::add_ProcessFailed == 25);
static_assert(ICoreWebView2Slots::remove_ProcessFailed == 26);
static_assert(ICoreWebView2Slots::CapturePreview == 30);
static_assert(ICoreWebView2Slots::add_WebMessageReceived == 34);
static_assert(ICoreWebView2Slots::CallDevToolsProtocolMethod == 36);
static_assert(ICoreWebView2Slots::GetDevToolsProtocolEventReceiver == 42);
static_assert(ICoreWebView2Slots::get_Settings == 3);
static_assert(ICoreWebView2Slots::add_ScriptDialogOpening == 21);
static_assert(ICoreWebView2Slots::remove_ScriptDialogOpening == 22);
static_assert(ICoreWebView2Slots::add_PermissionRequested == 23);
static_assert(ICoreWebView2Slots::remove_PermissionRequested == 24);
static_assert(ICoreWebView2Slots::Stop == 43);
static_assert(ICoreWebView2Slots::add_NewWindowRequested == 44);
static_assert(ICoreWebView2Slots::remove_NewWindowRequested == 45);
static_assert(ICoreWebView2Slots::get_DocumentTitle == 48);
static_assert(ICoreWebView2Slots::get_ContainsFullScreenElement == 54);
static_assert(ICoreWebView2Slots::remove_WindowCloseRequested == 60);
static_assert(ICoreWebView2SettingsSlots::put_AreDefaultScriptDialogsEnabled == 8);
static_assert(ICoreWebView2SettingsSlots::put_AreDevToolsEnabled == 12);
static_assert(ICoreWebView2SettingsSlots::put_AreDefaultContextMenusEnabled == 14);
static_assert(ICoreWebView2SettingsSlots::put_IsBuiltInErrorPageEnabled == 20);
static_assert(ICoreWebView2Settings2Slots::put_UserAgent == 22);
static_assert(ICoreWebView2Settings3Slots::put_AreBrowserAcceleratorKeysEnabled == 24);
static_assert(ICoreWebView2Settings4Slots::put_IsPasswordAutosaveEnabled == 26);
static_assert(ICoreWebView2Settings4Slots::put_IsGeneralAutofillEnabled == 28);
static_assert(ICoreWebView2_2Slots::get_Environment == 67);
static_assert(ICoreWebView2_3Slots::ClearVirtualHostNameToFolderMapping == 72);
static_assert(ICoreWebView2_4Slots::add_DownloadStarting == 75);
static_assert(ICoreWebView2_4Slots::remove_DownloadStarting == 76);
static_assert(ICoreWebView2DownloadStartingEventArgsSlots::put_Cancel == 5);
static_assert(ICoreWebView2DownloadStartingEventArgsSlots::put_Handled == 9);
static_assert(ICoreWebView2DeferralSlots::Complete == 3);
static_assert(ICoreWebView2ScriptDialogOpeningEventArgsSlots::get_Kind == 4);
static_assert(ICoreWebView2ScriptDialogOpeningEventArgsSlots::get_Message == 5);
static_assert(ICoreWebView2ScriptDialogOpeningEventArgsSlots::Accept == 6);
static_assert(ICoreWebView2ScriptDialogOpeningEventArgsSlots::get_DefaultText == 7);
static_assert(ICoreWebView2ScriptDialogOpeningEventArgsSlots::put_ResultText == 9);
static_assert(ICoreWebView2ScriptDialogOpeningEventArgsSlots::GetDeferral == 10);
static_assert(ICoreWebView2NewWindowRequestedEventArgsSlots::get_Uri == 3);
static_assert(ICoreWebView2NewWindowRequestedEventArgsSlots::put_Handled == 6);
static_assert(ICoreWebView2PermissionRequestedEventArgsSlots::get_PermissionKind == 4);
static_assert(ICoreWebView2PermissionRequestedEventArgsSlots::put_State == 7);
static_assert(ICoreWebView2DevToolsProtocolEventReceiverSlots::add_DevToolsProtocolEventReceived == 3);
static_assert(ICoreWebView2DevToolsProtocolEventReceiverSlots::remove_DevToolsProtocolEventReceived == 4);
static_assert(ICoreWebView2DevToolsProtocolEventReceivedEventArgsSlots::get_ParameterObjectAsJson == 3);
static_assert(ICoreWebView2ControllerSlots::put_IsVisible == 4);
static_assert(ICoreWebView2ControllerSlots::put_Bounds == 6);
static_assert(ICoreWebView2ControllerSlots::put_ZoomFactor == 8);
static_assert(ICoreWebView2ControllerSlots::SetBoundsAndZoomFactor == 11);
static_assert(ICoreWebView2ControllerSlots::get_ParentWindow == 21);
static_assert(ICoreWebView2ControllerSlots::get_CoreWebView2 == 25);
static_assert(ICoreWebView2Controller2Slots::put_DefaultBackgroundColor == 27);
static_assert(ICoreWebView2Controller3Slots::put_RasterizationScale == 29);
static_assert(ICoreWebView2Controller3Slots::put_ShouldDetectMonitorScaleChanges == 31);
static_assert(ICoreWebView2Controller3Slots::remove_RasterizationScaleChanged == 33);
static_assert(ICoreWebView2Controller3Slots::put_BoundsMode == 35);
static_assert(ICoreWebView2CompositionControllerSlots::SendMouseInput == 5);
static_assert(ICoreWebView2CompositionControllerSlots::remove_CursorChanged == 10);
static_assert(ICoreWebView2EnvironmentSlots::remove_NewBrowserVersionAvailable == 7);
static_assert(ICoreWebView2Environment2Slots::CreateWebResourceRequest == 8);
static_assert(ICoreWebView2Environment3Slots::CreateCoreWebView2CompositionController == 9);
static_assert(ICoreWebView2Environment3Slots::CreateCoreWebView2PointerInfo == 10);
static_assert(ICoreWebView2ProcessFailedEventArgsSlots::get_ProcessFailedKind == 3);
// Every handler's Invoke (CV_WEBVIEW2_HANDLER puts it right after IUnknown's three methods).
static_assert(IUnknownSlots::cvEnd == 3);


// ---- the loader ----

// Exported undecorated by WebView2Loader.dll, which the backend loads at run time.
using CreateCoreWebView2EnvironmentWithOptionsFunction = HRESULT(STDAPICALLTYPE*)(
    PCWSTR browserExecutableFolder, PCWSTR userDataFolder, ICoreWebView2EnvironmentOptions* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler);

inline constexpr const char* kCreateEnvironmentExportName = "CreateCoreWebView2EnvironmentWithOptions";
inline constexpr const wchar_t* kWebView2LoaderFileName = L"WebView2Loader.dll";

// ---- the installed runtime's client library ----

// What a loader does when it finds the Evergreen runtime itself (docs/windows.md cites the
// sources): EdgeUpdate's client state key of the stable channel names the runtime's version
// folder in its value "EBWebView", in the 32-bit registry view for a per-machine install and in
// HKEY_CURRENT_USER for a per-user one; the client library lies in that folder at
// EBWebView\x64\EmbeddedBrowserWebView.dll.
inline constexpr const wchar_t* kEvergreenClientStateKey =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
inline constexpr const wchar_t* kEvergreenFolderValue = L"EBWebView";
inline constexpr const wchar_t* kEvergreenClientLibrary = L"EBWebView\\x64\\EmbeddedBrowserWebView.dll";

// How the runtime was found: 0 installed (Evergreen), 1 a fixed version shipped with the app.
enum WEBVIEW2_RUNTIME_TYPE : std::int32_t {
    WEBVIEW2_RUNTIME_TYPE_INSTALLED = 0,
    WEBVIEW2_RUNTIME_TYPE_REDISTRIBUTABLE = 1,
};

// The client library's export that the loader function forwards to: whether to join a browser
// process already running on the same user data folder, how the runtime was found, then the
// loader function's last three arguments.
using CreateWebViewEnvironmentWithOptionsInternalFunction = HRESULT(STDAPICALLTYPE*)(
    bool checkRunningInstance, WEBVIEW2_RUNTIME_TYPE runtimeType, PCWSTR userDataFolder, IUnknown* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* environmentCreatedHandler);
inline constexpr const char* kCreateEnvironmentInternalExportName = "CreateWebViewEnvironmentWithOptionsInternal";

// The library's own word on whether it still runs anything for its callers: S_OK when it may
// be unloaded.
using DllCanUnloadNowFunction = HRESULT(STDAPICALLTYPE*)();
inline constexpr const char* kDllCanUnloadNowExportName = "DllCanUnloadNow";

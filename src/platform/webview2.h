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

inline constexpr IID IID_ICoreWebView2 = {0x76eceacb, 0x0462, 0x4d94, {0xac, 0x83, 0x42, 0x3a, 0x67, 0x93, 0x77, 0x5e}};
inline constexpr IID IID_ICoreWebView2Controller = {
    0x4d00c0d1, 0x9434, 0x4eb6, {0x80, 0x78, 0x86, 0x97, 0xa5, 0x60, 0x33, 0x4f}};
inline constexpr IID IID_ICoreWebView2CompositionController = {
    0x3df9b733, 0xb9ae, 0x4a15, {0x86, 0xb4, 0xeb, 0x9e, 0xe9, 0x82, 0x64, 0x69}};
inline constexpr IID IID_ICoreWebView2Environment = {
    0xb96d755e, 0x0319, 0x4e92, {0xa2, 0x96, 0x23, 0x43, 0x6f, 0x46, 0xa1, 0xfc}};
inline constexpr IID IID_ICoreWebView2Environment2 = {
    0x41f3632b, 0x5ef4, 0x404f, {0xad, 0x82, 0x2d, 0x60, 0x6c, 0x5a, 0x9a, 0x21}};
inline constexpr IID IID_ICoreWebView2Environment3 = {
    0x80a22ae3, 0xbe7c, 0x4ce2, {0xaf, 0xe1, 0x5a, 0x50, 0x05, 0x6c, 0xde, 0xeb}};
inline constexpr IID IID_ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler = {
    0x4e8a3389, 0xc9d8, 0x4bd2, {0xb6, 0xb5, 0x12, 0x4f, 0xee, 0x6c, 0xc1, 0x4d}};
inline constexpr IID IID_ICoreWebView2CreateCoreWebView2CompositionControllerCompletedHandler = {
    0x02fab84b, 0x1428, 0x4fb7, {0xad, 0x45, 0x1b, 0x2e, 0x64, 0x73, 0x61, 0x84}};
inline constexpr IID IID_ICoreWebView2CapturePreviewCompletedHandler = {
    0x697e05e9, 0x3d8f, 0x45fa, {0x96, 0xf4, 0x8f, 0xfe, 0x1e, 0xde, 0xda, 0xf5}};
inline constexpr IID IID_ICoreWebView2ProcessFailedEventHandler = {
    0x79e0aea4, 0x990b, 0x42d9, {0xaa, 0x1d, 0x0f, 0xcc, 0x2e, 0x5b, 0xc7, 0xf1}};
inline constexpr IID IID_ICoreWebView2ProcessFailedEventArgs = {
    0x8155a9a4, 0x1474, 0x4a86, {0x8c, 0xae, 0x15, 0x1b, 0x0f, 0xa6, 0xb8, 0xca}};
inline constexpr IID IID_ICoreWebView2NavigationCompletedEventHandler = {
    0xd33a35bf, 0x1c49, 0x4f98, {0x93, 0xab, 0x00, 0x6e, 0x05, 0x33, 0xfe, 0x1c}};
inline constexpr IID IID_ICoreWebView2NavigationCompletedEventArgs = {
    0x30d68b7d, 0x20d9, 0x4752, {0xa9, 0xca, 0xec, 0x84, 0x48, 0xfb, 0xb5, 0xc1}};
inline constexpr IID IID_ICoreWebView2CallDevToolsProtocolMethodCompletedHandler = {
    0x5c4889f0, 0x5ef6, 0x4c5a, {0x95, 0x2c, 0xd8, 0xf1, 0xb9, 0x2d, 0x05, 0x74}};
inline constexpr IID IID_ICoreWebView2DevToolsProtocolEventReceiver = {
    0xb32ca51a, 0x8371, 0x45e9, {0x93, 0x17, 0xaf, 0x02, 0x1d, 0x08, 0x03, 0x67}};
inline constexpr IID IID_ICoreWebView2DevToolsProtocolEventReceivedEventHandler = {
    0xe2fda4be, 0x5456, 0x406c, {0xa2, 0x61, 0x3d, 0x45, 0x21, 0x38, 0x36, 0x2c}};
inline constexpr IID IID_ICoreWebView2DevToolsProtocolEventReceivedEventArgs = {
    0x653c2959, 0xbb3a, 0x4377, {0x86, 0x32, 0xb5, 0x8a, 0xda, 0x4e, 0x66, 0xc4}};
inline constexpr IID IID_ICoreWebView2Settings = {
    0xe562e4f0, 0xd7fa, 0x43ac, {0x8d, 0x71, 0xc0, 0x51, 0x50, 0x49, 0x9f, 0x00}};
inline constexpr IID IID_ICoreWebView2Deferral = {
    0xc10e7f7b, 0xb585, 0x46f0, {0xa6, 0x23, 0x8b, 0xef, 0xbf, 0x3e, 0x4e, 0xe0}};
inline constexpr IID IID_ICoreWebView2ScriptDialogOpeningEventHandler = {
    0xef381bf9, 0xafa8, 0x4e37, {0x91, 0xc4, 0x8a, 0xc4, 0x85, 0x24, 0xbd, 0xfb}};
inline constexpr IID IID_ICoreWebView2ScriptDialogOpeningEventArgs = {
    0x7390bb70, 0xabe0, 0x4843, {0x95, 0x29, 0xf1, 0x43, 0xb3, 0x1b, 0x03, 0xd6}};
inline constexpr IID IID_ICoreWebView2NewWindowRequestedEventHandler = {
    0xd4c185fe, 0xc81c, 0x4989, {0x97, 0xaf, 0x2d, 0x3f, 0xa7, 0xab, 0x56, 0x51}};
inline constexpr IID IID_ICoreWebView2NewWindowRequestedEventArgs = {
    0x34acb11c, 0xfc37, 0x4418, {0x91, 0x32, 0xf9, 0xc2, 0x1d, 0x1e, 0xaf, 0xb9}};
inline constexpr IID IID_ICoreWebView2PermissionRequestedEventHandler = {
    0x15e1c6a3, 0xc72a, 0x4df3, {0x91, 0xd7, 0xd0, 0x97, 0xfb, 0xec, 0x6b, 0xfd}};
inline constexpr IID IID_ICoreWebView2PermissionRequestedEventArgs = {
    0x973ae2ef, 0xff18, 0x4894, {0x8f, 0xb2, 0x3c, 0x75, 0x8f, 0x04, 0x68, 0x10}};
inline constexpr IID IID_ICoreWebView2_4 = {
    0x20d02d59, 0x6df2, 0x42dc, {0xbd, 0x06, 0xf9, 0x8a, 0x69, 0x4b, 0x13, 0x02}};
inline constexpr IID IID_ICoreWebView2DownloadStartingEventHandler = {
    0xefedc989, 0xc396, 0x41ca, {0x83, 0xf7, 0x07, 0xf8, 0x45, 0xa5, 0x57, 0x24}};
inline constexpr IID IID_ICoreWebView2DownloadStartingEventArgs = {
    0xe99bbe21, 0x43e9, 0x4544, {0xa7, 0x32, 0x28, 0x27, 0x64, 0xea, 0xfa, 0x60}};

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

// The settings of a view: the first of them only, up to the one we set.
#define CV_SETTINGS_METHODS(M)                              \
    M(get_IsScriptEnabled, (BOOL * enabled))                \
    M(put_IsScriptEnabled, (BOOL enabled))                  \
    M(get_IsWebMessageEnabled, (BOOL * enabled))            \
    M(put_IsWebMessageEnabled, (BOOL enabled))              \
    M(get_AreDefaultScriptDialogsEnabled, (BOOL * enabled)) \
    M(put_AreDefaultScriptDialogsEnabled, (BOOL enabled))
CV_WEBVIEW2_INTERFACE(ICoreWebView2Settings, IUnknown, CV_SETTINGS_METHODS)

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

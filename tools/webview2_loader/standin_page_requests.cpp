#include "standin_page_requests.h"

#include <cstring>
#include <utility>

#include "platform/com_callback.h"
#include "standin_browser.h"
#include "standin_support.h"

using Microsoft::WRL::ComPtr;

#if defined(__GNUC__)
#    pragma GCC diagnostic ignored "-Wunused-parameter"
#endif

namespace standin {


namespace {

#define STANDIN_NOT_IMPLEMENTED(name, params) \
    HRESULT STDMETHODCALLTYPE name params override { return E_NOTIMPL; }

// IUnknown for one interface, and the live-object count the unload record reports.
template <class Interface>
class Object : public Interface {
public:
    explicit Object(const IID& id) : id_(id) { ++liveObjects; }
    virtual ~Object() { --liveObjects; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (!IsEqualIID(id, IID_IUnknown) && !IsEqualIID(id, id_)) return E_NOINTERFACE;
        *object = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

private:
    const IID& id_;
    std::atomic<ULONG> references_{1};
};

// A string handed out as the runtime does: the caller frees it with CoTaskMemFree.
HRESULT handOut(const std::string& utf8, LPWSTR* out) {
    if (out == nullptr) return E_POINTER;
    std::wstring text;
    const int size = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    if (size > 1) {
        text.resize(static_cast<std::size_t>(size - 1));
        MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text.data(), size);
    }
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    *out = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*out == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*out, text.c_str(), bytes);
    return S_OK;
}

class Deferral final : public Object<ICoreWebView2Deferral> {
public:
    explicit Deferral(std::shared_ptr<PendingOutcome> outcome)
        : Object(IID_ICoreWebView2Deferral), outcome_(std::move(outcome)) {}
    ~Deferral() override {
        if (!completed_) record("deferral released uncompleted");
    }
    HRESULT STDMETHODCALLTYPE Complete() override {
        if (completed_) {
            record("deferral completed twice");
            return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
        }
        completed_ = true;
        outcome_->deferralCompleted();
        return S_OK;
    }

private:
    std::shared_ptr<PendingOutcome> outcome_;
    bool completed_ = false;
};

HRESULT giveDeferral(const std::shared_ptr<PendingOutcome>& outcome, ICoreWebView2Deferral** deferral) {
    if (deferral == nullptr) return E_POINTER;
    if (outcome->deferred || outcome->settled) {
        record("deferral asked twice or too late");
        return HRESULT_FROM_WIN32(ERROR_INVALID_STATE);
    }
    outcome->deferred = true;
    *deferral = new Deferral(outcome);
    return S_OK;
}

struct DialogArgsBase : Object<ICoreWebView2ScriptDialogOpeningEventArgs> {
    DialogArgsBase() : Object(IID_ICoreWebView2ScriptDialogOpeningEventArgs) {}
    CV_SCRIPT_DIALOG_ARGS_METHODS(STANDIN_NOT_IMPLEMENTED)
};

class DialogArgs final : public DialogArgsBase {
public:
    DialogArgs(std::shared_ptr<DialogAnswer> answer, std::shared_ptr<PendingOutcome> outcome)
        : answer_(std::move(answer)), outcome_(std::move(outcome)) {}
    HRESULT STDMETHODCALLTYPE get_Kind(COREWEBVIEW2_SCRIPT_DIALOG_KIND* kind) override {
        if (kind == nullptr) return E_POINTER;
        *kind = answer_->kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return handOut("https://panel.example/", uri); }
    HRESULT STDMETHODCALLTYPE get_Message(LPWSTR* message) override { return handOut(answer_->message, message); }
    HRESULT STDMETHODCALLTYPE get_DefaultText(LPWSTR* text) override { return handOut(answer_->defaultText, text); }
    HRESULT STDMETHODCALLTYPE get_ResultText(LPWSTR* text) override { return handOut(answer_->resultText, text); }
    HRESULT STDMETHODCALLTYPE put_ResultText(LPCWSTR text) override {
        if (text == nullptr) return E_INVALIDARG;
        answer_->resultText = narrow(text);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Accept() override {
        if (outcome_->settled) record("script-dialog Accept after its answer");
        answer_->accepted = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** deferral) override {
        return giveDeferral(outcome_, deferral);
    }

private:
    std::shared_ptr<DialogAnswer> answer_;
    std::shared_ptr<PendingOutcome> outcome_;
};

struct NewWindowArgsBase : Object<ICoreWebView2NewWindowRequestedEventArgs> {
    NewWindowArgsBase() : Object(IID_ICoreWebView2NewWindowRequestedEventArgs) {}
    CV_NEW_WINDOW_ARGS_METHODS(STANDIN_NOT_IMPLEMENTED)
};

class NewWindowArgs final : public NewWindowArgsBase {
public:
    NewWindowArgs(std::shared_ptr<NewWindowAnswer> answer, std::shared_ptr<PendingOutcome> outcome)
        : answer_(std::move(answer)), outcome_(std::move(outcome)) {}
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return handOut(answer_->uri, uri); }
    HRESULT STDMETHODCALLTYPE put_NewWindow(ICoreWebView2* window) override {
        answer_->windowGiven = window != nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
        answer_->handled = handled != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Handled(BOOL* handled) override {
        if (handled == nullptr) return E_POINTER;
        *handled = answer_->handled ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* initiated) override {
        if (initiated == nullptr) return E_POINTER;
        *initiated = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** deferral) override {
        return giveDeferral(outcome_, deferral);
    }

private:
    std::shared_ptr<NewWindowAnswer> answer_;
    std::shared_ptr<PendingOutcome> outcome_;
};

struct PermissionArgsBase : Object<ICoreWebView2PermissionRequestedEventArgs> {
    PermissionArgsBase() : Object(IID_ICoreWebView2PermissionRequestedEventArgs) {}
    CV_PERMISSION_ARGS_METHODS(STANDIN_NOT_IMPLEMENTED)
};

class PermissionArgs final : public PermissionArgsBase {
public:
    PermissionArgs(std::shared_ptr<PermissionAnswer> answer, std::shared_ptr<PendingOutcome> outcome)
        : answer_(std::move(answer)), outcome_(std::move(outcome)) {}
    HRESULT STDMETHODCALLTYPE get_Uri(LPWSTR* uri) override { return handOut("https://panel.example/", uri); }
    HRESULT STDMETHODCALLTYPE get_PermissionKind(COREWEBVIEW2_PERMISSION_KIND* kind) override {
        if (kind == nullptr) return E_POINTER;
        *kind = answer_->kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_IsUserInitiated(BOOL* initiated) override {
        if (initiated == nullptr) return E_POINTER;
        *initiated = TRUE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_State(COREWEBVIEW2_PERMISSION_STATE* state) override {
        if (state == nullptr) return E_POINTER;
        *state = answer_->state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_State(COREWEBVIEW2_PERMISSION_STATE state) override {
        answer_->state = state;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** deferral) override {
        return giveDeferral(outcome_, deferral);
    }

private:
    std::shared_ptr<PermissionAnswer> answer_;
    std::shared_ptr<PendingOutcome> outcome_;
};

struct DownloadArgsBase : Object<ICoreWebView2DownloadStartingEventArgs> {
    DownloadArgsBase() : Object(IID_ICoreWebView2DownloadStartingEventArgs) {}
    CV_DOWNLOAD_ARGS_METHODS(STANDIN_NOT_IMPLEMENTED)
};

class DownloadArgs final : public DownloadArgsBase {
public:
    DownloadArgs(std::shared_ptr<DownloadAnswer> answer, std::shared_ptr<PendingOutcome> outcome)
        : answer_(std::move(answer)), outcome_(std::move(outcome)) {}
    HRESULT STDMETHODCALLTYPE put_Cancel(BOOL cancel) override {
        answer_->cancel = cancel != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_Handled(BOOL handled) override {
        answer_->handled = handled != FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeferral(ICoreWebView2Deferral** deferral) override {
        return giveDeferral(outcome_, deferral);
    }

private:
    std::shared_ptr<DownloadAnswer> answer_;
    std::shared_ptr<PendingOutcome> outcome_;
};

struct SettingsBase : Object<ICoreWebView2Settings4> {
    SettingsBase() : Object(IID_ICoreWebView2Settings4) {}
    CV_SETTINGS_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_SETTINGS2_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_SETTINGS3_METHODS(STANDIN_NOT_IMPLEMENTED)
    CV_SETTINGS4_METHODS(STANDIN_NOT_IMPLEMENTED)
};

// A setting the plugin turns off, recorded as it is put.
#define STANDIN_RECORDED_SETTING(name)                            \
    HRESULT STDMETHODCALLTYPE put_##name(BOOL enabled) override { \
        record(format("settings " #name "=%d", enabled ? 1 : 0)); \
        return S_OK;                                              \
    }

// All four versions of the settings on one object, as the runtime has them; under the cue
// no-settings3 only the first two, as an older runtime has.
class Settings final : public SettingsBase {
public:
    explicit Settings(std::shared_ptr<bool> defaultDialogs) : defaultDialogs_(std::move(defaultDialogs)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        const bool newer = IsEqualIID(id, IID_ICoreWebView2Settings3) || IsEqualIID(id, IID_ICoreWebView2Settings4);
        if (newer && cue("no-settings3")) {
            if (object != nullptr) *object = nullptr;
            return E_NOINTERFACE;
        }
        const bool older = IsEqualIID(id, IID_ICoreWebView2Settings) || IsEqualIID(id, IID_ICoreWebView2Settings2) ||
                           IsEqualIID(id, IID_ICoreWebView2Settings3);
        return SettingsBase::QueryInterface(older ? IID_ICoreWebView2Settings4 : id, object);
    }
    HRESULT STDMETHODCALLTYPE get_AreDefaultScriptDialogsEnabled(BOOL* enabled) override {
        if (enabled == nullptr) return E_POINTER;
        *enabled = *defaultDialogs_ ? TRUE : FALSE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE put_AreDefaultScriptDialogsEnabled(BOOL enabled) override {
        *defaultDialogs_ = enabled != FALSE;
        record(format("settings AreDefaultScriptDialogsEnabled=%d", enabled ? 1 : 0));
        return S_OK;
    }
    STANDIN_RECORDED_SETTING(AreDevToolsEnabled)
    STANDIN_RECORDED_SETTING(AreDefaultContextMenusEnabled)
    STANDIN_RECORDED_SETTING(AreBrowserAcceleratorKeysEnabled)
    STANDIN_RECORDED_SETTING(IsGeneralAutofillEnabled)
    STANDIN_RECORDED_SETTING(IsPasswordAutosaveEnabled)

private:
    std::shared_ptr<bool> defaultDialogs_;
};

}  // namespace

void PendingOutcome::handlersReturned() {
    if (!deferred && !settled) {
        settled = true;
        settle();
    }
}

void PendingOutcome::deferralCompleted() {
    if (!settled) {
        settled = true;
        settle();
    }
}

ComPtr<ICoreWebView2ScriptDialogOpeningEventArgs> makeDialogArgs(std::shared_ptr<DialogAnswer> answer,
                                                                 std::shared_ptr<PendingOutcome> outcome) {
    return adoptComReference<ICoreWebView2ScriptDialogOpeningEventArgs>(
        new DialogArgs(std::move(answer), std::move(outcome)));
}

ComPtr<ICoreWebView2NewWindowRequestedEventArgs> makeNewWindowArgs(std::shared_ptr<NewWindowAnswer> answer,
                                                                   std::shared_ptr<PendingOutcome> outcome) {
    return adoptComReference<ICoreWebView2NewWindowRequestedEventArgs>(
        new NewWindowArgs(std::move(answer), std::move(outcome)));
}

ComPtr<ICoreWebView2PermissionRequestedEventArgs> makePermissionArgs(std::shared_ptr<PermissionAnswer> answer,
                                                                     std::shared_ptr<PendingOutcome> outcome) {
    return adoptComReference<ICoreWebView2PermissionRequestedEventArgs>(
        new PermissionArgs(std::move(answer), std::move(outcome)));
}

ComPtr<ICoreWebView2DownloadStartingEventArgs> makeDownloadArgs(std::shared_ptr<DownloadAnswer> answer,
                                                                std::shared_ptr<PendingOutcome> outcome) {
    return adoptComReference<ICoreWebView2DownloadStartingEventArgs>(
        new DownloadArgs(std::move(answer), std::move(outcome)));
}

ComPtr<ICoreWebView2Settings> makeSettings(std::shared_ptr<bool> defaultDialogs) {
    return adoptComReference<ICoreWebView2Settings>(new Settings(std::move(defaultDialogs)));
}

const char* dialogKindName(COREWEBVIEW2_SCRIPT_DIALOG_KIND kind) {
    switch (kind) {
    case COREWEBVIEW2_SCRIPT_DIALOG_KIND_ALERT: return "alert";
    case COREWEBVIEW2_SCRIPT_DIALOG_KIND_CONFIRM: return "confirm";
    case COREWEBVIEW2_SCRIPT_DIALOG_KIND_PROMPT: return "prompt";
    case COREWEBVIEW2_SCRIPT_DIALOG_KIND_BEFOREUNLOAD: return "leave";
    default: return "unknown";
    }
}

}  // namespace standin

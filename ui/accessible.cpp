#include "ui/accessible.h"

#include <oleacc.h>

#include <atomic>
#include <memory>
#include <new>
#include <vector>

#include "ui/accessible_tree.h"
#include "ui/window_parameters.h"

namespace quorvane {

static_assert(static_cast<LONG>(AccessibleRole::Alert) == ROLE_SYSTEM_ALERT);
static_assert(static_cast<LONG>(AccessibleRole::Client) == ROLE_SYSTEM_CLIENT);
static_assert(static_cast<LONG>(AccessibleRole::PushButton) == ROLE_SYSTEM_PUSHBUTTON);
static_assert(static_cast<LONG>(AccessibleRole::CheckButton) == ROLE_SYSTEM_CHECKBUTTON);
static_assert(static_cast<LONG>(AccessibleRole::StaticText) == ROLE_SYSTEM_STATICTEXT);
static_assert(static_cast<LONG>(AccessibleRole::ProgressBar) == ROLE_SYSTEM_PROGRESSBAR);
static_assert(kStateUnavailable == STATE_SYSTEM_UNAVAILABLE && kStateFocused == STATE_SYSTEM_FOCUSED &&
              kStateChecked == STATE_SYSTEM_CHECKED && kStateReadOnly == STATE_SYSTEM_READONLY &&
              kStateDefault == STATE_SYSTEM_DEFAULT && kStateInvisible == STATE_SYSTEM_INVISIBLE &&
              kStateFocusable == STATE_SYSTEM_FOCUSABLE);
static_assert(kChildSelf == CHILDID_SELF);
static_assert(static_cast<long>(NavigateDirection::Up) == NAVDIR_UP &&
              static_cast<long>(NavigateDirection::LastChild) == NAVDIR_LASTCHILD);

namespace {

// A reader gets this for an object whose window has gone.
constexpr HRESULT kGone = RPC_E_DISCONNECTED;

HRESULT ReturnText(const wchar_t* text, BSTR* result) {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    if (text == nullptr || *text == L'\0') return S_FALSE;
    *result = SysAllocString(text);
    return *result != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ReturnChild(std::int32_t child, VARIANT* result) {
    result->vt = VT_I4;
    result->lVal = child;
    return S_OK;
}

HRESULT ReturnNothing(VARIANT* result) {
    result->vt = VT_EMPTY;
    return S_FALSE;
}

// Runs the body of one of the object's methods; no exception leaves it for the COM
// frames, which would carry it into the reader's call.
template <typename Body>
HRESULT Guarded(Body body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

}  // namespace

class WindowAccessible final : public IAccessible {
public:
    WindowAccessible(HWND window, const WindowModel& model) : window_(window), model_(&model) {}
    WindowAccessible(const WindowAccessible&) = delete;
    WindowAccessible& operator=(const WindowAccessible&) = delete;

    void Disconnect() noexcept { model_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) noexcept override {
        if (object == nullptr) return E_POINTER;
        if (id == __uuidof(IUnknown) || id == __uuidof(IDispatch) || id == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        const ULONG left = --references_;
        // The last reference, the window's or a reader's, frees the object.
        if (left == 0) {
            const std::unique_ptr<WindowAccessible> last(this);
        }
        return left;
    }

    // IDispatch: readers use the IAccessible methods themselves.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) noexcept override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) noexcept override {
        return E_NOTIMPL;
    }

    // IAccessible. Each call builds the children at most once; what it
    // throws (memory running out) ends as its result, never in the reader's call.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) noexcept override {
        if (parent == nullptr) return E_POINTER;
        *parent = nullptr;
        if (model_ == nullptr) return kGone;
        return AccessibleObjectFromWindow(window_, static_cast<DWORD>(OBJID_WINDOW), __uuidof(IDispatch),
                                          reinterpret_cast<void**>(parent));
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) noexcept override {
        if (count == nullptr) return E_POINTER;
        return Guarded([&] {
            if (model_ == nullptr) return kGone;
            *count = static_cast<long>(Children().size());
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** result) noexcept override {
        if (result == nullptr) return E_POINTER;
        *result = nullptr;
        return OnChild(child, [&](const std::vector<AccessibleItem>&, std::int32_t id) {
            // The children are simple elements of this object.
            return id == kChildSelf ? E_INVALIDARG : S_FALSE;
        });
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) noexcept override {
        return Answer(child, name, [](const AccessibleItem& item) { return item.name.c_str(); }, kWindowTitle);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) noexcept override {
        return Answer(child, value, [](const AccessibleItem& item) { return item.value.c_str(); }, nullptr);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) noexcept override {
        return Answer(child, description, [](const AccessibleItem& item) { return item.description.c_str(); },
                      nullptr);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) noexcept override {
        if (role == nullptr) return E_POINTER;
        return OnChild(child, [&](const std::vector<AccessibleItem>& children, std::int32_t id) {
            const AccessibleRole value = id == kChildSelf ? AccessibleRole::Client : children[id - 1].role;
            return ReturnChild(static_cast<std::int32_t>(value), role);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) noexcept override {
        if (state == nullptr) return E_POINTER;
        return OnChild(child, [&](const std::vector<AccessibleItem>& children, std::int32_t id) {
            const std::uint32_t self = STATE_SYSTEM_FOCUSABLE | (WindowFocused() ? STATE_SYSTEM_FOCUSED : 0);
            return ReturnChild(static_cast<std::int32_t>(id == kChildSelf ? self : children[id - 1].state), state);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) noexcept override {
        return Answer(child, help, [](const AccessibleItem&) { return L""; }, nullptr);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT, long* topic) noexcept override {
        if (file != nullptr) *file = nullptr;
        if (topic != nullptr) *topic = 0;
        return model_ == nullptr ? kGone : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) noexcept override {
        return Answer(child, shortcut, [](const AccessibleItem&) { return L""; }, nullptr);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) noexcept override {
        if (focus == nullptr) return E_POINTER;
        focus->vt = VT_EMPTY;
        return Guarded([&] {
            if (model_ == nullptr) return kGone;
            if (!WindowFocused()) return ReturnNothing(focus);
            return ReturnChild(FocusedChild(*model_), focus);
        });
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) noexcept override {
        if (selection == nullptr) return E_POINTER;
        return model_ == nullptr ? kGone : ReturnNothing(selection);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) noexcept override {
        return Answer(child, action, [](const AccessibleItem& item) { return item.default_action; }, nullptr);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long, VARIANT) noexcept override {
        return model_ == nullptr ? kGone : DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) noexcept override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) return E_POINTER;
        return OnChild(child, [&](const std::vector<AccessibleItem>& children, std::int32_t id) {
            RECT area{};
            if (id == kChildSelf) {
                GetClientRect(window_, &area);
            } else {
                const ClientRect& location = children[id - 1].location;
                area = RECT{location.left, location.top, location.right, location.bottom};
            }
            MapWindowPoints(window_, nullptr, reinterpret_cast<POINT*>(&area), 2);
            *left = area.left;
            *top = area.top;
            *width = area.right - area.left;
            *height = area.bottom - area.top;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) noexcept override {
        if (end == nullptr) return E_POINTER;
        end->vt = VT_EMPTY;
        return OnChild(start, [&](const std::vector<AccessibleItem>& children, std::int32_t id) {
            if (direction < NAVDIR_UP || direction > NAVDIR_LASTCHILD) return E_INVALIDARG;
            const std::int32_t reached = NavigateAccessible(children, id, static_cast<NavigateDirection>(direction));
            return reached == 0 ? S_FALSE : ReturnChild(reached, end);
        });
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) noexcept override {
        if (child == nullptr) return E_POINTER;
        child->vt = VT_EMPTY;
        return Guarded([&] {
            if (model_ == nullptr) return kGone;
            POINT point{x, y};
            RECT client{};
            GetClientRect(window_, &client);
            if (!ScreenToClient(window_, &point) || !PtInRect(&client, point)) return ReturnNothing(child);
            return ReturnChild(AccessibleChildAt(Children(), ClientPoint{point.x, point.y}), child);
        });
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) noexcept override {
        return OnChild(child, [&](const std::vector<AccessibleItem>& children, std::int32_t id) {
            if (id == kChildSelf || children[id - 1].default_action == nullptr) return DISP_E_MEMBERNOTFOUND;
            // Returns at once, as readers expect; the window acts when it takes the message.
            return PostMessageW(window_, WM_ACCESSIBLE_ACTION, static_cast<WPARAM>(id), 0) ? S_OK : E_FAIL;
        });
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) noexcept override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) noexcept override { return E_NOTIMPL; }

private:
    bool WindowFocused() const { return GetFocus() == window_; }
    std::vector<AccessibleItem> Children() const { return AccessibleChildren(*model_, WindowFocused()); }

    // Runs `body` with the children and the id of `child`, once it is known
    // to be the client itself or one of its children while the window lives.
    template <typename Body>
    HRESULT OnChild(const VARIANT& child, Body body) const noexcept {
        return Guarded([&] {
            if (model_ == nullptr) return kGone;
            if (child.vt != VT_I4) return E_INVALIDARG;
            const std::vector<AccessibleItem> children = Children();
            if (child.lVal < CHILDID_SELF || child.lVal > static_cast<LONG>(children.size())) return E_INVALIDARG;
            return body(children, static_cast<std::int32_t>(child.lVal));
        });
    }

    template <typename Property>
    HRESULT Answer(const VARIANT& child, BSTR* result, Property property, const wchar_t* of_self) const noexcept {
        if (result == nullptr) return E_POINTER;
        *result = nullptr;
        return OnChild(child, [&](const std::vector<AccessibleItem>& children, std::int32_t id) {
            return ReturnText(id == kChildSelf ? of_self : property(children[id - 1]), result);
        });
    }

    std::atomic<ULONG> references_{1};
    HWND window_;
    const WindowModel* model_;
};

void ReleaseWindowAccessible(WindowAccessible* object) noexcept { object->Release(); }

UniqueWindowAccessible CreateWindowAccessible(HWND window, const WindowModel& model) {
    return UniqueWindowAccessible(std::make_unique<WindowAccessible>(window, model).release());
}

LRESULT AccessibleObjectResult(WindowAccessible& object, WPARAM wparam) {
    return LresultFromObject(__uuidof(IAccessible), wparam, static_cast<IAccessible*>(&object));
}

void DisconnectWindowAccessible(WindowAccessible& object) { object.Disconnect(); }

void JoinComApartment() {
    // Already joined, or joined to a multi-threaded one by someone else: either serves.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
}

}  // namespace quorvane

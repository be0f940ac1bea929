// Desktop concealment on X11.
//
// The pointer is hidden for the whole screen with the XFixes extension. The
// hiding belongs to this client's own connection to the X server, so the server
// shows the pointer again by itself when the process ends or dies. Panels are
// the top-level windows whose _NET_WM_WINDOW_TYPE is _NET_WM_WINDOW_TYPE_DOCK:
// they are unmapped on hide and mapped again on show. Without a display, or
// when the server lacks XFixes, the affected steps do nothing.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <memory>
#include <vector>

// XESetWireToError; the header's min and max macros would shadow std's.
#include <X11/Xlibint.h>
#undef min
#undef max

#include "platform/platform.h"

namespace zorvak {
namespace {

Bool DropXError(Display*, XErrorEvent*, xError*) { return False; }

// The X errors of this connection (a window that went away meanwhile, a
// missing extension) are dropped before they reach Xlib's error handler. That
// handler is one for the whole process and other libraries change it from
// their own threads (the video player's X11 output resets it to Xlib's
// default, which ends the process), so it is neither relied on nor touched.
void DropErrorsOf(Display* display) {
    for (int code = 1; code < 256; ++code) XESetWireToError(display, code, DropXError);
}

// Sends the requests made in its lifetime to the server before it ends, so
// that their errors are taken off the connection within the call.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display) {}
    ~ErrorTrap() { XSync(display_, False); }
    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

private:
    Display* display_;
};

class X11DesktopChrome final : public DesktopChrome {
public:
    ~X11DesktopChrome() override {
        if (display_ == nullptr) return;
        try {
            SetDesktopChrome(true);
        } catch (...) {
        }
        XCloseDisplay(display_);
    }

    void SetDesktopChrome(bool show) override {
        try {
            if (!Connect()) return;
            ErrorTrap trap(display_);
            if (show) {
                ShowPanels();
                ShowPointer();
            } else {
                HidePanels();
                HidePointer();
            }
        } catch (...) {
        }
    }

private:
    bool Connect() {
        if (display_ != nullptr) return true;
        if (noDisplay_) return false;
        display_ = XOpenDisplay(nullptr);
        if (display_ == nullptr) {
            noDisplay_ = true;  // No display now means none for this process.
            return false;
        }
        DropErrorsOf(display_);
        int eventBase = 0;
        int errorBase = 0;
        hasXfixes_ = XFixesQueryExtension(display_, &eventBase, &errorBase) != 0;
        return true;
    }

    // The pointer: hidden at most once, so one show undoes any number of hides.
    void HidePointer() {
        if (!hasXfixes_ || pointerHidden_) return;
        XFixesHideCursor(display_, DefaultRootWindow(display_));
        pointerHidden_ = true;
    }

    void ShowPointer() {
        if (!hasXfixes_ || !pointerHidden_) return;
        XFixesShowCursor(display_, DefaultRootWindow(display_));
        pointerHidden_ = false;
    }

    void HidePanels() {
        for (Window w : FindDocks()) {
            XWindowAttributes attributes{};
            if (XGetWindowAttributes(display_, w, &attributes) == 0) continue;
            if (attributes.map_state == IsUnmapped) continue;
            XUnmapWindow(display_, w);
            if (std::find(hiddenDocks_.begin(), hiddenDocks_.end(), w) == hiddenDocks_.end()) {
                hiddenDocks_.push_back(w);
            }
        }
    }

    void ShowPanels() {
        for (Window w : hiddenDocks_) XMapWindow(display_, w);
        hiddenDocks_.clear();
    }

    // The dock windows among the root's children and the window manager's
    // client list (a window manager may frame a dock, which then is not a
    // direct child of the root).
    std::vector<Window> FindDocks() {
        Atom typeAtom = XInternAtom(display_, "_NET_WM_WINDOW_TYPE", False);
        Atom dockAtom = XInternAtom(display_, "_NET_WM_WINDOW_TYPE_DOCK", False);
        Atom clientListAtom = XInternAtom(display_, "_NET_CLIENT_LIST", False);
        Window root = DefaultRootWindow(display_);

        std::vector<Window> candidates;
        Window rootReturn = 0;
        Window parentReturn = 0;
        Window* children = nullptr;
        unsigned int count = 0;
        if (XQueryTree(display_, root, &rootReturn, &parentReturn, &children, &count) != 0 &&
            children != nullptr) {
            candidates.assign(children, children + count);
            XFree(children);
        }
        for (unsigned long w : WindowList(root, clientListAtom)) {
            candidates.push_back(static_cast<Window>(w));
        }

        std::vector<Window> docks;
        for (Window w : candidates) {
            for (unsigned long type : WindowList(w, typeAtom, XA_ATOM)) {
                if (type == dockAtom) {
                    if (std::find(docks.begin(), docks.end(), w) == docks.end()) docks.push_back(w);
                    break;
                }
            }
        }
        return docks;
    }

    // A 32-bit list property (XA_WINDOW or XA_ATOM items) of a window.
    std::vector<unsigned long> WindowList(Window w, Atom property, Atom type = XA_WINDOW) {
        Atom actualType = 0;
        int actualFormat = 0;
        unsigned long items = 0;
        unsigned long bytesAfter = 0;
        unsigned char* data = nullptr;
        std::vector<unsigned long> out;
        if (XGetWindowProperty(display_, w, property, 0, 1024, False, type, &actualType,
                               &actualFormat, &items, &bytesAfter, &data) != Success) {
            return out;
        }
        if (data != nullptr) {
            if (actualType == type && actualFormat == 32) {
                // Format-32 items come back as longs whatever the platform's width.
                auto* values = reinterpret_cast<unsigned long*>(data);
                out.assign(values, values + items);
            }
            XFree(data);
        }
        return out;
    }

    Display* display_ = nullptr;
    bool noDisplay_ = false;
    bool hasXfixes_ = false;
    bool pointerHidden_ = false;
    std::vector<Window> hiddenDocks_;
};

}  // namespace

std::unique_ptr<DesktopChrome> CreateDesktopChrome() {
    return std::make_unique<X11DesktopChrome>();
}

}  // namespace zorvak

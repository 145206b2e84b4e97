#include "platform/runtime/os_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/runtime/cp1252.h"

namespace rtl::os {
namespace {

// The calls taken from the X libraries.
struct XApi {
  decltype(&::XOpenDisplay) OpenDisplay = nullptr;
  decltype(&::XCloseDisplay) CloseDisplay = nullptr;
  decltype(&::XDefaultRootWindow) RootOf = nullptr;
  decltype(&::XInternAtom) InternAtom = nullptr;
  decltype(&::XGetWindowProperty) GetWindowProperty = nullptr;
  decltype(&::XQueryTree) QueryTree = nullptr;
  decltype(&::XFree) Free = nullptr;
  decltype(&::XSetErrorHandler) SetErrorHandler = nullptr;
  decltype(&::XSync) Sync = nullptr;
  decltype(&::XKeysymToKeycode) KeysymToKeycode = nullptr;
  // From libXtst; null when it is missing.
  decltype(&::XTestQueryExtension) TestQueryExtension = nullptr;
  decltype(&::XTestFakeKeyEvent) TestFakeKeyEvent = nullptr;
};

template <typename F>
bool Take(void* library, const char* name, F& fn) {
  fn = reinterpret_cast<F>(::dlsym(library, name));
  return fn != nullptr;
}

// Loaded once, on the first call that finds a display named.
const XApi* Api() {
  static std::once_flag once;
  static XApi api;
  static bool loaded = false;
  std::call_once(once, [] {
    void* x11 = ::dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (x11 == nullptr) return;
    loaded = Take(x11, "XOpenDisplay", api.OpenDisplay) && Take(x11, "XCloseDisplay", api.CloseDisplay) &&
             Take(x11, "XDefaultRootWindow", api.RootOf) && Take(x11, "XInternAtom", api.InternAtom) &&
             Take(x11, "XGetWindowProperty", api.GetWindowProperty) && Take(x11, "XQueryTree", api.QueryTree) &&
             Take(x11, "XFree", api.Free) && Take(x11, "XSetErrorHandler", api.SetErrorHandler) &&
             Take(x11, "XSync", api.Sync) && Take(x11, "XKeysymToKeycode", api.KeysymToKeycode);
    if (void* xtst = ::dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL)) {
      if (!Take(xtst, "XTestQueryExtension", api.TestQueryExtension) ||
          !Take(xtst, "XTestFakeKeyEvent", api.TestFakeKeyEvent)) {
        api.TestQueryExtension = nullptr;
        api.TestFakeKeyEvent = nullptr;
      }
    }
  });
  return loaded ? &api : nullptr;
}

bool DisplayNamed() {
  const char* name = std::getenv("DISPLAY");
  return name != nullptr && name[0] != '\0';
}

// X errors (a window id that names no window) are noted, not fatal. The
// handler is the process's while a connection works; one at a time.
std::mutex x_lock;
bool x_error = false;
int NoteError(Display*, XErrorEvent*) {
  x_error = true;
  return 0;
}

// One connection for one call, with errors noted.
class Connection {
public:
  Connection() : lock_(x_lock), api_(DisplayNamed() ? Api() : nullptr) {
    if (api_ == nullptr) return;
    display_ = api_->OpenDisplay(nullptr);
    if (display_ == nullptr) return;
    x_error = false;
    previous_ = api_->SetErrorHandler(NoteError);
  }
  ~Connection() {
    if (display_ == nullptr) return;
    api_->Sync(display_, False);
    api_->SetErrorHandler(previous_);
    api_->CloseDisplay(display_);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  explicit operator bool() const { return display_ != nullptr; }
  const XApi& X() const { return *api_; }
  Display* D() const { return display_; }
  Atom Intern(const char* name) const { return api_->InternAtom(display_, name, False); }
  // Whether an X error came since the last check (the requests are
  // flushed and answered first).
  bool Failed() const {
    api_->Sync(display_, False);
    const bool failed = x_error;
    x_error = false;
    return failed;
  }

  // The whole of a property of the given type (AnyPropertyType for any):
  // its bytes, or for format 32 its values as longs packed in them.
  bool Property(Window w, Atom property, Atom type, std::string& bytes, int& format, unsigned long& items) const {
    Atom actual_type = None;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    const int rc = api_->GetWindowProperty(display_, w, property, 0, 1 << 20, False, type, &actual_type, &format,
                                           &items, &after, &data);
    const bool ok = rc == Success && !Failed() && actual_type != None && data != nullptr;
    if (ok) {
      const size_t unit = format == 32 ? sizeof(long) : static_cast<size_t>(format / 8);
      bytes.assign(reinterpret_cast<const char*>(data), unit * items);
    }
    if (data != nullptr) api_->Free(data);
    return ok;
  }
  std::vector<Window> WindowList(Window w, Atom property) const {
    std::string bytes;
    int format = 0;
    unsigned long items = 0;
    std::vector<Window> windows;
    if (!Property(w, property, XA_WINDOW, bytes, format, items) || format != 32) return windows;
    const long* values = reinterpret_cast<const long*>(bytes.data());
    for (unsigned long i = 0; i < items; ++i) windows.push_back(static_cast<Window>(values[i]));
    return windows;
  }
  std::vector<Window> Children(Window w) const {
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    std::vector<Window> out;
    if (api_->QueryTree(display_, w, &root, &parent, &children, &count) != 0 && !Failed())
      out.assign(children, children + count);
    if (children != nullptr) api_->Free(children);
    return out;
  }

private:
  std::lock_guard<std::mutex> lock_;
  const XApi* api_;
  Display* display_ = nullptr;
  XErrorHandler previous_ = nullptr;
};

// The title of a window as Windows-1252 text; false when it has none.
bool TitleOf(const Connection& c, Window w, std::string& title) {
  std::string bytes;
  int format = 0;
  unsigned long items = 0;
  if (c.Property(w, c.Intern("_NET_WM_NAME"), c.Intern("UTF8_STRING"), bytes, format, items) && format == 8) {
    title = Utf8ToCp1252(bytes);
    return true;
  }
  if (c.Property(w, XA_WM_NAME, XA_STRING, bytes, format, items) && format == 8) {
    title = bytes;  // Latin-1, which Windows-1252 extends
    return true;
  }
  return false;
}

// Windows virtual-key codes as X key symbols; 0 for codes without one.
KeySym KeySymOf(int vk) {
  if (vk >= 'A' && vk <= 'Z') return static_cast<KeySym>('a' + (vk - 'A'));
  if (vk >= '0' && vk <= '9') return static_cast<KeySym>(vk);
  if (vk >= 0x60 && vk <= 0x69) return 0xFFB0 + static_cast<KeySym>(vk - 0x60);  // numeric pad 0..9
  if (vk >= 0x70 && vk <= 0x7B) return 0xFFBE + static_cast<KeySym>(vk - 0x70);  // F1..F12
  switch (vk) {
    case 0x08: return 0xFF08;  // Backspace
    case 0x09: return 0xFF09;  // Tab
    case 0x0D: return 0xFF0D;  // Enter
    case 0x1B: return 0xFF1B;  // Escape
    case 0x20: return 0x0020;  // blank
    case 0x21: return 0xFF55;  // Page Up
    case 0x22: return 0xFF56;  // Page Down
    case 0x23: return 0xFF57;  // End
    case 0x24: return 0xFF50;  // Home
    case 0x25: return 0xFF51;  // Left
    case 0x26: return 0xFF52;  // Up
    case 0x27: return 0xFF53;  // Right
    case 0x28: return 0xFF54;  // Down
    case 0x2D: return 0xFF63;  // Insert
    case 0x2E: return 0xFFFF;  // Delete
    default: return 0;
  }
}

constexpr KeySym kSuperL = 0xFFEB;

}  // namespace

bool DisplayAvailable() {
  Connection c;
  return static_cast<bool>(c);
}

long WindowProcessId(std::uintptr_t window) {
  Connection c;
  if (!c || window == 0) return -1;
  std::string bytes;
  int format = 0;
  unsigned long items = 0;
  if (!c.Property(static_cast<Window>(window), c.Intern("_NET_WM_PID"), XA_CARDINAL, bytes, format, items) ||
      format != 32 || items < 1)
    return -1;
  long pid = 0;
  std::memcpy(&pid, bytes.data(), sizeof pid);
  return pid > 0 ? pid : -1;
}

std::string WindowClassByTitle(const std::string& title) {
  Connection c;
  if (!c) return "";
  const Window root = c.X().RootOf(c.D());
  // The window manager's list of clients, then the root's children and
  // theirs (a window manager puts each client in a frame of its own).
  std::vector<Window> candidates = c.WindowList(root, c.Intern("_NET_CLIENT_LIST"));
  for (Window top : c.Children(root)) {
    candidates.push_back(top);
    for (Window inner : c.Children(top)) candidates.push_back(inner);
  }
  for (Window w : candidates) {
    std::string name;
    if (!TitleOf(c, w, name) || name != title) continue;
    std::string bytes;
    int format = 0;
    unsigned long items = 0;
    if (!c.Property(w, XA_WM_CLASS, XA_STRING, bytes, format, items) || format != 8) continue;
    // "instance\0class\0"
    const size_t end = bytes.find('\0');
    if (end == std::string::npos) continue;
    const std::string cls = bytes.substr(end + 1, bytes.find('\0', end + 1) - end - 1);
    if (!cls.empty()) return cls;
  }
  return "";
}

bool PressWithSystemKey(int vk) {
  const KeySym sym = KeySymOf(vk);
  if (sym == 0) return false;
  Connection c;
  if (!c || c.X().TestFakeKeyEvent == nullptr) return false;
  int event_base = 0, error_base = 0, major = 0, minor = 0;
  if (!c.X().TestQueryExtension(c.D(), &event_base, &error_base, &major, &minor)) return false;
  const KeyCode super = c.X().KeysymToKeycode(c.D(), kSuperL);
  const KeyCode key = c.X().KeysymToKeycode(c.D(), sym);
  if (super == 0 || key == 0) return false;
  bool ok = c.X().TestFakeKeyEvent(c.D(), super, True, CurrentTime) != 0;
  ok = ok && c.X().TestFakeKeyEvent(c.D(), key, True, CurrentTime) != 0;
  ok = ok && c.X().TestFakeKeyEvent(c.D(), key, False, CurrentTime) != 0;
  // The system key goes up whatever happened before.
  ok = c.X().TestFakeKeyEvent(c.D(), super, False, CurrentTime) != 0 && ok;
  return ok && !c.Failed();
}

}  // namespace rtl::os

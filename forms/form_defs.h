// What the stored forms are made of: plain tables of menu items, check
// boxes and handler wiring, and the builders that turn them into Qt
// objects. A form names every component (QObject::objectName) as its
// stored definition does, so that handlers and tests find them by name.
//
// Wiring: a form lists, for each component event, the name of the handler
// it calls ("Button1Click"). The program fills a THandlerTable with its
// handlers by name and connects the form to it; the form itself holds no
// behaviour.
#pragma once

#include <QKeySequence>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QMenu;
class QObject;
class QWidget;

namespace forms {

// Menu item flags as stored.
enum : unsigned {
  kPlain = 0,
  kHidden = 1u << 0,     // Visible and Enabled both off
  kInvisible = 1u << 1,  // Visible off (enabled)
  kDisabled = 1u << 2,   // Enabled off (visible)
  kCheckable = 1u << 3,
  kChecked = 1u << 4 | 1u << 3,
  kSeparator = 1u << 5,
};

struct MenuItemDef {
  const char* name;      // component name, e.g. "Saveas1"
  const char* caption;   // '&' marks the mnemonic
  const char* shortcut;  // portable text ("Ctrl+Z", "F3"), "" for none
  const char* handler;   // handler name, "" for none
  unsigned flags = kPlain;
};

struct MenuDef {
  const char* name;
  const char* caption;
  std::vector<MenuItemDef> items;
};

// One event of one component and the handler it calls.
struct TWiring {
  std::string component;  // object name
  std::string event;      // "OnClick", "OnChange", "OnActivate", ...
  std::string handler;    // handler name
};

using TNotifyHandler = std::function<void()>;
// A close handler answers whether the form may close.
using TCloseHandler = std::function<bool()>;

class THandlerTable {
public:
  void Set(const std::string& name, TNotifyHandler handler) { notify_[name] = std::move(handler); }
  void SetClose(const std::string& name, TCloseHandler handler) { close_[name] = std::move(handler); }
  const TNotifyHandler* Notify(const std::string& name) const;
  const TCloseHandler* Close(const std::string& name) const;

private:
  std::map<std::string, TNotifyHandler> notify_;
  std::map<std::string, TCloseHandler> close_;
};

// Builds a menu with one named QAction per item (separators included) and
// records the wiring of every item that names a handler.
QMenu* BuildMenu(QWidget* parent, const MenuDef& def, std::vector<TWiring>& wiring);

// The component whose event is being handled (several menu items may share
// one handler that tells them apart); nullptr outside a wired event.
QObject* EventSender();

// Connects the click (buttons, list items, up-down arrows), change and
// trigger events of the named children of root to their handlers. Form-level events (the root's own name) are left
// to the form. Returns the handler names the table does not hold.
std::vector<std::string> ConnectChildren(QObject* root, const std::vector<TWiring>& wiring,
                                         const THandlerTable& handlers);

}  // namespace forms

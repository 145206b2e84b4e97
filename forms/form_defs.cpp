#include "forms/form_defs.h"

#include <QAbstractButton>
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTabWidget>

#include "platform/gui/up_down.h"

namespace forms {
namespace {

QObject* g_event_sender = nullptr;

// Calls a handler with its sender recorded for EventSender.
void CallFrom(QObject* sender, const TNotifyHandler& call) {
  QObject* previous = g_event_sender;
  g_event_sender = sender;
  struct Restore {
    QObject* previous;
    ~Restore() { g_event_sender = previous; }
  } restore{previous};
  call();
}

}  // namespace

QObject* EventSender() { return g_event_sender; }

const TNotifyHandler* THandlerTable::Notify(const std::string& name) const {
  auto it = notify_.find(name);
  return it == notify_.end() ? nullptr : &it->second;
}

const TCloseHandler* THandlerTable::Close(const std::string& name) const {
  auto it = close_.find(name);
  return it == close_.end() ? nullptr : &it->second;
}

QMenu* BuildMenu(QWidget* parent, const MenuDef& def, std::vector<TWiring>& wiring) {
  auto* menu = new QMenu(QString::fromUtf8(def.caption), parent);
  menu->setObjectName(QString::fromUtf8(def.name));
  for (const MenuItemDef& item : def.items) {
    QAction* action = (item.flags & kSeparator) ? menu->addSeparator() : menu->addAction(QString::fromUtf8(item.caption));
    action->setObjectName(QString::fromUtf8(item.name));
    if (item.flags & kSeparator) continue;
    if (item.shortcut[0] != '\0') action->setShortcut(QKeySequence(QString::fromLatin1(item.shortcut)));
    if (item.flags & kCheckable) {
      action->setCheckable(true);
      action->setChecked((item.flags & kChecked) == kChecked);
    }
    if (item.flags & (kHidden | kInvisible)) action->setVisible(false);
    if (item.flags & (kHidden | kDisabled)) action->setEnabled(false);
    if (item.handler[0] != '\0') wiring.push_back({item.name, "OnClick", item.handler});
  }
  return menu;
}

std::vector<std::string> ConnectChildren(QObject* root, const std::vector<TWiring>& wiring,
                                         const THandlerTable& handlers) {
  std::vector<std::string> missing;
  const std::string root_name = root->objectName().toStdString();
  for (const TWiring& w : wiring) {
    if (w.component == root_name) continue;
    const TNotifyHandler* handler = handlers.Notify(w.handler);
    QObject* object = root->findChild<QObject*>(QString::fromStdString(w.component));
    if (handler == nullptr || object == nullptr) {
      missing.push_back(w.handler);
      continue;
    }
    const TNotifyHandler call = *handler;
    if (auto* action = qobject_cast<QAction*>(object)) {
      QObject::connect(action, &QAction::triggered, root, [action, call] { CallFrom(action, call); });
    } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
      QObject::connect(button, &QAbstractButton::clicked, root, [button, call] { CallFrom(button, call); });
    } else if (auto* up_down = dynamic_cast<gui::TUpDown*>(object)) {
      up_down->OnClick = [up_down, call](gui::TUDBtnType) { CallFrom(up_down, call); };
    } else if (auto* list = qobject_cast<QListWidget*>(object)) {
      QObject::connect(list, &QListWidget::itemClicked, root, [list, call] { CallFrom(list, call); });
    } else if (auto* edit = qobject_cast<QLineEdit*>(object)) {
      QObject::connect(edit, &QLineEdit::textChanged, root, [call] { call(); });
    } else if (auto* pages = qobject_cast<QTabWidget*>(object)) {
      QObject::connect(pages, &QTabWidget::currentChanged, root, [call] { call(); });
    } else {
      missing.push_back(w.handler);
    }
  }
  return missing;
}

}  // namespace forms

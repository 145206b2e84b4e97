// The control set's private "view changed" message (0xE000, both parameters
// 0): a page or sheet whose look changed tells every control under a parent,
// which repaints.
#pragma once

#include <QWidget>
#include <cstdint>

namespace controls {

inline constexpr std::uint32_t KELM_CHANGEVIEW = 0xE000;

// Sends the message (a gui::TMessageEvent, at once) to every widget under
// parent, depth-first, children before their own children's siblings.
void BroadcastChangeView(QWidget* parent);

}  // namespace controls

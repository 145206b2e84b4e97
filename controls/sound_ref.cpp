#include "controls/sound_ref.h"

namespace controls {

class TSoundRef::TWatcher : public rtl::TComponent {
public:
  TWatcher() : rtl::TComponent(nullptr) {}
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override {
    rtl::TComponent::Notification(component, operation);
    if (operation == rtl::opRemove && component == sound) sound = nullptr;
  }
  TKelmCustomSound* sound = nullptr;
};

TSoundRef::TSoundRef() : watcher_(std::make_unique<TWatcher>()) {}
TSoundRef::~TSoundRef() = default;

TKelmCustomSound* TSoundRef::Get() const { return watcher_->sound; }

void TSoundRef::Set(TKelmCustomSound* sound) {
  if (watcher_->sound == sound) return;
  if (watcher_->sound) watcher_->RemoveFreeNotification(watcher_->sound);
  watcher_->sound = sound;
  if (sound) watcher_->FreeNotification(sound);
}

}  // namespace controls

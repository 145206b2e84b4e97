// A reference to a sound component that becomes null when the component is
// destroyed (through the components' free notification).
#pragma once

#include <memory>

#include "controls/wave_sound.h"

namespace controls {

class TSoundRef {
public:
  TSoundRef();
  ~TSoundRef();
  TSoundRef(const TSoundRef&) = delete;
  TSoundRef& operator=(const TSoundRef&) = delete;

  TKelmCustomSound* Get() const;
  void Set(TKelmCustomSound* sound);
  // Set and holding something to play.
  bool Playable() const { return Get() && !Get()->Empty(); }

private:
  class TWatcher;
  std::unique_ptr<TWatcher> watcher_;
};

}  // namespace controls

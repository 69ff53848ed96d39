#include "platform/EngineDialogs.h"

namespace platform {

namespace {
TEngineDialogs*& Registered() {
  static TEngineDialogs* dialogs = nullptr;
  return dialogs;
}
}  // namespace

TEngineDialogs* SetEngineDialogs(TEngineDialogs* dialogs) {
  TEngineDialogs* old = Registered();
  Registered() = dialogs;
  return old;
}

TEngineDialogs* EngineDialogs() { return Registered(); }

}  // namespace platform

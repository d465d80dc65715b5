#include "splash/splash_layout.h"

#include <cstdio>

WindowOrigin centredOrigin(int screenWidth, int screenHeight, int windowWidth, int windowHeight) {
  // C++ division truncates toward zero, as the placement rule wants.
  return {(screenWidth - windowWidth) / 2, (screenHeight - windowHeight) / 2};
}

SplashBitmapNames bitmapNamesFor(const StatusSnapshot& shown) {
  SplashBitmapNames names;
  // The snapshot's texts are terminated within their buffers, so these fit;
  // snprintf keeps even a broken one inside the 20 bytes.
  std::snprintf(names.progress, sizeof names.progress, "PROGRESS_%.*s",
                static_cast<int>(sizeof shown.progressText), shown.progressText);
  std::snprintf(names.step, sizeof names.step, "STEP_%.*s", static_cast<int>(sizeof shown.stepName),
                shown.stepName);
  return names;
}

int splashShowCommand(int showCommand) {
  // The SW_ values of the window system.
  enum { kShowNormal = 1, kShowMinimized = 2, kShowMaximized = 3, kShowNoActivate = 4, kMinimize = 6,
         kShowMinNoActive = 7, kShowDefault = 10, kForceMinimize = 11 };
  switch (showCommand) {
    case kShowMaximized:
    case kShowDefault:
      return kShowNormal;
    case kShowMinimized:
    case kMinimize:
    case kShowMinNoActive:
    case kForceMinimize:
      return kShowNoActivate;
    default:
      return showCommand;
  }
}

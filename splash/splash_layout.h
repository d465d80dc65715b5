#pragma once
// Where the splash window goes and what it paints. Pure: no window-system
// calls, so the geometry and the bitmap names are tested without a window.

#include "splash/status_model.h"

// The window, and with no border its client area too.
constexpr int kSplashWidth = 420;
constexpr int kSplashHeight = 300;

// The three layers of the picture, painted in this order at x = 0, each at
// its bitmap's own size: the picture "SPLASH" (420 x 270) copied at the top,
// the progress bar (420 x 30) copied below it, and the step label (420 x 24)
// OR-ed over the bar's lowest 24 rows.
constexpr int kPictureTop = 0;
constexpr int kProgressTop = 270;
constexpr int kStepTop = 276;

// The show command for the splash window's first ShowWindow, from the one
// the launcher was started with (a shortcut's "Run" setting): the window is
// always shown at its own size. Maximized (3) and SW_SHOWDEFAULT (10) become
// SW_SHOWNORMAL (1): a borderless window would fill the screen. The minimize
// values (2, 6, 7, 11) become SW_SHOWNOACTIVATE (4): a tool window has no
// taskbar button to restore it from. SW_HIDE and the rest stay as given.
int splashShowCommand(int showCommand);

struct WindowOrigin {
  int x;
  int y;
};

// The top-left corner that centres a window of the given size on a screen of
// the given size: (screen - window) / 2 on each axis, truncated toward zero.
// A screen narrower than the window gives a negative offset: 401 pixels wide
// gives x = -9, 400 gives -10.
WindowOrigin centredOrigin(int screenWidth, int screenHeight, int windowWidth, int windowHeight);

// The names of the two state bitmaps of one paint, from one snapshot of the
// status model: "PROGRESS_" + progressText and "STEP_" + stepName. Within the
// model's limits (3 and 11 characters) they always fit; the longest that
// occur are "PROGRESS_100" and "STEP_SEARCHING" / "STEP_LAUNCHING".
struct SplashBitmapNames {
  char progress[20];
  char step[20];
};
SplashBitmapNames bitmapNamesFor(const StatusSnapshot& shown);

#pragma once
// The splash window, on a thread of its own with its own message loop. It
// paints the picture, the progress bar and the step label that the status
// model names, whenever the model asks and whenever the window system asks.

#include <windows.h>

class StatusModel;

enum class SplashStart : int {
  // The window is on the screen and painted; status changes repaint it.
  kWindowReady = 0,
  // The splash thread ended without a window, after its failure box
  // ("Window Registration Failed!" or "Window Creation Failed!") was
  // dismissed. Status changes are only stored.
  kNoWindow = 1,
  // The thread could not be created. Nothing was shown.
  kThreadNotStarted = 2,
};

// Starts the splash thread for `status`, whose appInstance and showCommand
// must be set, and returns when the window is shown and painted for the first
// time or when the thread has ended, whichever comes first: a splash thread
// that dies early never hangs the caller. Blocks meanwhile, also while a
// failure box of the window waits for the user. The thread runs on after a
// return with kWindowReady and is never waited for again; no handle of it is
// kept. Call at most once per process: the window class is registered for
// the whole process, and a second start fails registration.
SplashStart startSplashWindow(StatusModel& status);

// The thread routine. Registers the class "splash", creates the window
// (centred during creation), shows it with showCommand, paints it, records it
// in the status model and sets windowReady, then runs the message loop until
// the window is destroyed. A failed registration or creation shows its box,
// without owner, and ends the thread with windowReady still false. Returns 0
// on every path. The argument is not used: the status model given to
// startSplashWindow (else the process's one) holds everything it needs.
DWORD WINAPI splashThreadMain(LPVOID parameter);

// The window procedure: WM_CREATE, WM_PAINT, WM_CLOSE and WM_DESTROY return 0;
// everything else, clicks and keys included, goes to DefWindowProcW.
LRESULT CALLBACK splashWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// The splash window on its own thread, on a real screen under Wine and Xvfb.
// A process registers the class "splash" once and has one status model, so
// ctest runs each test in a process of its own (see tests/CMakeLists.txt).
// The expected pictures are composed from the bitmap files the launcher
// carries, copied beside this program into fixtures\art.

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "splash/splash_layout.h"
#include "splash/splash_window.h"
#include "splash/status_model.h"
#include "tests/support/bounded_call.h"
#include "tests/support/box_watcher.h"
#include "tests/support/files.h"
#include "tests/support/screen.h"

namespace {

using Clock = std::chrono::steady_clock;

long long millisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

Image art(const std::string& name) {
  Image image;
  EXPECT_TRUE(readBmp(executableDir() + L"\\fixtures\\art\\" + std::wstring(name.begin(), name.end()) + L".bmp",
                      &image))
      << name;
  return image;
}

// Pastes `layer` at row `top` of `picture`, copying or OR-ing each pixel.
void paste(Image& picture, const Image& layer, int top, bool combine) {
  for (int r = 0; r < layer.height && top + r < picture.height; ++r) {
    for (int c = 0; c < layer.width && c < picture.width; ++c) {
      uint32_t& pixel = picture.at(c, top + r);
      pixel = combine ? (pixel | layer.at(c, r)) : layer.at(c, r);
    }
  }
}

// What the window must show for the two texts, composed independently of
// the window code: the picture over rows 0-269, the bar over 270-299, the
// label OR-ed over 276-299.
Image expectedPicture(const std::string& progress, const std::string& step) {
  Image picture(kSplashWidth, kSplashHeight);
  paste(picture, art("SPLASH"), 0, false);
  paste(picture, art("PROGRESS_" + progress), 270, false);
  paste(picture, art("STEP_" + step), 276, true);
  return picture;
}

RECT windowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

// Keeps a failing capture for a look afterwards.
std::string keep(const RECT& area, const char* name) {
  const std::wstring path = executableDir() + L"\\" + std::wstring(name, name + std::strlen(name)) + L".bmp";
  writeBmp(path, captureScreen(area));
  return std::string(" (screen saved as ") + name + ".bmp beside the test)";
}

// Wrapped around the real window procedure once the window is up: records
// what each paint showed and which input reached the window. The main
// thread is blocked in its repaint request while a requested paint runs, so
// the snapshot taken right after the paint is the one the paint used.
struct Recorder {
  static inline WNDPROC original = nullptr;
  static inline std::atomic<int> paints{0};
  static inline std::atomic<int> clicks{0};
  static inline std::atomic<int> keys{0};
  static inline std::mutex lock;
  static inline std::string lastPainted;

  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CallWindowProcW(original, window, message, wParam, lParam);
    if (message == WM_PAINT) {
      const StatusSnapshot shown = processStatus().snapshot();
      std::lock_guard<std::mutex> guard(lock);
      lastPainted = std::string(shown.stepName) + " " + shown.progressText;
      ++paints;
    }
    if (message == WM_LBUTTONDOWN) ++clicks;
    if (message == WM_KEYDOWN) ++keys;
    return result;
  }
  static void install(HWND window) {
    original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Recorder::proc)));
  }
  static std::string painted() {
    std::lock_guard<std::mutex> guard(lock);
    return lastPainted;
  }
};

// A plain window of one colour on a thread of its own, placed over `area`.
class Cover {
 public:
  static constexpr uint32_t kColour = 0xFF00FF;

  explicit Cover(const RECT& area) : area_(area), thread_([this] { run(); }) {
    while (!window_.load()) Sleep(5);
  }
  ~Cover() { close(); }
  void close() {
    if (!thread_.joinable()) return;
    PostMessageW(window_.load(), WM_CLOSE, 0, 0);
    thread_.join();
  }

 private:
  static LRESULT CALLBACK proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
  }
  void run() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hbrBackground = CreateSolidBrush(RGB(0xFF, 0x00, 0xFF));
    windowClass.lpszClassName = L"cover";
    RegisterClassExW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, L"cover", L"", WS_POPUP | WS_VISIBLE,
                                  area_.left, area_.top, area_.right - area_.left, area_.bottom - area_.top,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    window_.store(window);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
  }

  RECT area_;
  std::atomic<HWND> window_{nullptr};
  std::thread thread_;
};

Image filled(int width, int height, uint32_t colour) {
  Image image(width, height);
  for (uint32_t& pixel : image.pixels) pixel = colour;
  return image;
}

void sendKey(WORD key) {
  INPUT input[2]{};
  input[0].type = input[1].type = INPUT_KEYBOARD;
  input[0].ki.wVk = input[1].ki.wVk = key;
  input[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, input, sizeof(INPUT));
}

void clickAt(int x, int y) {
  SetCursorPos(x, y);
  INPUT input[2]{};
  input[0].type = input[1].type = INPUT_MOUSE;
  input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, input, sizeof(INPUT));
}

template <typename Condition>
bool waitFor(Condition condition, unsigned long timeoutMs = 5000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!condition()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(10);
  }
  return true;
}

class SplashWindowTest : public ::testing::Test {
 protected:
  SplashWindowTest() : model(processStatus()) {
    model.appInstance = GetModuleHandleW(nullptr);
    model.showCommand = SW_SHOWNORMAL;
    watcher.start();
  }
  StatusModel& model;
  BoxWatcher watcher;
};

TEST_F(SplashWindowTest, ShowsCentredAndRepaintsBeforeEachChangeReturns) {
  ASSERT_EQ(startSplashWindow(model), SplashStart::kWindowReady);
  HWND window = static_cast<HWND>(model.splashWindow());
  ASSERT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(window));

  // A borderless tool window of the class "splash", 420 x 300, centred.
  wchar_t className[32] = L"";
  GetClassNameW(window, className, 32);
  EXPECT_STREQ(className, L"splash");
  EXPECT_EQ(GetWindowTextLengthW(window), 0);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & 0x8000000E, 0x8000000E);
  EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_BORDER), 0);
  EXPECT_NE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  const RECT rect = windowRect(window);
  const WindowOrigin centre =
      centredOrigin(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), kSplashWidth, kSplashHeight);
  EXPECT_EQ(rect.left, centre.x);
  EXPECT_EQ(rect.top, centre.y);
  EXPECT_EQ(rect.right - rect.left, kSplashWidth);
  EXPECT_EQ(rect.bottom - rect.top, kSplashHeight);
  RECT client{};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, kSplashWidth);
  EXPECT_EQ(client.bottom, kSplashHeight);

  // The first picture: the initial texts.
  Difference difference = waitForScreen(rect, expectedPicture("0", "TMP"));
  EXPECT_EQ(difference.count, 0) << "first picture: " << describe(difference) << keep(rect, "first-picture");

  // Each change is painted before the call returns: the paint has run with
  // the new texts and the window's surface already holds the new picture.
  Recorder::install(window);
  const struct {
    const char* tag;
    void (*change)(StatusModel&);
    const char* painted;
    const char* progress;
    const char* step;
  } changes[] = {
      {"setStep SEARCHING", [](StatusModel& m) { m.setStep("SEARCHING"); }, "SEARCHING 0", "0", "SEARCHING"},
      {"setProgress 100", [](StatusModel& m) { m.setProgress(100); }, "SEARCHING 100", "100", "SEARCHING"},
  };
  for (const auto& c : changes) {
    SCOPED_TRACE(c.tag);
    const int paintsBefore = Recorder::paints.load();
    c.change(model);
    EXPECT_GT(Recorder::paints.load(), paintsBefore) << "no paint ran before the call returned";
    EXPECT_EQ(Recorder::painted(), c.painted);
    const Image expected = expectedPicture(c.progress, c.step);
    difference = compare(expected, captureClient(window));
    EXPECT_EQ(difference.count, 0) << "window surface right after the call: " << describe(difference);
    difference = waitForScreen(rect, expected);
    EXPECT_EQ(difference.count, 0) << "screen once settled: " << describe(difference) << keep(rect, "change");
  }
  const Image finalPicture = expectedPicture("100", "SEARCHING");

  // Covered by another window and uncovered again: the picture is whole.
  {
    RECT over = rect;
    InflateRect(&over, 10, 10);
    Cover cover(over);
    difference = waitForScreen(rect, filled(kSplashWidth, kSplashHeight, Cover::kColour));
    ASSERT_EQ(difference.count, 0) << "the cover never hid the splash window: " << describe(difference);
  }
  difference = waitForScreen(rect, finalPicture);
  EXPECT_EQ(difference.count, 0) << "after uncovering: " << describe(difference) << keep(rect, "uncovered");

  // Wine gives an uncovered window back from its own copy, without a paint.
  // So invalidate from outside, with erasing, the way the window system asks
  // for a paint: the splash thread's loop erases and paints, all or part.
  const RECT parts[] = {{0, 0, kSplashWidth, kSplashHeight}, {100, 250, 300, 290}};
  for (const RECT& part : parts) {
    const int paintsBefore = Recorder::paints.load();
    RedrawWindow(window, &part, nullptr, RDW_INVALIDATE | RDW_ERASE);
    EXPECT_TRUE(waitFor([&] { return Recorder::paints.load() > paintsBefore; })) << "no paint came";
    difference = waitForScreen(rect, finalPicture);
    EXPECT_EQ(difference.count, 0) << "after a paint with erasing of (" << part.left << ", " << part.top << ")-("
                                   << part.right << ", " << part.bottom << "): " << describe(difference)
                                   << keep(rect, "erased");
  }

  // A click and keys reach the window and change nothing.
  SetForegroundWindow(window);
  clickAt((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  for (WORD key : {WORD(VK_ESCAPE), WORD(VK_RETURN), WORD(VK_SPACE), WORD('A')}) sendKey(key);
  EXPECT_TRUE(waitFor([] { return Recorder::clicks.load() >= 1 && Recorder::keys.load() >= 4; }))
      << "input did not reach the window: clicks " << Recorder::clicks.load() << ", keys " << Recorder::keys.load();
  Sleep(200);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_TRUE(IsWindowVisible(window));
  const RECT after = windowRect(window);
  EXPECT_TRUE(EqualRect(&after, &rect)) << "the window moved";
  difference = waitForScreen(rect, finalPicture);
  EXPECT_EQ(difference.count, 0) << "after click and keys: " << describe(difference) << keep(rect, "input");
  EXPECT_EQ(std::string(model.snapshot().stepName), "SEARCHING");

  watcher.stop();
  EXPECT_TRUE(watcher.boxes().empty()) << describe(watcher.boxes());
}

TEST_F(SplashWindowTest, ClosedFromOutsideEndsTheThreadAndLaterChangesOnlyStore) {
  ASSERT_EQ(startSplashWindow(model), SplashStart::kWindowReady);
  HWND window = static_cast<HWND>(model.splashWindow());
  const RECT rect = windowRect(window);
  const Image firstPicture = expectedPicture("0", "TMP");
  ASSERT_EQ(waitForScreen(rect, firstPicture).count, 0);

  const DWORD threadId = GetWindowThreadProcessId(window, nullptr);
  HANDLE thread = OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId);
  ASSERT_NE(thread, nullptr);
  PostMessageW(window, WM_CLOSE, 0, 0);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0) << "the splash thread did not end";
  DWORD exitCode = 1;
  GetExitCodeThread(thread, &exitCode);
  CloseHandle(thread);
  EXPECT_EQ(exitCode, 0u);
  EXPECT_FALSE(IsWindow(window));
  EXPECT_TRUE(waitFor([&] { return compare(firstPicture, captureScreen(rect)).count > 0; }))
      << "the picture is still on the screen";

  // The main thread carries on: each change is stored and returns at once.
  const struct {
    const char* tag;
    void (*change)(StatusModel&);
  } changes[] = {
      {"setStep XJAR", [](StatusModel& m) { m.setStep("XJAR"); }},
      {"setProgress 55", [](StatusModel& m) { m.setProgress(55); }},
      {"animateProgress 0", [](StatusModel& m) { m.animateProgress(0); }},
      {"setStep LAUNCHING", [](StatusModel& m) { m.setStep("LAUNCHING"); }},
  };
  for (const auto& c : changes) {
    const Clock::time_point start = Clock::now();
    c.change(model);
    EXPECT_LT(millisecondsSince(start), 200) << c.tag;
  }
  const StatusSnapshot stored = model.snapshot();
  EXPECT_STREQ(stored.stepName, "LAUNCHING");
  EXPECT_STREQ(stored.progressText, "100");
  EXPECT_FALSE(IsWindow(window));

  watcher.stop();
  EXPECT_TRUE(watcher.boxes().empty()) << describe(watcher.boxes());
}

TEST_F(SplashWindowTest, RegistrationFailureShowsItsBoxAndTheStarterGoesOn) {
  // The class "splash" of this module exists already: the splash thread's
  // own registration fails for real.
  WNDCLASSEXW taken{};
  taken.cbSize = sizeof taken;
  taken.lpfnWndProc = DefWindowProcW;
  taken.hInstance = GetModuleHandleW(nullptr);
  taken.lpszClassName = L"splash";
  ASSERT_NE(RegisterClassExW(&taken), 0);

  // On a thread of its own, so that a starter that waits for ever fails the
  // test instead of hanging it.
  const std::optional<SplashStart> result =
      callWithin(std::chrono::seconds(20), [&model = model] { return startSplashWindow(model); });
  ASSERT_TRUE(result) << "the starter hangs";
  const Clock::time_point returned = Clock::now();
  EXPECT_EQ(*result, SplashStart::kNoWindow);
  EXPECT_TRUE(watcher.waitUntilAllGone(std::chrono::seconds(5)));
  watcher.stop();
  const std::vector<SeenBox> boxes = watcher.boxes();
  ASSERT_EQ(boxes.size(), 1u) << describe(boxes);
  EXPECT_EQ(boxes[0].caption, "Error!");
  EXPECT_EQ(boxes[0].text, "Window Registration Failed!");
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_TRUE(boxes[0].hasIcon);
  EXPECT_FALSE(boxes[0].splashVisible);
  // Back as soon as the box was gone, not after some poll or time limit.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(returned - boxes[0].goneAt).count(), 300);

  EXPECT_FALSE(model.windowReady());
  EXPECT_EQ(model.splashWindow(), nullptr);
  const Clock::time_point start = Clock::now();
  model.setStep("SEARCHING");
  model.setProgress(100);
  EXPECT_LT(millisecondsSince(start), 200);
  EXPECT_STREQ(model.snapshot().stepName, "SEARCHING");
  EXPECT_STREQ(model.snapshot().progressText, "100");
}

// Refuses the creation of any "splash" window on the thread it is set for.
LRESULT CALLBACK refuseSplash(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND) {
    wchar_t name[32] = L"";
    GetClassNameW(reinterpret_cast<HWND>(wParam), name, 32);
    if (std::wcscmp(name, L"splash") == 0) return 1;
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(SplashWindowTest, CreationFailureShowsItsBoxAndEndsTheThread) {
  // The thread routine itself, on a thread whose window creation a hook
  // refuses.
  DWORD routineResult = 1;
  std::thread splash([&] {
    HHOOK hook = SetWindowsHookExW(WH_CBT, refuseSplash, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    routineResult = splashThreadMain(nullptr);
    UnhookWindowsHookEx(hook);
  });
  splash.join();
  EXPECT_EQ(routineResult, 0u);
  watcher.stop();
  const std::vector<SeenBox> boxes = watcher.boxes();
  ASSERT_EQ(boxes.size(), 1u) << describe(boxes);
  EXPECT_EQ(boxes[0].caption, "Error!");
  EXPECT_EQ(boxes[0].text, "Window Creation Failed!");
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_TRUE(boxes[0].hasIcon);
  EXPECT_FALSE(model.windowReady());
  EXPECT_EQ(model.splashWindow(), nullptr);
}

// Run in a program that carries every bitmap but "SPLASH".
TEST_F(SplashWindowTest, MissingPictureShowsItsBoxAndTheWindowStillComes) {
  ASSERT_EQ(FindResourceW(nullptr, L"SPLASH", MAKEINTRESOURCEW(2)), nullptr)
      << "this test needs a program without the bitmap SPLASH";
  ASSERT_EQ(startSplashWindow(model), SplashStart::kWindowReady);
  HWND window = static_cast<HWND>(model.splashWindow());
  EXPECT_TRUE(IsWindowVisible(window));
  watcher.stop();
  const std::vector<SeenBox> boxes = watcher.boxes();
  ASSERT_EQ(boxes.size(), 1u) << describe(boxes);
  EXPECT_EQ(boxes[0].caption, "Error");
  EXPECT_EQ(boxes[0].text, "Could not load splash bitmap!");
  EXPECT_EQ(boxes[0].owner, window) << "owned by the window being created";
  EXPECT_TRUE(boxes[0].hasIcon);
  EXPECT_FALSE(boxes[0].splashVisible) << "the box comes while the window is created, before it is shown";

  // The band is painted as always; where the picture would be, the window
  // shows its background.
  const RECT rect = windowRect(window);
  const COLORREF background = GetSysColor(COLOR_WINDOW);
  Image expected = filled(kSplashWidth, kSplashHeight,
                          static_cast<uint32_t>(GetRValue(background)) << 16 | GetGValue(background) << 8 |
                              GetBValue(background));
  paste(expected, art("PROGRESS_0"), 270, false);
  paste(expected, art("STEP_TMP"), 276, true);
  const Difference difference = waitForScreen(rect, expected);
  EXPECT_EQ(difference.count, 0) << describe(difference) << keep(rect, "no-picture");
}

// Run on a 1920 x 1080 screen of its own (tests/wine/own_screen.sh).
TEST_F(SplashWindowTest, FullHdScreenPlacesTheWindowAt750And390) {
  ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1920);
  ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 1080);
  ASSERT_EQ(startSplashWindow(model), SplashStart::kWindowReady);
  const RECT rect = windowRect(static_cast<HWND>(model.splashWindow()));
  EXPECT_EQ(rect.left, 750);
  EXPECT_EQ(rect.top, 390);
  const RECT expectedArea{750, 390, 750 + kSplashWidth, 390 + kSplashHeight};
  const Difference difference = waitForScreen(expectedArea, expectedPicture("0", "TMP"));
  EXPECT_EQ(difference.count, 0) << describe(difference) << keep(expectedArea, "full-hd");
  watcher.stop();
  EXPECT_TRUE(watcher.boxes().empty()) << describe(watcher.boxes());
}

}  // namespace

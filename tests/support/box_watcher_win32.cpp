#include "tests/support/box_watcher.h"

#include <algorithm>

#include "common/text.h"

namespace {

// The static control that holds a box's message.
const int kMessageTextId = 0xFFFF;
// The icon control: 20 on Windows, 1088 under Wine.
const int kIconIds[] = {20, 1088};

std::wstring className(HWND window) {
  wchar_t name[64];
  int length = GetClassNameW(window, name, 64);
  return std::wstring(name, length > 0 ? length : 0);
}

std::string windowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(window, text.data(), length + 1)));
  return narrow(text);
}

struct Search {
  DWORD processId;
  std::vector<HWND> boxes;
  bool splashVisible = false;
  RECT splashRect{};
};

BOOL CALLBACK collect(HWND window, LPARAM parameter) {
  Search& search = *reinterpret_cast<Search*>(parameter);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search.processId) return TRUE;
  const std::wstring name = className(window);
  if (name == L"#32770" && IsWindowVisible(window)) search.boxes.push_back(window);
  if (name == L"splash" && IsWindowVisible(window)) {
    search.splashVisible = true;
    GetWindowRect(window, &search.splashRect);
  }
  return TRUE;
}

bool showsIcon(HWND box) {
  for (int id : kIconIds) {
    HWND icon = GetDlgItem(box, id);
    if (icon && IsWindowVisible(icon) && SendMessageW(icon, STM_GETICON, 0, 0) != 0) return true;
  }
  return false;
}

}  // namespace

void BoxWatcher::start(DWORD processId) {
  stop();
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = false;
    boxes_.clear();
    handled_.clear();
  }
  thread_ = std::thread(&BoxWatcher::run, this, processId);
}

void BoxWatcher::stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stopping_ = true;
  }
  if (thread_.joinable()) thread_.join();
}

std::vector<SeenBox> BoxWatcher::boxes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return boxes_;
}

bool BoxWatcher::waitForBoxes(size_t count, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (boxes_.size() >= count) return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool BoxWatcher::waitUntilAllGone(std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (std::all_of(boxes_.begin(), boxes_.end(),
                      [](const SeenBox& box) { return box.goneAt.time_since_epoch().count() != 0; })) {
        return true;
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

void BoxWatcher::run(DWORD processId) {
  for (;;) {
    {
      std::lock_guard<std::mutex> guard(lock_);
      if (stopping_) return;
      for (size_t i = 0; i < handled_.size(); ++i) {
        if (boxes_[i].goneAt.time_since_epoch().count() == 0 && !IsWindow(handled_[i])) {
          boxes_[i].goneAt = std::chrono::steady_clock::now();
        }
      }
    }
    Search search{processId, {}};
    EnumWindows(collect, reinterpret_cast<LPARAM>(&search));
    for (HWND box : search.boxes) {
      {
        std::lock_guard<std::mutex> guard(lock_);
        if (std::find(handled_.begin(), handled_.end(), box) != handled_.end()) continue;
      }
      // A box becomes visible with its texts already set.
      SeenBox seen;
      seen.caption = windowText(box);
      HWND message = GetDlgItem(box, kMessageTextId);
      seen.text = message ? windowText(message) : std::string();
      seen.owner = GetWindow(box, GW_OWNER);
      if (seen.owner) seen.ownerClass = className(seen.owner);
      seen.hasIcon = showsIcon(box);
      seen.splashVisible = search.splashVisible;
      seen.splashRect = search.splashRect;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      seen.dismissedAt = std::chrono::steady_clock::now();
      std::lock_guard<std::mutex> guard(lock_);
      handled_.push_back(box);
      boxes_.push_back(seen);
    }
    Sleep(10);
  }
}

std::string describe(const std::vector<SeenBox>& boxes) {
  std::string lines;
  for (const SeenBox& box : boxes) {
    lines += "[" + box.caption + "] " + box.text + (box.owner ? " (owned)" : " (no owner)") +
             (box.hasIcon ? " (icon)" : " (no icon)") + (box.splashVisible ? " (splash visible)" : "") + "\n";
  }
  return lines.empty() ? "no box\n" : lines;
}

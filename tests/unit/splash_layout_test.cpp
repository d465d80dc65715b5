#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "splash/splash_layout.h"

namespace {

TEST(SplashLayout, CentresTruncatingTowardZero) {
  const struct {
    const char* tag;
    int screenWidth, screenHeight;
    int x, y;
  } cases[] = {
      {"full HD", 1920, 1080, 750, 390},
      {"1366 x 768", 1366, 768, 473, 234},
      {"test session screen", 1280, 1024, 430, 362},
      {"odd spare pixel is dropped", 421, 301, 0, 0},
      {"exactly the window", 420, 300, 0, 0},
      // Narrower than the window: -19 / 2 is -9, not the floor -10.
      {"one pixel wider than 400", 401, 281, -9, -9},
      {"400 wide", 400, 280, -10, -10},
      {"no screen at all", 0, 0, -210, -150},
  };
  for (const auto& c : cases) {
    const WindowOrigin origin = centredOrigin(c.screenWidth, c.screenHeight, kSplashWidth, kSplashHeight);
    EXPECT_EQ(origin.x, c.x) << c.tag;
    EXPECT_EQ(origin.y, c.y) << c.tag;
  }
}

StatusSnapshot shown(const char* step, const char* progress) {
  StatusSnapshot snapshot;
  std::snprintf(snapshot.stepName, sizeof snapshot.stepName, "%s", step);
  std::snprintf(snapshot.progressText, sizeof snapshot.progressText, "%s", progress);
  return snapshot;
}

TEST(SplashLayout, NamesTheTwoStateBitmaps) {
  const struct {
    const char* step;
    const char* progress;
    const char* progressName;
    const char* stepName;
  } cases[] = {
      {"TMP", "0", "PROGRESS_0", "STEP_TMP"},
      {"XJAVA", "90", "PROGRESS_90", "STEP_XJAVA"},
      {"SEARCHING", "100", "PROGRESS_100", "STEP_SEARCHING"},
      {"XJAR", "30", "PROGRESS_30", "STEP_XJAR"},
      {"LAUNCHING", "100", "PROGRESS_100", "STEP_LAUNCHING"},
      // The model's limits, 11 and 3 characters, still fit the 20-byte names.
      {"ABCDEFGHIJK", "999", "PROGRESS_999", "STEP_ABCDEFGHIJK"},
  };
  for (const auto& c : cases) {
    const SplashBitmapNames names = bitmapNamesFor(shown(c.step, c.progress));
    EXPECT_STREQ(names.progress, c.progressName) << c.step;
    EXPECT_STREQ(names.step, c.stepName) << c.step;
  }
}

TEST(SplashLayout, UnterminatedTextsStayInsideTheirBuffers) {
  StatusSnapshot broken;
  std::memset(broken.stepName, 'S', sizeof broken.stepName);
  std::memset(broken.progressText, '9', sizeof broken.progressText);
  const SplashBitmapNames names = bitmapNamesFor(broken);
  EXPECT_EQ(std::string(names.progress), "PROGRESS_9999");
  EXPECT_EQ(std::string(names.step), "STEP_" + std::string(12, 'S'));
}

TEST(SplashLayout, ShownAtItsOwnSizeWhateverTheShortcutSays) {
  const struct {
    const char* tag;
    int given;
    int shown;
  } cases[] = {
      {"SW_HIDE stays", 0, 0},
      {"SW_SHOWNORMAL stays", 1, 1},
      {"SW_SHOWMINIMIZED: shown, not activated", 2, 4},
      {"SW_SHOWMAXIMIZED: normal", 3, 1},
      {"SW_SHOWNOACTIVATE stays", 4, 4},
      {"SW_SHOW stays", 5, 5},
      {"SW_MINIMIZE: shown, not activated", 6, 4},
      {"SW_SHOWMINNOACTIVE (a \"Minimized\" shortcut)", 7, 4},
      {"SW_SHOWNA stays", 8, 8},
      {"SW_RESTORE stays", 9, 9},
      {"SW_SHOWDEFAULT: normal", 10, 1},
      {"SW_FORCEMINIMIZE: shown, not activated", 11, 4},
      {"unknown value stays", 42, 42},
  };
  for (const auto& c : cases) EXPECT_EQ(splashShowCommand(c.given), c.shown) << c.tag;
}

}  // namespace

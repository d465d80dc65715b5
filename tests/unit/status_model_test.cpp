#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "splash/status_model.h"
#include "tests/support/bounded_call.h"

namespace {

// Records every repaint request, with what a paint would see at that moment,
// and every sleep, in one ordered list.
class RecordingPlatform : public StatusPlatform {
 public:
  void repaint(void* window) override {
    EXPECT_EQ(window, expectedWindow);
    StatusSnapshot seen = model->snapshot();
    events.push_back(std::string("paint ") + seen.stepName + " " + seen.progressText);
  }
  void sleep(int milliseconds) override { events.push_back("sleep " + std::to_string(milliseconds)); }

  const std::vector<std::string>& log() const { return events; }

  StatusModel* model = nullptr;
  void* expectedWindow = nullptr;
  // "paint <step> <progress>" or "sleep <ms>", in order.
  std::vector<std::string> events;
};

class StatusModelTest : public ::testing::Test {
 protected:
  StatusModelTest() : model(platform) { platform.model = &model; }

  void showWindow() {
    platform.expectedWindow = &fakeWindow;
    model.setSplashWindow(&fakeWindow);
    model.setWindowReady();
  }

  std::string step() { return model.snapshot().stepName; }
  std::string progress() { return model.snapshot().progressText; }

  int fakeWindow = 0;
  RecordingPlatform platform;
  StatusModel model;
};

TEST_F(StatusModelTest, StartsAtTmpAndZeroWithoutAWindow) {
  EXPECT_EQ(step(), "TMP");
  EXPECT_EQ(progress(), "0");
  EXPECT_EQ(model.splashWindow(), nullptr);
  EXPECT_FALSE(model.windowReady());
}

TEST_F(StatusModelTest, ProgressTextRoundsDownToTens) {
  const struct {
    int percent;
    const char* text;
  } cases[] = {{0, "0"}, {9, "0"}, {10, "10"}, {19, "10"}, {55, "50"}, {98, "90"}, {99, "90"}, {100, "100"}};
  showWindow();
  for (const auto& c : cases) {
    platform.events.clear();
    model.setProgress(c.percent);
    EXPECT_EQ(progress(), c.text) << "percent " << c.percent;
    // Stored first, painted second: the paint sees the new text.
    EXPECT_EQ(platform.log(), std::vector<std::string>{std::string("paint TMP ") + c.text})
        << "percent " << c.percent;
  }
}

TEST_F(StatusModelTest, ProgressTextStaysWithinThreeCharacters) {
  char text[4];
  progressTextFor(1000, text);
  EXPECT_STREQ(text, "100");
  progressTextFor(-5, text);
  EXPECT_STREQ(text, "0");
}

TEST_F(StatusModelTest, AnimationPaintsElevenFramesEachFollowedByItsSleep) {
  showWindow();
  model.animateProgress(1000);
  std::vector<std::string> expected;
  for (int p = 0; p <= 100; p += 10) {
    expected.push_back("paint TMP " + std::to_string(p));
    expected.push_back("sleep 90");
  }
  EXPECT_EQ(platform.log(), expected);
}

TEST_F(StatusModelTest, ShortAnimationHasFrameTimeZero) {
  showWindow();
  model.animateProgress(10);
  const std::vector<std::string>& log = platform.log();
  ASSERT_EQ(log.size(), 22u);
  for (size_t i = 1; i < log.size(); i += 2) EXPECT_EQ(log[i], "sleep 0") << "event " << i;
  EXPECT_EQ(log[20], "paint TMP 100");
}

TEST_F(StatusModelTest, NewStepKeepsTheProgressOfTheOldOne) {
  showWindow();
  model.animateProgress(0);
  platform.events.clear();
  model.setStep("XJAVA");
  EXPECT_EQ(platform.log(), std::vector<std::string>{"paint XJAVA 100"});
}

TEST_F(StatusModelTest, SameStepStillRepaints) {
  showWindow();
  model.setStep("TMP");
  model.setStep("TMP");
  EXPECT_EQ(platform.log(), (std::vector<std::string>{"paint TMP 0", "paint TMP 0"}));
}

TEST_F(StatusModelTest, StepNameIsCutToElevenCharacters) {
  model.setStep("ABCDEFGHIJKLMNOP");
  EXPECT_EQ(step(), "ABCDEFGHIJK");
}

TEST_F(StatusModelTest, WithoutAWindowChangesAreOnlyStored) {
  model.setStep("SEARCHING");
  model.setProgress(42);
  model.animateProgress(22);
  EXPECT_EQ(step(), "SEARCHING");
  EXPECT_EQ(progress(), "100");
  // The animation still takes its time, but nothing is painted.
  for (const std::string& event : platform.log()) EXPECT_EQ(event.rfind("sleep ", 0), 0u) << event;
  EXPECT_EQ(platform.log().size(), 11u);
}

// The real repaint returns only after the splash thread has painted, and that
// paint reads the texts. The model must not hold its lock across the
// request, or the two threads wait for each other for ever.
TEST(StatusModelThreads, PaintOnAnotherThreadSeesTheNewValues) {
  class CrossThreadPlatform : public StatusPlatform {
   public:
    void repaint(void*) override {
      // Bounded, so that a failing model cannot hang the test as well.
      const std::optional<StatusSnapshot> paint =
          callWithin(std::chrono::seconds(20), [model = model] { return model->snapshot(); });
      if (!paint) {
        ADD_FAILURE() << "the paint thread could not read the texts";
        return;
      }
      const StatusSnapshot& seen = *paint;
      painted.push_back(std::string(seen.stepName) + " " + seen.progressText);
    }
    void sleep(int) override {}
    StatusModel* model = nullptr;
    std::vector<std::string> painted;
  } platform;
  StatusModel model(platform);
  platform.model = &model;
  int window = 0;
  model.setSplashWindow(&window);

  model.setStep("SEARCHING");
  model.setProgress(37);
  EXPECT_EQ(platform.painted, (std::vector<std::string>{"SEARCHING 0", "SEARCHING 30"}));
}

}  // namespace

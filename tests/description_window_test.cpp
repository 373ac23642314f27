// The board description window: where it opens, how it is replaced and
// closed, and the request for the maker's page. What it holds is in
// tests/golden/description_window.txt.
#include "ui/description_window.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/state.h"
#include "platform/headless/headless.h"
#include "tests/program_fixture.h"
#include "tests/support/program_start.h"
#include "ui/control_numbers.h"
#include "ui/main_window.h"

namespace {

// The main window built from the defaults, no board; the click loaded so
// that it can be counted.
class DescriptionWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StartFresh();
    ASSERT_TRUE(PlatStartSound());
    ASSERT_TRUE(PlatLoadClick());
    AppState.Settings.SoundLoaded = 1;
    ASSERT_TRUE(BuildMainWindow());
  }
};

}  // namespace

// Its place follows the main window's as it stands; the window, its
// controls and the description are in tests/golden/description_window.txt.
TEST_F(DescriptionWindowTest, OpensBesideTheMainWindowWithOneClick) {
  int clicks = HeadlessClickCount();
  OpenDescriptionWindow();
  const HeadlessWindow* main = HeadlessFindWindow(MainWindow);
  const HeadlessWindow* w = HeadlessFindWindow(DescriptionWindow);
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(w->Open);
  EXPECT_GT(main->X, 0);  // the main window is centred, not at the edge
  EXPECT_EQ(w->X, main->X + 20);
  EXPECT_EQ(w->Y, main->Y + 20);
  EXPECT_EQ(HeadlessClickCount(), clicks + 1);
  EXPECT_TRUE(main->Open);
  EXPECT_FALSE(C(RichDescription).Content.empty());
}

TEST_F(DescriptionWindowTest, SecondOpeningReplacesItAndCloseButtonClosesIt) {
  OpenDescriptionWindow();
  const Text first = C(RichDescription).Content;
  int clicks = HeadlessClickCount();
  OpenDescriptionWindow();
  const HeadlessWindow* w = HeadlessFindWindow(DescriptionWindow);
  EXPECT_TRUE(w->Open);
  EXPECT_EQ(w->OpenCount, 2);
  EXPECT_EQ(HeadlessCreationOrder(DescriptionWindow),
            (std::vector<int>{99, 95, 96}));
  EXPECT_EQ(C(RichDescription).Content, first);  // not appended to the old
  EXPECT_EQ(HeadlessClickCount(), clicks + 1);

  CloseDescriptionWindow();
  EXPECT_FALSE(w->Open);
  EXPECT_EQ(HeadlessFindControl(RichDescription), nullptr);
  EXPECT_EQ(HeadlessClickCount(), clicks + 2);
  EXPECT_TRUE(HeadlessFindWindow(MainWindow)->Open);
}

TEST_F(DescriptionWindowTest, PageButtonAsksTheShellEachTimeAndKeepsTheWindow) {
  OpenDescriptionWindow();
  int clicks = HeadlessClickCount();
  OpenMakerPage();
  OpenMakerPage();
  EXPECT_EQ(HeadlessOpenedAddresses(),
            (std::vector<Text>{MakerPageAddress, MakerPageAddress}));
  EXPECT_EQ(Text(MakerPageAddress).rfind("http://www.example.com/", 0), 0u);
  EXPECT_EQ(HeadlessClickCount(), clicks + 2);
  EXPECT_TRUE(HeadlessFindWindow(DescriptionWindow)->Open);
}

// Through the main loop: the picture opens the window, the main window
// keeps working beside it, 96 asks the shell and 95 closes it.
TEST_F(BoardTest, DescriptionWindowThroughTheMainLoop) {
  bool openWithMainFont = false;
  bool consoleWorked = false;
  Then([] {});
  Then([] { HeadlessPostClick(ButtonPicture); });
  Then([&] {
    const HeadlessControl* box = HeadlessFindControl(RichDescription);
    openWithMainFont =
        box && box->Font == HeadlessFindControl(ButtonConsoleSend)->Font;
    HeadlessTypeText(EditConsole, "GETIP");
    HeadlessPostClick(ButtonConsoleSend);
  });
  Then([&] {
    consoleWorked = HeadlessFindControl(RichConsole)
                        ->Content.rfind(">GETIP\r192.168.1.50", 0) == 0;
    HeadlessPostClick(ButtonMakerPage);
  });
  Then([] { HeadlessPostClick(ButtonCloseDescription); });
  RunSteps();
  EXPECT_TRUE(openWithMainFont);
  EXPECT_TRUE(consoleWorked);
  EXPECT_EQ(HeadlessOpenedAddresses().size(), 1u);
  EXPECT_FALSE(HeadlessFindWindow(DescriptionWindow)->Open);
}

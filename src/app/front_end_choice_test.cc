#include "app/front_end_choice.h"

#include <gtest/gtest.h>

namespace dravelkent {
namespace {

TEST(DisplayFromEnvironmentTest, NeedsANonEmptyVariable) {
  struct Case {
    const char* display;
    const char* wayland;
    DisplayPresence expected;
  };
  const Case cases[] = {
      {nullptr, nullptr, DisplayPresence::kNone},
      {"", "", DisplayPresence::kNone},
      {":0", nullptr, DisplayPresence::kPresent},
      {nullptr, "wayland-0", DisplayPresence::kPresent},
      {"", "wayland-0", DisplayPresence::kPresent},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DisplayFromEnvironment(c.display, c.wayland), c.expected)
        << (c.display ? c.display : "(null)") << " / "
        << (c.wayland ? c.wayland : "(null)");
  }
}

TEST(ChooseFrontEndTest, LoadsTheToolkitOnlyToShowSomething) {
  struct Case {
    DisplayPresence display;
    const char* view;
    const char* message;
    FrontEnd expected;
  };
  const auto kNone = DisplayPresence::kNone;
  const auto kPresent = DisplayPresence::kPresent;
  const Case cases[] = {
      // Nothing to show: the run stays in the console front end.
      {kPresent, "Off", "Off", FrontEnd::kConsole},
      {kPresent, "Off", "", FrontEnd::kConsole},
      {kPresent, "Off", "on", FrontEnd::kConsole},  // only "On" is on
      // The dialog, or message boxes, need the display.
      {kPresent, "On", "Off", FrontEnd::kGui},
      {kPresent, "", "Off", FrontEnd::kGui},       // not "Off": waits
      {kPresent, "off", "Off", FrontEnd::kGui},
      {kPresent, "Off", "On", FrontEnd::kGui},
      // Without a display the console front end runs whatever the keys.
      {kNone, "On", "On", FrontEnd::kConsole},
      {kNone, "Off", "On", FrontEnd::kConsole},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseFrontEnd(c.display, c.view, c.message), c.expected)
        << "VIEW=" << c.view << " MESSAGE=" << c.message;
  }
}

TEST(GuiModuleCandidatesTest, LooksBesideTheProgramThenInItsLibFolder) {
  EXPECT_EQ(GuiModuleCandidates("/opt/dk/bin/dravelkent"),
            (std::vector<std::string>{
                "/opt/dk/bin/dravelkent-gui.so",
                "/opt/dk/bin/../lib/dravelkent/dravelkent-gui.so"}));
  EXPECT_TRUE(GuiModuleCandidates("dravelkent").empty());
}

}  // namespace
}  // namespace dravelkent

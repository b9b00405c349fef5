#include "app/front_end_choice.h"

#include <gtest/gtest.h>

namespace dravelkent {
namespace {

TEST(FrontEndChoiceTest, TheWindowOnlyToShowSomethingOnADisplay) {
  const struct {
    const char *display, *wayland, *view, *message;
    bool window;
  } cases[] = {
      {":0", nullptr, "Off", "Off", false},  // nothing to show
      {":0", nullptr, "Off", "on", false},   // only "On" is on
      {":0", nullptr, "", "Off", true},      // not "Off": waits
      {":0", "", "Off", "On", true},
      {nullptr, "wayland-0", "On", "Off", true},
      {"", "", "On", "On", false},  // empty names no display
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseFrontEnd(DisplayFromEnvironment(c.display, c.wayland),
                             c.view, c.message) == FrontEnd::kGui,
              c.window)
        << c.view << " " << c.message;
  }
}

}  // namespace
}  // namespace dravelkent

// How AT-SPI roles read as the core's "AX..." roles; checked against the
// role numbers AT-SPI itself publishes, so a shifted table shows up here.
#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

#include "computer-use/platform/linux/atspi_roles.h"

namespace {

using namespace vorn::platform::atspi;

TEST(AtspiRoles, FixedNamesTextRolesAndTheCamelCaseRest) {
  const struct {
    AtspiRole role;
    bool multiLine;
    const char* ax;
  } cases[] = {
      {ATSPI_ROLE_FRAME, false, "AXWindow"},
      {ATSPI_ROLE_DIALOG, false, "AXWindow"},
      {ATSPI_ROLE_FILE_CHOOSER, false, "AXWindow"},
      {ATSPI_ROLE_PUSH_BUTTON, false, "AXButton"},
      {ATSPI_ROLE_TOGGLE_BUTTON, false, "AXCheckBox"},
      {ATSPI_ROLE_PAGE_TAB, false, "AXRadioButton"},
      {ATSPI_ROLE_TEXT, false, "AXTextField"},
      {ATSPI_ROLE_ENTRY, true, "AXTextArea"},
      {ATSPI_ROLE_PASSWORD_TEXT, false, "AXTextField"},
      // Multi-line labels stay static text.
      {ATSPI_ROLE_LABEL, true, "AXStaticText"},
      {ATSPI_ROLE_SPIN_BUTTON, false, "AXIncrementor"},
      {ATSPI_ROLE_RADIO_MENU_ITEM, false, "AXMenuItem"},
      {ATSPI_ROLE_LIST_BOX, false, "AXList"},
      {ATSPI_ROLE_TREE_ITEM, false, "AXRow"},
      {ATSPI_ROLE_TREE, false, "AXOutline"},
      {ATSPI_ROLE_TREE_TABLE, false, "AXTable"},
      {ATSPI_ROLE_SCROLL_PANE, false, "AXScrollArea"},
      {ATSPI_ROLE_PROGRESS_BAR, false, "AXProgressIndicator"},
      {ATSPI_ROLE_FILLER, false, "AXGroup"},
      {ATSPI_ROLE_PAGE_TAB_LIST, false, "AXTabGroup"},
      {ATSPI_ROLE_DOCUMENT_WEB, false, "AXWebArea"},
      {ATSPI_ROLE_TOOL_TIP, false, "AXHelpTag"},
      {ATSPI_ROLE_DRAWING_AREA, false, "AXDrawingArea"},
      {ATSPI_ROLE_APPLICATION, false, "AXApplication"},
      {ATSPI_ROLE_PUSH_BUTTON_MENU, false, "AXPushButtonMenu"},
      {ATSPI_ROLE_INVALID, false, "AXInvalid"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(axRole(c.role, c.multiLine), c.ax) << c.role;
  }
  EXPECT_EQ(axRole(ATSPI_ROLE_LAST_DEFINED, false), "AXUnknown");
  EXPECT_EQ(axRole(0xffffffffu, false), "AXUnknown");
}

TEST(AtspiRoles, WindowCheckableAndScrollableKinds) {
  EXPECT_TRUE(isWindowLike(ATSPI_ROLE_ALERT));
  EXPECT_TRUE(isWindowLike(ATSPI_ROLE_COLOR_CHOOSER));
  EXPECT_FALSE(isWindowLike(ATSPI_ROLE_PANEL));
  EXPECT_TRUE(isCheckable(ATSPI_ROLE_RADIO_BUTTON));
  EXPECT_TRUE(isCheckable(ATSPI_ROLE_CHECK_MENU_ITEM));
  EXPECT_FALSE(isCheckable(ATSPI_ROLE_PUSH_BUTTON));
  EXPECT_TRUE(isScrollable(ATSPI_ROLE_SCROLL_PANE, false));
  EXPECT_TRUE(isScrollable(ATSPI_ROLE_TEXT, true));
  EXPECT_FALSE(isScrollable(ATSPI_ROLE_TEXT, false));
  EXPECT_FALSE(isScrollable(ATSPI_ROLE_PUSH_BUTTON, false));
}

TEST(AtspiRoles, StateBitsAndInterfaceNames) {
  EXPECT_EQ(kStateShowing, ATSPI_STATE_SHOWING);
  EXPECT_EQ(kStateDefunct, ATSPI_STATE_DEFUNCT);
  EXPECT_EQ(kStateEditable, ATSPI_STATE_EDITABLE);
  EXPECT_EQ(kStateFocusable, ATSPI_STATE_FOCUSABLE);
  EXPECT_EQ(kStateSensitive, ATSPI_STATE_SENSITIVE);
  EXPECT_EQ(kStateManagesDescendants, ATSPI_STATE_MANAGES_DESCENDANTS);
  EXPECT_TRUE(has(StateSet{1} << ATSPI_STATE_VISIBLE | StateSet{1} << 40, kStateChecked) == false);
  EXPECT_TRUE(has(StateSet{1} << ATSPI_STATE_CHECKED, kStateChecked));
  EXPECT_EQ(interfaceBit("org.a11y.atspi.EditableText"), kInterfaceEditableText);
  EXPECT_EQ(interfaceBit("org.a11y.atspi.Hypertext"), 0u);
}

}  // namespace

// Which AT-SPI objects observe passes through, and what differs between the
// toolkits' bridges: pure rules over what a session read.
#include <atspi/atspi-constants.h>
#include <gtest/gtest.h>

#include "computer-use/platform/linux/atspi_structure.h"
#include "computer-use/platform/linux/atspi_toolkits.h"

namespace {

using namespace vorn::platform;
using namespace vorn::platform::atspi;

const std::string kEmbedded = "\xEF\xBF\xBC";

Facts container(AtspiRole role) {
  Facts f;
  f.basicsRead = true;
  f.valueRead = true;
  f.role = role;
  f.states = StateSet{1} << kStateEnabled | StateSet{1} << kStateShowing;
  return f;
}

TEST(PassThrough, ContainersThatCarryNothingAcrossToolkits) {
  // GTK and Qt panels and fillers; Chromium's panels, with generic actions
  // and text made of embedded objects; Firefox's scroll pane, focusable
  // internal frame and form.
  for (AtspiRole role : {ATSPI_ROLE_PANEL, ATSPI_ROLE_FILLER, ATSPI_ROLE_SECTION,
                         ATSPI_ROLE_GROUPING, ATSPI_ROLE_REDUNDANT_OBJECT, ATSPI_ROLE_UNKNOWN,
                         ATSPI_ROLE_SCROLL_PANE, ATSPI_ROLE_INTERNAL_FRAME, ATSPI_ROLE_FORM,
                         ATSPI_ROLE_VIEWPORT, ATSPI_ROLE_LAYERED_PANE, ATSPI_ROLE_SPLIT_PANE}) {
    Facts f = container(role);
    f.interfaces = kInterfaceAction | kInterfaceComponent | kInterfaceText;
    f.states |= StateSet{1} << kStateFocusable;
    f.value = kEmbedded + " " + kEmbedded + "\n";
    EXPECT_TRUE(carriesNothing(f, true)) << role;
  }
}

TEST(PassThrough, WhatAnAgentCouldUseKeepsTheContainer) {
  Facts named = container(ATSPI_ROLE_PANEL);
  named.name = "Shortcuts";
  Facts described = container(ATSPI_ROLE_PANEL);
  described.description = "Search results";
  Facts text = container(ATSPI_ROLE_SECTION);
  text.value = kEmbedded + "Total: 3" + kEmbedded;
  Facts number = container(ATSPI_ROLE_FILLER);
  number.value = 0.0;
  Facts editable = container(ATSPI_ROLE_SECTION);  // a contenteditable region
  editable.states |= StateSet{1} << kStateEditable;
  Facts button = container(ATSPI_ROLE_PUSH_BUTTON);
  Facts document = container(ATSPI_ROLE_DOCUMENT_WEB);
  for (const Facts* f : {&named, &described, &text, &number, &editable, &button, &document}) {
    EXPECT_FALSE(carriesNothing(*f, true));
  }
  // Nothing is passed through on what could not be read.
  Facts unread = container(ATSPI_ROLE_PANEL);
  unread.valueRead = false;
  Facts failed = container(ATSPI_ROLE_PANEL);
  failed.basicsError = kAXErrorCannotComplete;
  EXPECT_FALSE(carriesNothing(unread, true));
  EXPECT_FALSE(carriesNothing(failed, true));
}

// GTK 4 names an unnamed widget after its class: no name for an agent.
TEST(PassThrough, Gtk4ClassNamesAreNoNames) {
  for (const char* name : {"AdwGizmo", "GtkListBox", "HistoryView", "AdwLeaflet"}) {
    Facts f = container(ATSPI_ROLE_FILLER);
    f.name = name;
    EXPECT_TRUE(carriesNothing(f, false)) << name;
    EXPECT_FALSE(carriesNothing(f, true)) << name;
  }
  for (const char* name : {"OK", "Save", "Sign up", "Gtk", "gtkBox", "Tab 1", "A4Paper", "Über"}) {
    EXPECT_FALSE(isClassName(name)) << name;
  }
  EXPECT_TRUE(isClassName("YouTube"));  // hence GTK 4 alone
}

TEST(PassThrough, OnlyEmbeddedObjectsAndBlanks) {
  EXPECT_TRUE(onlyEmbeddedObjects(""));
  EXPECT_TRUE(onlyEmbeddedObjects(kEmbedded + kEmbedded));
  EXPECT_TRUE(onlyEmbeddedObjects(" " + kEmbedded + "\t" + kEmbedded + " "));
  EXPECT_FALSE(onlyEmbeddedObjects(kEmbedded + "a"));
  EXPECT_FALSE(onlyEmbeddedObjects("\xEF\xBF"));  // a cut U+FFFC is text
}

TEST(Toolkits, QtAndUnknownToolkitsAreReadOneGetPerProperty) {
  for (const char* name : {"GTK", "gtk", "Gecko", "Chromium", "GAIL"}) {
    EXPECT_TRUE(answersPropertyBatches({name, "1"})) << name;
  }
  for (const char* name : {"Qt", "QT", "", "Electron?", "VCL"}) {
    EXPECT_FALSE(answersPropertyBatches({name, "5.15"})) << name;
  }
  EXPECT_TRUE(isGtk4({"GTK", "4.8.3"}));
  EXPECT_FALSE(isGtk4({"GTK", "3.24.38"}));
  EXPECT_FALSE(isGtk4({"gtk", ""}));  // LibreOffice reports no version
}

}  // namespace

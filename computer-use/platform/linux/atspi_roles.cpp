#include "computer-use/platform/linux/atspi_roles.h"

#include <algorithm>
#include <cctype>

namespace vorn::platform::atspi {
namespace {

// AtspiRole in its order (at-spi2-core 2.46): the index is the role number.
constexpr std::string_view kRoleNames[] = {
    "INVALID",
    "ACCELERATOR_LABEL",
    "ALERT",
    "ANIMATION",
    "ARROW",
    "CALENDAR",
    "CANVAS",
    "CHECK_BOX",
    "CHECK_MENU_ITEM",
    "COLOR_CHOOSER",
    "COLUMN_HEADER",
    "COMBO_BOX",
    "DATE_EDITOR",
    "DESKTOP_ICON",
    "DESKTOP_FRAME",
    "DIAL",
    "DIALOG",
    "DIRECTORY_PANE",
    "DRAWING_AREA",
    "FILE_CHOOSER",
    "FILLER",
    "FOCUS_TRAVERSABLE",
    "FONT_CHOOSER",
    "FRAME",
    "GLASS_PANE",
    "HTML_CONTAINER",
    "ICON",
    "IMAGE",
    "INTERNAL_FRAME",
    "LABEL",
    "LAYERED_PANE",
    "LIST",
    "LIST_ITEM",
    "MENU",
    "MENU_BAR",
    "MENU_ITEM",
    "OPTION_PANE",
    "PAGE_TAB",
    "PAGE_TAB_LIST",
    "PANEL",
    "PASSWORD_TEXT",
    "POPUP_MENU",
    "PROGRESS_BAR",
    "PUSH_BUTTON",
    "RADIO_BUTTON",
    "RADIO_MENU_ITEM",
    "ROOT_PANE",
    "ROW_HEADER",
    "SCROLL_BAR",
    "SCROLL_PANE",
    "SEPARATOR",
    "SLIDER",
    "SPIN_BUTTON",
    "SPLIT_PANE",
    "STATUS_BAR",
    "TABLE",
    "TABLE_CELL",
    "TABLE_COLUMN_HEADER",
    "TABLE_ROW_HEADER",
    "TEAROFF_MENU_ITEM",
    "TERMINAL",
    "TEXT",
    "TOGGLE_BUTTON",
    "TOOL_BAR",
    "TOOL_TIP",
    "TREE",
    "TREE_TABLE",
    "UNKNOWN",
    "VIEWPORT",
    "WINDOW",
    "EXTENDED",
    "HEADER",
    "FOOTER",
    "PARAGRAPH",
    "RULER",
    "APPLICATION",
    "AUTOCOMPLETE",
    "EDITBAR",
    "EMBEDDED",
    "ENTRY",
    "CHART",
    "CAPTION",
    "DOCUMENT_FRAME",
    "HEADING",
    "PAGE",
    "SECTION",
    "REDUNDANT_OBJECT",
    "FORM",
    "LINK",
    "INPUT_METHOD_WINDOW",
    "TABLE_ROW",
    "TREE_ITEM",
    "DOCUMENT_SPREADSHEET",
    "DOCUMENT_PRESENTATION",
    "DOCUMENT_TEXT",
    "DOCUMENT_WEB",
    "DOCUMENT_EMAIL",
    "COMMENT",
    "LIST_BOX",
    "GROUPING",
    "IMAGE_MAP",
    "NOTIFICATION",
    "INFO_BAR",
    "LEVEL_BAR",
    "TITLE_BAR",
    "BLOCK_QUOTE",
    "AUDIO",
    "VIDEO",
    "DEFINITION",
    "ARTICLE",
    "LANDMARK",
    "LOG",
    "MARQUEE",
    "MATH",
    "RATING",
    "TIMER",
    "STATIC",
    "MATH_FRACTION",
    "MATH_ROOT",
    "SUBSCRIPT",
    "SUPERSCRIPT",
    "DESCRIPTION_LIST",
    "DESCRIPTION_TERM",
    "DESCRIPTION_VALUE",
    "FOOTNOTE",
    "CONTENT_DELETION",
    "CONTENT_INSERTION",
    "MARK",
    "SUGGESTION",
    "PUSH_BUTTON_MENU",
};

struct FixedRole {
  std::string_view atspi;
  std::string_view ax;
};

// The roles with a name of their own; text roles are handled apart.
constexpr FixedRole kFixedRoles[] = {
    {"FRAME", "AXWindow"},
    {"WINDOW", "AXWindow"},
    {"DIALOG", "AXWindow"},
    {"ALERT", "AXWindow"},
    {"FILE_CHOOSER", "AXWindow"},
    {"COLOR_CHOOSER", "AXWindow"},
    {"FONT_CHOOSER", "AXWindow"},
    {"PUSH_BUTTON", "AXButton"},
    {"TOGGLE_BUTTON", "AXCheckBox"},
    {"CHECK_BOX", "AXCheckBox"},
    {"RADIO_BUTTON", "AXRadioButton"},
    {"PAGE_TAB", "AXRadioButton"},
    {"COMBO_BOX", "AXComboBox"},
    {"SPIN_BUTTON", "AXIncrementor"},
    {"LABEL", "AXStaticText"},
    {"STATIC", "AXStaticText"},
    {"CAPTION", "AXStaticText"},
    {"MENU_BAR", "AXMenuBar"},
    {"MENU", "AXMenu"},
    {"MENU_ITEM", "AXMenuItem"},
    {"CHECK_MENU_ITEM", "AXMenuItem"},
    {"RADIO_MENU_ITEM", "AXMenuItem"},
    {"TEAROFF_MENU_ITEM", "AXMenuItem"},
    {"LIST", "AXList"},
    {"LIST_BOX", "AXList"},
    {"LIST_ITEM", "AXRow"},
    {"TABLE_ROW", "AXRow"},
    {"TREE_ITEM", "AXRow"},
    {"TABLE", "AXTable"},
    {"TREE_TABLE", "AXTable"},
    {"TREE", "AXOutline"},
    {"TABLE_CELL", "AXCell"},
    {"SCROLL_PANE", "AXScrollArea"},
    {"SCROLL_BAR", "AXScrollBar"},
    {"SLIDER", "AXSlider"},
    {"PROGRESS_BAR", "AXProgressIndicator"},
    {"IMAGE", "AXImage"},
    {"ICON", "AXImage"},
    {"LINK", "AXLink"},
    {"PANEL", "AXGroup"},
    {"FILLER", "AXGroup"},
    {"SECTION", "AXGroup"},
    {"GROUPING", "AXGroup"},
    {"FORM", "AXGroup"},
    {"TOOL_BAR", "AXToolbar"},
    {"PAGE_TAB_LIST", "AXTabGroup"},
    {"SPLIT_PANE", "AXSplitGroup"},
    {"HEADING", "AXHeading"},
    {"DOCUMENT_WEB", "AXWebArea"},
    {"DOCUMENT_FRAME", "AXWebArea"},
    {"TOOL_TIP", "AXHelpTag"},
};

constexpr std::string_view kTextRoles[] = {"TEXT", "ENTRY", "PASSWORD_TEXT"};
constexpr std::string_view kCheckableRoles[] = {"CHECK_BOX", "RADIO_BUTTON", "TOGGLE_BUTTON",
                                                "CHECK_MENU_ITEM", "RADIO_MENU_ITEM"};
constexpr std::string_view kScrollableRoles[] = {"SCROLL_PANE",
                                                 "LIST",
                                                 "LIST_BOX",
                                                 "TABLE",
                                                 "TREE",
                                                 "TREE_TABLE",
                                                 "DOCUMENT_FRAME",
                                                 "DOCUMENT_WEB",
                                                 "DOCUMENT_TEXT",
                                                 "DOCUMENT_EMAIL",
                                                 "DOCUMENT_SPREADSHEET",
                                                 "DOCUMENT_PRESENTATION"};

constexpr std::string_view kStructuralRoles[] = {
    "PANEL",       "FILLER",           "SECTION",        "GROUPING",
    "FORM",        "REDUNDANT_OBJECT", "UNKNOWN",        "SCROLL_PANE",
    "SPLIT_PANE",  "LAYERED_PANE",     "ROOT_PANE",      "GLASS_PANE",
    "OPTION_PANE", "VIEWPORT",         "INTERNAL_FRAME", "HTML_CONTAINER"};

template <std::size_t N>
bool among(std::string_view name, const std::string_view (&names)[N]) {
  return !name.empty() && std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// "DRAWING_AREA" -> "DrawingArea".
std::string camelCase(std::string_view name) {
  std::string out;
  bool start = true;
  for (char c : name) {
    if (c == '_') {
      start = true;
      continue;
    }
    out += start ? c : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    start = false;
  }
  return out;
}

}  // namespace

std::string_view roleName(std::uint32_t role) {
  return role < std::size(kRoleNames) ? kRoleNames[role] : std::string_view();
}

std::uint32_t interfaceBit(std::string_view dbusName) {
  if (dbusName == "org.a11y.atspi.Action") return kInterfaceAction;
  if (dbusName == "org.a11y.atspi.Component") return kInterfaceComponent;
  if (dbusName == "org.a11y.atspi.EditableText") return kInterfaceEditableText;
  if (dbusName == "org.a11y.atspi.Text") return kInterfaceText;
  if (dbusName == "org.a11y.atspi.Value") return kInterfaceValue;
  return 0;
}

std::string axRole(std::uint32_t role, bool multiLine) {
  std::string_view name = roleName(role);
  if (name.empty()) return "AXUnknown";
  if (among(name, kTextRoles)) return multiLine ? "AXTextArea" : "AXTextField";
  for (const auto& fixed : kFixedRoles) {
    if (fixed.atspi == name) return std::string(fixed.ax);
  }
  return "AX" + camelCase(name);
}

bool isWindowLike(std::uint32_t role) { return axRole(role, false) == "AXWindow"; }

bool isCheckable(std::uint32_t role) { return among(roleName(role), kCheckableRoles); }

bool isStructural(std::uint32_t role) { return among(roleName(role), kStructuralRoles); }

bool isScrollable(std::uint32_t role, bool multiLine) {
  std::string_view name = roleName(role);
  return among(name, kScrollableRoles) || (multiLine && among(name, kTextRoles));
}

}  // namespace vorn::platform::atspi

// What differs between the toolkits' AT-SPI bridges, by the toolkit name an
// application reports (org.a11y.atspi.Application.ToolkitName).
#pragma once

#include <string>
#include <string_view>

namespace vorn::platform::atspi {

/// What an application reports of its toolkit.
struct Toolkit {
  std::string name;     ///< ToolkitName: "GTK", "gtk" (LibreOffice), "Qt", "Gecko", ...
  std::string version;  ///< Version: "4.8.3"
};

/// Whether the bridge of `toolkitName` answers Properties.GetAll on
/// org.a11y.atspi.Accessible. atk-bridge does (GTK 3, LibreOffice, Firefox,
/// Chromium) and so does GTK 4's own bridge; Qt 5 and Qt 6 crash on it
/// (QVariant::toString on a property they cannot convert), so every other
/// toolkit, and an unknown one, is read one Get per property.
bool answersPropertyBatches(const Toolkit& toolkit);

/// GTK 4, which names an unnamed widget after its class ("GtkBox",
/// "AdwLeaflet") and answers Text.GetText with an end of -1 ("to the end" for
/// every other bridge) with nothing.
bool isGtk4(const Toolkit& toolkit);

/// Whether `name` looks like a widget class name: one word of letters and
/// digits, starting with a capital, with a capital after a lower-case letter
/// inside it ("GtkListBox", "HistoryView"; not "OK", "Save" or "Sign up").
bool isClassName(std::string_view name);

}  // namespace vorn::platform::atspi

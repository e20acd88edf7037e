// Build-time tool: compiles the US layout with libxkbcommon and writes it as
// C++ source, the keymap text the virtual keyboard uploads and the modifier
// masks it reports. Compiling a full layout costs about 10 ms, a keypress's
// whole budget, so the helper carries the result instead. It also checks that
// the keys the helper presses carry the keysyms it means: a build against
// unusual keyboard data fails here rather than typing wrong keys later.
// Usage: keymap_generator OUTPUT
#include <linux/input-event-codes.h>
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>

namespace {

// evdev keycodes are xkb keycodes less 8.
constexpr xkb_keycode_t kEvdevOffset = 8;
// X clients (XWayland's) know no keycode above it.
constexpr xkb_keycode_t kLastTypingKeycode = 255;

struct Expected {
  int code;
  xkb_keysym_t keysym;
};

constexpr Expected kKeys[] = {
    {KEY_A, XKB_KEY_a},
    {KEY_Z, XKB_KEY_z},
    {KEY_X, XKB_KEY_x},
    {KEY_C, XKB_KEY_c},
    {KEY_V, XKB_KEY_v},
    {KEY_ENTER, XKB_KEY_Return},
    {KEY_TAB, XKB_KEY_Tab},
    {KEY_SPACE, XKB_KEY_space},
    {KEY_BACKSPACE, XKB_KEY_BackSpace},
    {KEY_ESC, XKB_KEY_Escape},
    {KEY_LEFT, XKB_KEY_Left},
    {KEY_RIGHT, XKB_KEY_Right},
    {KEY_DOWN, XKB_KEY_Down},
    {KEY_UP, XKB_KEY_Up},
    {KEY_LEFTCTRL, XKB_KEY_Control_L},
    {KEY_LEFTALT, XKB_KEY_Alt_L},
    {KEY_LEFTSHIFT, XKB_KEY_Shift_L},
    {KEY_LEFTMETA, XKB_KEY_Super_L},
};

bool checkKeys(xkb_keymap* keymap) {
  for (const auto& key : kKeys) {
    const xkb_keysym_t* syms = nullptr;
    int n = xkb_keymap_key_get_syms_by_level(keymap, key.code + kEvdevOffset, 0, 0, &syms);
    if (n < 1 || syms[0] != key.keysym) {
      std::fprintf(stderr, "keymap_generator: key %d does not carry keysym 0x%x\n", key.code,
                   key.keysym);
      return false;
    }
  }
  return true;
}

// The keymap as a sequence of string literals, one a line.
void writeText(std::ofstream& out, const std::string& text) {
  out << "inline constexpr char kKeymapText[] =\n";
  std::string line = "    \"";
  for (char c : text) {
    if (c == '\n') {
      out << line << "\\n\"\n";
      line = "    \"";
    } else if (c == '"' || c == '\\') {
      line += '\\';
      line += c;
    } else {
      line += c;
    }
  }
  out << line << "\";\n";
}

// The characters the layout types on its own, at the first key (lowest
// code) and level (unshifted before shifted) that carries each: the digits
// of the main block before the keypad's. Control characters are left out
// (line feed and tab are typed as Return and Tab by name).
void writeTypedKeys(std::ofstream& out, xkb_keymap* keymap) {
  std::map<char32_t, std::pair<xkb_keycode_t, int>> typed;
  for (xkb_keycode_t kc = kEvdevOffset; kc <= kLastTypingKeycode; ++kc) {
    for (int level = 0; level < 2; ++level) {
      const xkb_keysym_t* syms = nullptr;
      if (xkb_keymap_key_get_syms_by_level(keymap, kc, 0, level, &syms) != 1) continue;
      char32_t c = xkb_keysym_to_utf32(syms[0]);
      if (c < 0x20 || c == 0x7F) continue;
      typed.try_emplace(c, kc, level);
    }
  }
  out << "struct TypedKey {\n  char32_t character;\n  std::uint32_t code;\n  bool shifted;\n};\n"
         "inline constexpr TypedKey kTypedKeys[] = {\n";
  for (const auto& [c, key] : typed) {
    out << "    {0x" << std::hex << static_cast<std::uint32_t>(c) << std::dec << ", "
        << key.first - kEvdevOffset << ", " << (key.second == 1 ? "true" : "false") << "},\n";
  }
  out << "};\n";
}

// Keys the layout names but binds nothing to: typing binds the characters it
// lacks there, in a keymap uploaded for the purpose.
void writeSpareKeys(std::ofstream& out, xkb_keymap* keymap) {
  out << "struct SpareKey {\n  std::uint32_t code;\n  const char* name;\n};\n"
         "inline constexpr SpareKey kSpareKeys[] = {\n";
  for (xkb_keycode_t kc = kEvdevOffset; kc <= kLastTypingKeycode; ++kc) {
    const char* name = xkb_keymap_key_get_name(keymap, kc);
    if (name == nullptr || xkb_keymap_num_layouts_for_key(keymap, kc) != 0) continue;
    out << "    {" << kc - kEvdevOffset << ", \"" << name << "\"},\n";
  }
  out << "};\n";
}

std::uint32_t mask(xkb_keymap* keymap, const char* name) {
  xkb_mod_index_t index = xkb_keymap_mod_get_index(keymap, name);
  return index == XKB_MOD_INVALID ? 0 : 1u << index;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: keymap_generator OUTPUT\n");
    return 2;
  }
  std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> context(
      xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES), xkb_context_unref);
  xkb_rule_names names{"evdev", "pc105", "us", "", ""};
  std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> keymap(
      context ? xkb_keymap_new_from_names(context.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS)
              : nullptr,
      xkb_keymap_unref);
  if (!keymap || !checkKeys(keymap.get())) return 1;
  std::unique_ptr<char, decltype(&std::free)> text(
      xkb_keymap_get_as_string(keymap.get(), XKB_KEYMAP_FORMAT_TEXT_V1), std::free);
  if (!text) return 1;
  // Where the symbols section closes: bindings for typing go in before it.
  const std::string keymapText = text.get();
  const std::size_t symbolsEnd = keymapText.rfind("};\n\n};");
  if (symbolsEnd == std::string::npos) return 1;

  const std::uint32_t masks[] = {
      mask(keymap.get(), XKB_MOD_NAME_SHIFT), mask(keymap.get(), XKB_MOD_NAME_CTRL),
      mask(keymap.get(), XKB_MOD_NAME_ALT), mask(keymap.get(), XKB_MOD_NAME_LOGO)};
  for (auto m : masks) {
    if (m == 0) return 1;
  }
  std::ofstream out(argv[1]);
  out << "// Generated by keymap_generator from the US layout; do not edit.\n"
         "#pragma once\n#include <cstddef>\n#include <cstdint>\n"
         "namespace vorn::platform::wayland::generated {\n";
  writeText(out, keymapText);
  out << "inline constexpr std::size_t kSymbolsEnd = " << symbolsEnd << ";\n";
  writeTypedKeys(out, keymap.get());
  writeSpareKeys(out, keymap.get());
  const char* constants[] = {"kShiftMask", "kControlMask", "kAltMask", "kSuperMask"};
  for (int i = 0; i < 4; ++i) {
    out << "inline constexpr std::uint32_t " << constants[i] << " = " << masks[i] << "u;\n";
  }
  out << "}  // namespace vorn::platform::wayland::generated\n";
  out.close();
  return out ? 0 : 1;
}

# Generates the client code of the Wayland protocols the helper speaks, and
# the keyboard's keymap. Sets VORN_WAYLAND_GENERATED_DIR (headers) and
# VORN_WAYLAND_PROTOCOL_SOURCES (interface tables), and the target
# vorn_wayland_generated that makes them.
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET wayland-client)
pkg_check_modules(XKBCOMMON REQUIRED IMPORTED_TARGET xkbcommon)
pkg_get_variable(WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
pkg_get_variable(WAYLAND_SCANNER wayland-scanner wayland_scanner)
if(NOT WAYLAND_PROTOCOLS_DIR OR NOT WAYLAND_SCANNER)
  message(FATAL_ERROR "wayland-protocols and wayland-scanner (libwayland-dev) are needed")
endif()

set(VORN_WAYLAND_GENERATED_DIR ${CMAKE_CURRENT_BINARY_DIR}/wayland-generated)
set(vorn_vendored ${CMAKE_CURRENT_SOURCE_DIR}/platform/wayland/protocols)
set(vorn_protocol_xmls
  ${WAYLAND_PROTOCOLS_DIR}/unstable/xdg-output/xdg-output-unstable-v1.xml
  ${vorn_vendored}/virtual-keyboard-unstable-v1.xml
  ${vorn_vendored}/wlr-screencopy-unstable-v1.xml
  ${vorn_vendored}/wlr-virtual-pointer-unstable-v1.xml
)
set(VORN_WAYLAND_PROTOCOL_SOURCES)
set(vorn_generated_headers)
foreach(xml IN LISTS vorn_protocol_xmls)
  get_filename_component(name ${xml} NAME_WE)
  set(header ${VORN_WAYLAND_GENERATED_DIR}/${name}-client-protocol.h)
  set(code ${VORN_WAYLAND_GENERATED_DIR}/${name}-protocol.c)
  add_custom_command(OUTPUT ${header} ${code}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VORN_WAYLAND_GENERATED_DIR}
    COMMAND ${WAYLAND_SCANNER} client-header ${xml} ${header}
    COMMAND ${WAYLAND_SCANNER} private-code ${xml} ${code}
    DEPENDS ${xml}
    COMMENT "wayland-scanner ${name}"
    VERBATIM)
  list(APPEND VORN_WAYLAND_PROTOCOL_SOURCES ${code})
  list(APPEND vorn_generated_headers ${header})
endforeach()

# The keymap, compiled by libxkbcommon on the build machine. Never
# instrumented: it runs during the build, whatever the build is for.
add_executable(vorn_keymap_generator platform/wayland/keymap_generator.cpp)
target_link_libraries(vorn_keymap_generator PRIVATE PkgConfig::XKBCOMMON)
target_compile_options(vorn_keymap_generator PRIVATE -fno-sanitize=all)
target_link_options(vorn_keymap_generator PRIVATE -fno-sanitize=all)
set(vorn_keymap_header ${VORN_WAYLAND_GENERATED_DIR}/us_keymap.h)
add_custom_command(OUTPUT ${vorn_keymap_header}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${VORN_WAYLAND_GENERATED_DIR}
  COMMAND vorn_keymap_generator ${vorn_keymap_header}
  DEPENDS vorn_keymap_generator
  COMMENT "Compiling the US keymap"
  VERBATIM)

add_custom_target(vorn_wayland_generated DEPENDS ${vorn_generated_headers} ${vorn_keymap_header})

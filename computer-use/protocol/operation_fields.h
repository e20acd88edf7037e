// The fields of the helper's requests and answers, described once: the
// operation table lists them per operation, and the schemas and tool
// descriptions are made of them.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/schema/field.h"

namespace ComputerUseHelperMain::fields {

using vorn::schema::Default;
using vorn::schema::Field;
using vorn::schema::Type;

// ---- Requests ----

inline constexpr Field kLimit{.name = "limit",
                              .type = Type::kInteger,
                              .description = "How many windows at most (at least one is listed).",
                              .fallback = Default::of(std::int64_t{40})};
inline constexpr Field kObservePid{.name = "pid",
                                   .type = Type::kInteger,
                                   .description = "The application's process id.",
                                   .required = true,
                                   .minimum = 1};
inline constexpr Field kWindowTitle{
    .name = "title",
    .description = "The window's title; none or no match: the application's first window."};
inline constexpr Field kMaxDepth{.name = "max_depth",
                                 .type = Type::kInteger,
                                 .description = "How many levels below the window are read.",
                                 .fallback = Default::of(std::int64_t{4})};
inline constexpr Field kMaxNodes{.name = "max_nodes",
                                 .type = Type::kInteger,
                                 .description = "How many elements are read at most.",
                                 .fallback = Default::of(std::int64_t{180})};
inline constexpr Field kAppName{
    .name = "app_name", .description = "The application's name, for the root's description."};
inline constexpr Field kBundleId{.name = "bundle_id",
                                 .description = "Handed back as sent (from list_windows)."};
inline constexpr Field kWindowNumberEcho{.name = "window_number",
                                         .type = Type::kInteger,
                                         .description = "Handed back as sent (from list_windows)."};
inline constexpr Field kNativeKey{.name = "native_key",
                                  .description = "Handed back as sent (from list_windows)."};

inline constexpr Field kAction{
    .name = "action",
    .description =
        "press, click, focus, settext, typetext, scroll or keypress (case does not matter)."};
inline constexpr Field kStateId{.name = "state_id",
                                .description = "The observation the reference comes from."};
inline constexpr Field kRef{.name = "ref",
                            .description = "The element, as observe referenced it (\"@e3\")."};
inline constexpr Field kPerformPid{
    .name = "pid",
    .type = Type::kInteger,
    .description = "The application, to find the element again when the state is gone."};
inline constexpr Field kPerformWindowTitle{.name = "window_title",
                                           .description = "The window, to find the element again."};
inline constexpr Field kRole{.name = "role",
                             .description = "The element's role, to find it again."};
inline constexpr Field kElementTitle{.name = "title",
                                     .description = "The element's title, to find it again."};
inline constexpr Field kElementValue{.name = "value",
                                     .description = "The element's value, to find it again."};
inline constexpr Field kText{.name = "text", .description = "The text to set (settext, typetext)."};
inline constexpr Field kPreferBackground{
    .name = "prefer_background",
    .type = Type::kBoolean,
    .description = "false: bring the application to the front first."};
inline constexpr Field kKey{.name = "key",
                            .description = "A key combination (\"ctrl+shift+t\", \"Return\")."};
inline constexpr Field kPerformKey{
    .name = "key", .description = "With action keypress: a key combination to type."};
inline constexpr Field kX{.name = "x",
                          .type = Type::kNumber,
                          .description = "Screen x coordinate.",
                          .fallback = Default::of(0.0)};
inline constexpr Field kY{.name = "y",
                          .type = Type::kNumber,
                          .description = "Screen y coordinate.",
                          .fallback = Default::of(0.0)};
inline constexpr Field kPerformX{
    .name = "x", .type = Type::kNumber, .description = "With click or press and no ref: screen x."};
inline constexpr Field kPerformY{
    .name = "y", .type = Type::kNumber, .description = "With click or press and no ref: screen y."};
inline constexpr Field kButton{.name = "button",
                               .description = "left, right or middle (any other name: left).",
                               .fallback = Default::of(std::string_view("left"))};
inline constexpr Field kWindowNumber{.name = "window_number",
                                     .type = Type::kInteger,
                                     .description = "The window, as list_windows numbers it.",
                                     .required = true,
                                     .minimum = 1};

// ---- Answers ----

inline constexpr Field kOk{.name = "ok",
                           .type = Type::kBoolean,
                           .description = "Whether the operation did what was asked.",
                           .required = true};
inline constexpr Field kError{
    .name = "error", .description = "What kind of failure.", .required = true};
inline constexpr Field kMessage{
    .name = "message", .description = "The failure in words.", .required = true};
inline constexpr Field kAxInHelper{.name = "ax_in_helper",
                                   .type = Type::kBoolean,
                                   .description = "Accessibility runs in the helper itself."};

inline constexpr std::string_view kHelperName[] = {"vorn-computer-use"};
inline constexpr Field kPingAnswer[] = {
    kOk,
    {.name = "helper", .description = "The program that answered.", .allowed = kHelperName},
    {.name = "pid", .type = Type::kInteger, .description = "The helper's process id."},
    kAxInHelper};

inline constexpr Field kWindowRecord[] = {
    {.name = "pid",
     .type = Type::kInteger,
     .description = "The owner's process id.",
     .required = true},
    {.name = "window_number",
     .type = Type::kInteger,
     .description = "The window's number.",
     .required = true},
    {.name = "title", .description = "The window's title.", .required = true},
    {.name = "bundle_id",
     .description = "The application's id.",
     .required = true,
     .nullable = true},
    {.name = "app_name", .description = "The application's name.", .required = true},
    {.name = "native_key", .description = "pid, window and bundle in one text.", .required = true},
};
inline constexpr Field kWindowsAnswer[] = {
    kOk, vorn::schema::withMembers({.name = "windows",
                                    .type = Type::kObjectList,
                                    .description = "The windows, front to back."},
                                   kWindowRecord)};

inline constexpr std::string_view kOutcomes[] = {"worked", "didnt"};
inline constexpr Field kOutcome{
    .name = "outcome", .description = "Whether the action worked.", .allowed = kOutcomes};
inline constexpr Field kOutcomeMessage{
    .name = "message", .description = "What was done, or why it was not.", .nullable = true};
inline constexpr Field kInputAnswer[] = {kOk, kOutcome, kOutcomeMessage};
inline constexpr Field kActionAnswer[] = {kOk, kOutcome, kOutcomeMessage, kAxInHelper};

inline constexpr Field kNode[] = {
    {.name = "ref", .description = "The element's reference.", .required = true},
    {.name = "role", .description = "Its role.", .required = true},
    {.name = "title", .description = "Its title.", .required = true, .nullable = true},
    {.name = "value", .description = "Its value.", .required = true, .nullable = true},
    {.name = "description", .description = "Its description.", .required = true, .nullable = true},
    {.name = "enabled",
     .type = Type::kBoolean,
     .description = "Whether it takes input.",
     .required = true},
    {.name = "children",
     .type = Type::kObjectList,
     .description = "Its elements, in order.",
     .required = true},
};
inline constexpr Field kObserveAnswer[] = {
    kOk,
    {.name = "state_id", .description = "Under which the references hold."},
    {.name = "pid", .type = Type::kInteger, .description = "The application."},
    {.name = "bundle_id", .type = Type::kAny, .description = "As sent, or null."},
    {.name = "window_number", .type = Type::kAny, .description = "As sent, or null."},
    {.name = "native_key", .type = Type::kAny, .description = "As sent, or null."},
    {.name = "title", .description = "The window title asked for."},
    vorn::schema::withMembers(
        {.name = "outline", .type = Type::kObjectList, .description = "The root, with its tree."},
        kNode),
    vorn::schema::withMembers({.name = "elements",
                               .type = Type::kObjectList,
                               .description = "Every element, in reference order."},
                              kNode),
    kAxInHelper};

inline constexpr Field kFrame[] = {
    {.name = "x", .type = Type::kNumber, .description = "Left, in points.", .required = true},
    {.name = "y", .type = Type::kNumber, .description = "Top, in points.", .required = true},
    {.name = "width", .type = Type::kNumber, .description = "In points.", .required = true},
    {.name = "height", .type = Type::kNumber, .description = "In points.", .required = true},
};
inline constexpr Field kImageSize[] = {
    {.name = "width", .type = Type::kInteger, .description = "In pixels.", .required = true},
    {.name = "height", .type = Type::kInteger, .description = "In pixels.", .required = true},
};
inline constexpr std::string_view kAttached[] = {"attached"};
inline constexpr Field kScreenshotAnswer[] = {
    kOk,
    {.name = "path", .description = "The PNG file."},
    {.name = "url", .description = "The PNG file as a file: URL."},
    {.name = "window_number", .type = Type::kInteger, .description = "The window captured."},
    vorn::schema::withMembers(
        {.name = "window_frame", .type = Type::kObject, .description = "Where the window is."},
        kFrame),
    vorn::schema::withMembers(
        {.name = "image_size", .type = Type::kObject, .description = "The image's size."},
        kImageSize),
    {.name = "scale", .type = Type::kNumber, .description = "Pixels per point."},
    {.name = "vision", .description = "The image is attached.", .allowed = kAttached},
    kAxInHelper};

inline constexpr Field kFailureAnswer[] = {
    {.name = "ok", .type = Type::kBoolean, .description = "false.", .required = true},
    kError,
    kMessage};

}  // namespace ComputerUseHelperMain::fields

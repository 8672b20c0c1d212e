// Dialog resources as data: the templates of the main window, the About box and the four
// pages, in dialog units, with the string table, the icon id and the version text.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class ControlKind {
    GroupBox,
    PushButton,
    DefPushButton,
    Edit,
    Static,
    Icon,
    DropList,
    Radio,
    Tab,
    Progress,
};

// Style bits that change how a control behaves or looks.
namespace ControlStyle {
enum : uint32_t {
    ReadOnly = 1u << 0,
    Disabled = 1u << 1,
    Centered = 1u << 2,
    RightAligned = 1u << 3,
    LeftAligned = 1u << 4,
    Border = 1u << 5,
    TabStop = 1u << 6,
    VScroll = 1u << 7,
    AutoHScroll = 1u << 8,
    Cancel = 1u << 9,  // the dialog's cancel command (Escape, close box)
    Group = 1u << 10,  // first control of a group (radio buttons)
    NoBorder = 1u << 11,
};
}

// Labels and group boxes that nothing addresses carry this id; there may be several.
constexpr int kNoControlId = -1;

struct ControlTemplate {
    int id;
    ControlKind kind;
    std::string text;  // for Icon: the icon resource id in decimal
    int x, y, cx, cy;  // dialog units
    uint32_t style;
    std::vector<std::string> items;  // initial list items (drop-down lists)
};

struct DialogTemplate {
    int id;
    std::string caption;
    int cx, cy;  // dialog units
    std::string font;
    int pointSize;
    bool child;  // a page inside another window: no caption, not visible at creation
    std::vector<ControlTemplate> controls;
};

// Template ids.
constexpr int kIddAbout = 100;
constexpr int kIddMain = 102;
constexpr int kIddFlash = 133;
constexpr int kIddMemory = 134;
constexpr int kIddEeprom = 135;
constexpr int kIddMisc = 136;
constexpr int kIdiMainIcon = 128;
constexpr int kIdsAboutBox = 101;

// The template with that id; throws std::out_of_range for an unknown id.
const DialogTemplate& GetDialogTemplate(int id);
// Every template id, for backings that check or preload them.
const std::vector<int>& DialogTemplateIds();

// String table: 101 and the LinkError texts 102-116; empty for an id without a string.
std::string LoadResourceString(int id);

// The FileVersion of the version resource, "1, 0, 0, 11".
const char* VersionText();

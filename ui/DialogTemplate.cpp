#include "ui/DialogTemplate.h"

#include <map>
#include <stdexcept>

#include "link/LinkErrors.h"

#ifndef TAPWRIGHT_VERSION_TEXT
#define TAPWRIGHT_VERSION_TEXT "1, 0, 0, 11"
#endif

namespace {

using K = ControlKind;
namespace S = ControlStyle;

constexpr uint32_t kInfoEdit = S::ReadOnly | S::Disabled | S::Centered | S::Border;
constexpr uint32_t kPageEdit = S::Centered | S::Border | S::TabStop;
constexpr uint32_t kLabel = S::RightAligned;
constexpr uint32_t kButton = S::TabStop;
constexpr const char* kFont = "MS Sans Serif";

DialogTemplate MainTemplate() {
    return {kIddMain,
            "Tapwright for STi Processors",
            395,
            254,
            kFont,
            8,
            false,
            {
                {kNoControlId, K::GroupBox, "TARGET", 7, 7, 327, 31, 0, {}},
                {1000, K::PushButton, "CPU ID", 15, 18, 39, 12, kButton, {}},
                {1001, K::Edit, "", 64, 18, 53, 12, kInfoEdit, {}},
                {kNoControlId, K::Static, "CPU :", 120, 20, 21, 9, kLabel, {}},
                {1002, K::Edit, "", 145, 18, 78, 13, kInfoEdit, {}},
                {kNoControlId, K::Static, "DUT :", 230, 20, 19, 9, kLabel, {}},
                {1033,
                 K::DropList,
                 "",
                 254,
                 17,
                 77,
                 81,
                 S::VScroll | S::TabStop,
                 {"DUT 1", "DUT 2", "DUT 3"}},
                {kNoControlId, K::GroupBox, "LPT Port", 337, 6, 51, 32, 0, {}},
                {1025,
                 K::DropList,
                 "",
                 343,
                 18,
                 40,
                 65,
                 S::VScroll | S::TabStop,
                 {"0x378", "0x278", "0x3BC"}},
                {kNoControlId, K::GroupBox, "TRAP HANDLER", 7, 42, 381, 32, 0, {}},
                {1022, K::PushButton, "LOAD", 15, 54, 27, 12, kButton, {}},
                {kNoControlId, K::Static, "Status :", 47, 56, 25, 9, kLabel, {}},
                {1023, K::Edit, "", 77, 54, 52, 13, kInfoEdit, {}},
                {kNoControlId, K::Static, "Ctrl :", 136, 56, 19, 9, kLabel, {}},
                {1030, K::Edit, "", 160, 54, 52, 13, kInfoEdit, {}},
                {kNoControlId, K::Static, "Iptr :", 217, 56, 21, 9, kLabel, {}},
                {1035, K::Edit, "", 243, 54, 52, 13, kInfoEdit, {}},
                {kNoControlId, K::Static, "Wptr :", 299, 56, 22, 9, kLabel, {}},
                {1024, K::Edit, "", 326, 54, 52, 13, kInfoEdit, {}},
                {1054, K::Tab, "", 7, 82, 380, 120, 0, {}},
                {1011, K::Progress, "", 7, 211, 313, 13, S::Border, {}},
                {2, K::PushButton, "Fin", 330, 210, 50, 14, S::TabStop | S::Cancel, {}},
                {1016, K::Edit, "", 7, 231, 313, 14, S::ReadOnly | S::Border | S::LeftAligned, {}},
                {1020, K::Edit, "", 321, 230, 67, 15, S::ReadOnly | S::Border | S::Centered, {}},
            }};
}

DialogTemplate AboutTemplate() {
    return {kIddAbout,
            "A propos de Tapwright",
            154,
            47,
            kFont,
            8,
            false,
            {
                {kNoControlId, K::Icon, "128", 7, 12, 21, 20, 0, {}},
                {kNoControlId, K::Static, "Tapwright Version", 36, 11, 57, 8, S::LeftAligned, {}},
                {1030, K::Edit, "", 95, 11, 29, 12, S::ReadOnly | S::NoBorder, {}},
                {kNoControlId, K::Static, "Date :", 38, 26, 40, 8, S::LeftAligned, {}},
                {1031, K::Edit, "", 82, 26, 43, 12, S::ReadOnly | S::NoBorder, {}},
                {1, K::DefPushButton, "OK", 129, 14, 18, 14, S::TabStop | S::Group, {}},
            }};
}

DialogTemplate FlashTemplate() {
    return {
        kIddFlash,
        "",
        380,
        100,
        kFont,
        8,
        true,
        {
            {1034, K::DropList, "", 7, 7, 75, 89, S::VScroll | S::TabStop, {"Firmware", "Tables"}},
            {kNoControlId, K::Static, "Bus :", 7, 83, 19, 9, kLabel, {}},
            {1036,
             K::DropList,
             "",
             30,
             81,
             52,
             73,
             S::VScroll | S::TabStop,
             {"8 bits", "16 bits", "32 bits"}},
            {1044, K::PushButton, "LOAD TRAP", 25, 43, 55, 12, kButton, {}},
            {kNoControlId, K::Static, "ID :", 83, 8, 21, 9, kLabel, {}},
            {1004, K::Edit, "", 108, 7, 78, 13, kInfoEdit, {}},
            {kNoControlId, K::Static, "MFG :", 100, 33, 21, 9, kLabel, {}},
            {1005, K::Edit, "", 125, 31, 52, 13, kInfoEdit, {}},
            {kNoControlId, K::Static, "DEV :", 100, 57, 21, 9, kLabel, {}},
            {1043, K::Edit, "", 125, 55, 52, 13, kInfoEdit, {}},
            {kNoControlId, K::Static, "BASE :", 98, 82, 23, 9, kLabel, {}},
            {1039, K::Edit, "", 125, 80, 52, 13, S::Centered | S::Border, {}},
            {kNoControlId, K::Static, "File :", 196, 8, 15, 9, kLabel, {}},
            {1038, K::Edit, "", 215, 7, 110, 13, S::AutoHScroll | S::Border | S::TabStop, {}},
            {kNoControlId, K::Static, "Start :", 190, 45, 21, 9, kLabel, {}},
            {1040, K::Edit, "", 215, 43, 52, 13, kPageEdit, {}},
            {kNoControlId, K::Static, "Size :", 190, 82, 21, 9, kLabel, {}},
            {1041, K::Edit, "", 215, 80, 52, 13, kPageEdit, {}},
            {1007, K::PushButton, "READ", 333, 7, 40, 12, kButton, {}},
            {1012, K::PushButton, "ERASE", 333, 32, 40, 12, kButton, {}},
            {1021, K::PushButton, "WRITE", 333, 56, 40, 12, kButton, {}},
            {1014, K::PushButton, "VERIFY", 333, 81, 40, 12, kButton, {}},
        }};
}

DialogTemplate EepromTemplate() {
    return {kIddEeprom,
            "",
            380,
            100,
            kFont,
            8,
            true,
            {
                {1044, K::PushButton, "LOAD TRAP", 25, 43, 55, 12, kButton, {}},
                {1057, K::GroupBox, "Cycles", 26, 69, 53, 24, 0, {}},
                {1055, K::Radio, "2", 32, 79, 20, 10, S::Group | S::TabStop, {}},
                {1056, K::Radio, "3", 55, 79, 20, 10, 0, {}},
                {kNoControlId, K::Static, "DEV :", 102, 8, 21, 9, kLabel, {}},
                {1043, K::Edit, "", 127, 6, 52, 13, S::Centered | S::Border, {}},
                {kNoControlId, K::Static, "SCC :", 101, 45, 21, 9, kLabel, {}},
                {1045, K::Edit, "", 126, 43, 52, 13, S::Centered | S::Border, {}},
                {kNoControlId, K::Static, "PIO :", 101, 82, 21, 9, kLabel, {}},
                {1046, K::Edit, "", 126, 80, 52, 13, S::Centered | S::Border, {}},
                {kNoControlId, K::Static, "File :", 196, 7, 15, 9, kLabel, {}},
                {1038, K::Edit, "", 215, 6, 110, 13, S::AutoHScroll | S::Border | S::TabStop, {}},
                {kNoControlId, K::Static, "Start :", 190, 45, 21, 9, kLabel, {}},
                {1040, K::Edit, "", 215, 43, 52, 13, kPageEdit, {}},
                {kNoControlId, K::Static, "Size :", 190, 82, 21, 9, kLabel, {}},
                {1041, K::Edit, "", 215, 80, 52, 13, kPageEdit, {}},
                {1007, K::PushButton, "READ", 333, 6, 40, 12, kButton, {}},
                {1021, K::PushButton, "WRITE", 333, 43, 40, 12, kButton, {}},
                {1012, K::PushButton, "ERASE", 333, 81, 40, 12, kButton, {}},
            }};
}

DialogTemplate MemoryTemplate() {
    constexpr uint32_t kScrollEdit = S::AutoHScroll | S::Border | S::TabStop;
    return {kIddMemory,
            "",
            380,
            100,
            kFont,
            8,
            true,
            {
                {1007, K::PushButton, "READ", 333, 7, 40, 12, kButton, {}},
                {1038, K::Edit, "", 215, 7, 110, 13, kScrollEdit | S::LeftAligned, {}},
                {kNoControlId, K::Static, "File :", 196, 8, 15, 9, kLabel, {}},
                {1021, K::PushButton, "WRITE", 333, 32, 40, 12, kButton, {}},
                {kNoControlId, K::Static, "Start :", 190, 45, 21, 9, kLabel, {}},
                {1040, K::Edit, "", 215, 43, 52, 13, kScrollEdit | S::Centered, {}},
                {1031, K::PushButton, "LOAD", 333, 56, 40, 12, kButton, {}},
                {kNoControlId, K::Static, "Size :", 190, 82, 21, 9, kLabel, {}},
                {1041, K::Edit, "", 215, 80, 52, 13, kScrollEdit | S::Centered, {}},
                {1032, K::PushButton, "GO", 333, 81, 40, 12, kButton, {}},
            }};
}

DialogTemplate MiscTemplate() {
    return {kIddMisc,
            "",
            380,
            107,
            kFont,
            8,
            true,
            {
                {1026, K::PushButton, "MemStart", 323, 7, 50, 14, kButton, {}},
                {kNoControlId, K::Static, "Data :", 101, 45, 20, 8, kLabel, {}},
                {1029, K::Edit, "", 125, 43, 52, 13, kInfoEdit, {}},
                {1028, K::PushButton, "ProcID", 323, 45, 50, 14, kButton, {}},
                {1027, K::PushButton, "Reboot", 323, 86, 50, 14, kButton, {}},
            }};
}

const std::map<int, DialogTemplate>& Templates() {
    static const std::map<int, DialogTemplate> templates = {
        {kIddAbout, AboutTemplate()},   {kIddMain, MainTemplate()},
        {kIddFlash, FlashTemplate()},   {kIddMemory, MemoryTemplate()},
        {kIddEeprom, EepromTemplate()}, {kIddMisc, MiscTemplate()},
    };
    return templates;
}

}  // namespace

const DialogTemplate& GetDialogTemplate(int id) {
    const auto& all = Templates();
    const auto it = all.find(id);
    if (it == all.end()) throw std::out_of_range("no dialog template " + std::to_string(id));
    return it->second;
}

const std::vector<int>& DialogTemplateIds() {
    static const std::vector<int> ids = {kIddAbout,  kIddMain,   kIddFlash,
                                         kIddMemory, kIddEeprom, kIddMisc};
    return ids;
}

std::string LoadResourceString(int id) {
    if (id == kIdsAboutBox) return "&A propos de Tapwright...";
    if (id >= 102 && id <= 116) return LinkErrorText(id);
    return {};
}

const char* VersionText() {
    return TAPWRIGHT_VERSION_TEXT;
}

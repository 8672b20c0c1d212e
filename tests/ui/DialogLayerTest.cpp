// The dialog layer on its own: templates, the control model, and the in-memory host.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ui/Dialog.h"
#include "ui/DialogTemplate.h"
#include "ui/MemoryUiHost.h"

namespace {

// What every window is drawn from: ids unique inside a template, controls inside it.
TEST(DialogTemplates, IdsAreUniqueAndControlsFitTheirWindow) {
    for (int id : DialogTemplateIds()) {
        const DialogTemplate& t = GetDialogTemplate(id);
        std::vector<int> seen;
        for (const ControlTemplate& c : t.controls) {
            SCOPED_TRACE("template " + std::to_string(id) + " control " + std::to_string(c.id));
            if (c.id != kNoControlId) {
                EXPECT_EQ(std::count(seen.begin(), seen.end(), c.id), 0);
                seen.push_back(c.id);
            }
            EXPECT_GE(c.x, 0);
            EXPECT_GE(c.y, 0);
            EXPECT_LE(c.x + c.cx, t.cx);
            if (c.kind != ControlKind::DropList) {
                EXPECT_LE(c.y + c.cy, t.cy);
            }
        }
    }
}

// The texts themselves are checked where they show: the window tests and the Wine check.
TEST(DialogTemplates, UnknownTemplatesAndStringsAreRefused) {
    EXPECT_THROW(GetDialogTemplate(999), std::out_of_range);
    EXPECT_EQ(LoadResourceString(101), "&A propos de Tapwright...");
    EXPECT_TRUE(LoadResourceString(117).empty());
}

// A dialog with a message map that records what reaches it.
class Probe : public CDialog {
  public:
    explicit Probe(int id) : CDialog(id) {}
    std::vector<std::string> events;
    std::string member = "from member";

  protected:
    void DoDataExchange(CDataExchange& dx) override { DDX_Text(dx, 1016, member); }
    bool OnCommand(int id, UiEvent event) override {
        events.push_back(std::to_string(id) + ":" + std::to_string(static_cast<int>(event)));
        return id != kIdCancel && CDialog::OnCommand(id, event);
    }
};

class ControlModel : public ::testing::Test {
  protected:
    void SetUp() override { SetUiHost(&host); }
    void TearDown() override { SetUiHost(nullptr); }
    MemoryUiHost host;
};

TEST_F(ControlModel, ListsRefuseOutOfRangeSelectionsAndTabsSelectTheirFirstItem) {
    Probe dlg(kIddMain);
    ASSERT_TRUE(dlg.Create(nullptr));
    EXPECT_EQ(dlg.GetCount(1025), 3);
    EXPECT_TRUE(dlg.SetCurSel(1025, 2));
    EXPECT_FALSE(dlg.SetCurSel(1025, 3));
    EXPECT_EQ(dlg.GetCurSel(1025), 2);
    dlg.ResetContent(1033);
    EXPECT_EQ(dlg.GetCurSel(1033), -1);
    EXPECT_EQ(dlg.AddString(1033, "PERSO"), 0);

    EXPECT_EQ(dlg.GetCurSel(1054), -1);
    for (const char* label : {"FLASH", "EEPROM", "MEMORY", "MISC."})
        dlg.InsertItem(1054, dlg.GetCount(1054), label);
    EXPECT_EQ(dlg.GetCurSel(1054), 0);
    EXPECT_FALSE(dlg.SetCurSel(1054, 7));
    EXPECT_EQ(dlg.GetCurSel(1054), 0);

    Rect first, second;
    ASSERT_TRUE(dlg.GetItemRect(1054, 0, first));
    ASSERT_TRUE(dlg.GetItemRect(1054, 1, second));
    EXPECT_EQ(second.left, first.right);
    EXPECT_FALSE(dlg.GetItemRect(1054, 4, first));
}

TEST_F(ControlModel, DialogUnitsFollowTheHostsBaseUnits) {
    Probe dlg(kIddMain);
    EXPECT_EQ(dlg.MapDialogRect({7, 82, 387, 202}), (Rect{11, 133, 581, 328}));
    host.SetBaseUnits({8, 16});
    EXPECT_EQ(dlg.MapDialogRect({4, 8, 8, 16}), (Rect{8, 16, 16, 32}));
    ASSERT_TRUE(dlg.Create(nullptr));
    EXPECT_EQ(dlg.GetClientRect(1054), (Rect{0, 0, 760, 240}));
}

TEST_F(ControlModel, OperatorInputIsRefusedOnDisabledHiddenOrReadOnlyControls) {
    Probe dlg(kIddMain);
    EXPECT_FALSE(dlg.Press(1000));  // no window yet
    ASSERT_TRUE(dlg.Create(nullptr));
    EXPECT_TRUE(dlg.Press(1000));
    dlg.EnableWindow(1000, false);
    EXPECT_FALSE(dlg.Press(1000));
    EXPECT_NE(dlg.LastRefusal().find("disabled"), std::string::npos);
    dlg.EnableWindow(1000, true);
    dlg.ShowDlgItem(1000, false);
    EXPECT_FALSE(dlg.Press(1000));
    EXPECT_FALSE(dlg.Press(4242));
    EXPECT_FALSE(dlg.Type(1016, "typed"));  // read-only status field
    EXPECT_FALSE(dlg.Select(1025, 3));
    EXPECT_TRUE(dlg.Select(1025, 1));
    EXPECT_EQ(dlg.events, (std::vector<std::string>{"1000:0", "1025:2", "1025:3", "1025:1"}));

    // A page inside a hidden parent cannot be reached either.
    Probe page(kIddMisc);
    ASSERT_TRUE(page.Create(&dlg, 1054));
    EXPECT_FALSE(page.Press(1026));
    page.ShowWindow(true);
    EXPECT_TRUE(page.Press(1026));
    dlg.ShowWindow(false);
    EXPECT_FALSE(page.Press(1026));
}

TEST_F(ControlModel, RadioButtonsOfAGroupExcludeEachOther) {
    Probe page(kIddEeprom);
    ASSERT_TRUE(page.Create(nullptr));
    page.ShowWindow(true);
    page.CheckDlgButton(1055, true);
    EXPECT_TRUE(page.Press(1056));
    EXPECT_TRUE(page.IsDlgButtonChecked(1056));
    EXPECT_FALSE(page.IsDlgButtonChecked(1055));
}

TEST_F(ControlModel, DataExchangeAndTheCancelCommand) {
    Probe dlg(kIddMain);
    ASSERT_TRUE(dlg.Create(nullptr));
    EXPECT_EQ(dlg.GetDlgItemText(1016), "from member");  // pushed by OnInitDialog
    dlg.SetDlgItemText(1016, "from control");
    dlg.UpdateData(true);
    EXPECT_EQ(dlg.member, "from control");

    EXPECT_TRUE(dlg.Press(2));
    EXPECT_TRUE(dlg.IsEnded());
    EXPECT_EQ(dlg.EndResult(), kIdCancel);
}

TEST_F(ControlModel, ModalLoopsRunTheScriptedDriver) {
    Probe dlg(kIddAbout);
    host.SetModalDriver([](CDialog& d) { d.Press(1); });
    EXPECT_EQ(dlg.DoModal(), kIdOk);
    EXPECT_FALSE(dlg.IsWindow());
    host.SetModalDriver(nullptr);
    EXPECT_EQ(dlg.DoModal(), -1);  // nothing ended it
}

TEST_F(ControlModel, PromptsAreAnsweredFromTheScriptNeverWaitedOn) {
    EXPECT_EQ(host.MessageBox(nullptr, "info", "title", kMbOk), kIdOk);
    EXPECT_EQ(host.MessageBox(nullptr, "Confirmation ?", "Effacement de la FLASH",
                              kMbYesNo | kMbIconExclamation),
              kIdNo);
    ASSERT_EQ(host.Unanswered().size(), 1u);
    host.QueueMessageAnswer(kIdYes);
    EXPECT_EQ(host.MessageBox(nullptr, "Confirmation ?", "x", kMbYesNo | kMbIconExclamation),
              kIdYes);

    FileDialogRequest save;
    save.open = false;
    save.defaultExt = "rom";
    std::string path;
    EXPECT_FALSE(host.FileDialog(nullptr, save, path));
    EXPECT_EQ(host.Unanswered().size(), 2u);
    host.QueueFileAnswer("dir.v2/image");
    host.QueueFileAnswer("");
    EXPECT_TRUE(host.FileDialog(nullptr, save, path));
    EXPECT_EQ(path, "dir.v2/image.rom");
    EXPECT_FALSE(host.FileDialog(nullptr, save, path));  // scripted cancel
    EXPECT_EQ(host.Unanswered().size(), 2u);
    EXPECT_EQ(host.Prompts().size(), 6u);
}

TEST_F(ControlModel, PumpingDeliversPostedInputAndCloseIsRefusedInsideAHandler) {
    struct Busy : Probe {
        Busy() : Probe(kIddMain) {}
        bool closeAccepted = true;
        bool OnCommand(int id, UiEvent event) override {
            if (id == 1000) {
                GetUiHost().PumpMessages();
                return true;
            }
            return Probe::OnCommand(id, event);
        }
    } dlg;
    ASSERT_TRUE(dlg.Create(nullptr));
    host.PostInput([&] { dlg.closeAccepted = dlg.RequestClose(); });
    EXPECT_TRUE(dlg.Press(1000));
    EXPECT_FALSE(dlg.closeAccepted);
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_EQ(CDialog::RunningHandlers(), 0);
    EXPECT_TRUE(dlg.RequestClose());
}

}  // namespace

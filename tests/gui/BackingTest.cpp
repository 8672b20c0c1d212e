// The Qt backing on bare dialogs: every template as widgets at its dialog-unit geometry,
// operator input reaching the model as the toolkit's notifications, and the prompts.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <utility>
#include <vector>

#include "GuiSupport.h"
#include "common/TemplateGeometry.h"
#include "ui/qt/QtUiHost.h"

using guitest::ChooseFile;
using guitest::Control;
using guitest::WhenUp;

namespace {

class Recorder : public CDialog {
  public:
    using CDialog::CDialog;
    std::vector<std::pair<int, UiEvent>> events;

  protected:
    bool OnCommand(int id, UiEvent event) override {
        events.emplace_back(id, event);
        return CDialog::OnCommand(id, event);
    }
};

class QtBacking : public ::testing::Test {
  protected:
    void SetUp() override { SetUiHost(&host); }
    void TearDown() override { SetUiHost(nullptr); }
    qtui::QtUiHost host;
};

TEST_F(QtBacking, EveryTemplateControlIsItsWidgetAtItsDialogUnitGeometry) {
    const BaseUnits bu = host.GetBaseUnits();
    const QFontMetrics fm(host.Font());
    EXPECT_GE(bu.x, (fm.horizontalAdvance(QStringLiteral("abcdefghijklmnopqrstuvwxyz")) + 13) / 26);
    EXPECT_EQ(bu.y, fm.height());
    for (int templateId : DialogTemplateIds()) {
        SCOPED_TRACE("template " + std::to_string(templateId));
        CDialog dlg(templateId);
        ASSERT_TRUE(dlg.Create(nullptr));
        QPointer<QWidget> window = guitest::WindowOf(dlg);
        ASSERT_NE(window, nullptr);
        const DialogTemplate& t = dlg.Template();
        EXPECT_EQ(window->width(), geometry::WindowPixels(t, bu).Width());
        EXPECT_EQ(window->height(), geometry::WindowPixels(t, bu).Height());
        if (!t.child) {
            EXPECT_EQ(window->windowTitle().toStdString(), t.caption);
        }

        const auto widgets = window->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (size_t i = 0; i < t.controls.size(); ++i) {
            const ControlTemplate& c = t.controls[i];
            SCOPED_TRACE("control " + std::to_string(c.id) + " \"" + c.text + "\"");
            QWidget* w = nullptr;
            for (QWidget* candidate : widgets)
                if (candidate->property("templateIndex").toInt() == static_cast<int>(i) &&
                    candidate->property("controlId").isValid())
                    w = candidate;
            ASSERT_NE(w, nullptr);
            EXPECT_EQ(w->property("controlId").toInt(), c.id);
            const QRect g = w->geometry();
            EXPECT_EQ(geometry::Misplaced(
                          c, {g.left(), g.top(), g.left() + g.width(), g.top() + g.height()}, bu,
                          fm.height()),
                      "");
            EXPECT_EQ(w->isEnabled(), (c.style & ControlStyle::Disabled) == 0);

            const QString text = QString::fromStdString(c.text);
            int textWidth = 0;
            if (auto* label = qobject_cast<QLabel*>(w); label && c.kind == ControlKind::Static) {
                EXPECT_EQ(label->text(), text);
                EXPECT_EQ(bool(label->alignment() & Qt::AlignRight),
                          bool(c.style & ControlStyle::RightAligned));
                textWidth = fm.horizontalAdvance(text);
            } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
                EXPECT_EQ(button->text(), text);
                textWidth = fm.horizontalAdvance(text);
            } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
                EXPECT_EQ(group->title(), text);
            } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
                EXPECT_EQ(edit->isReadOnly(), bool(c.style & ControlStyle::ReadOnly));
                EXPECT_EQ(edit->hasFrame(), bool(c.style & ControlStyle::Border));
                EXPECT_EQ(bool(edit->alignment() & Qt::AlignHCenter),
                          bool(c.style & ControlStyle::Centered));
            }
            EXPECT_LE(textWidth, g.width()) << "text clipped";
        }
        dlg.DestroyWindow();
        EXPECT_TRUE(window.isNull()) << "the window outlived the dialog's";
    }
}

TEST_F(QtBacking, ListsReportDropDownChoiceAndCloseUpOnlyOnceTheListHasClosed) {
    Recorder dlg(kIddFlash);
    ASSERT_TRUE(dlg.Create(nullptr));
    dlg.ShowWindow(true);
    auto* bus = Control<QComboBox>(dlg, 1036);
    ASSERT_NE(bus, nullptr);
    ASSERT_EQ(bus->count(), 3);

    // Highlight "16 bits" and press Enter in the opened list.
    bus->showPopup();
    EXPECT_TRUE(dlg.events.empty());
    bus->view()->setCurrentIndex(bus->model()->index(1, 0));
    QTest::keyClick(bus->view(), Qt::Key_Return);
    QTest::qWait(20);
    EXPECT_EQ(dlg.events, (std::vector<std::pair<int, UiEvent>>{{1036, UiEvent::DropDown},
                                                                {1036, UiEvent::SelChange},
                                                                {1036, UiEvent::CloseUp}}));
    EXPECT_EQ(dlg.GetCurSel(1036), 1);

    // Opened and closed with Escape: the same selection is closed up again.
    dlg.events.clear();
    bus->showPopup();
    QTest::keyClick(bus->view(), Qt::Key_Escape);
    QTest::qWait(20);
    EXPECT_EQ(dlg.events, (std::vector<std::pair<int, UiEvent>>{{1036, UiEvent::DropDown},
                                                                {1036, UiEvent::CloseUp}}));
    EXPECT_EQ(bus->currentIndex(), 1);

    // A disabled list takes nothing.
    dlg.events.clear();
    dlg.EnableWindow(1034, false);
    EXPECT_FALSE(Control(dlg, 1034)->isEnabled());
    dlg.DestroyWindow();
}

TEST_F(QtBacking, RadioButtonsAndTypingGoThroughTheModel) {
    Recorder dlg(kIddEeprom);
    ASSERT_TRUE(dlg.Create(nullptr));
    dlg.ShowWindow(true);
    auto* two = Control<QRadioButton>(dlg, 1055);
    auto* three = Control<QRadioButton>(dlg, 1056);
    QTest::mouseClick(two, Qt::LeftButton);
    QTest::mouseClick(three, Qt::LeftButton);
    EXPECT_TRUE(dlg.IsDlgButtonChecked(1056));
    EXPECT_FALSE(dlg.IsDlgButtonChecked(1055));
    EXPECT_TRUE(three->isChecked());
    EXPECT_FALSE(two->isChecked());
    EXPECT_EQ(dlg.events.back(), std::make_pair(1056, UiEvent::Clicked));

    auto* start = Control<QLineEdit>(dlg, 1040);
    start->setFocus();
    QTest::keyClicks(start, "C0000000");
    EXPECT_EQ(dlg.GetDlgItemText(1040), "C0000000");
    dlg.SetDlgItemText(1040, "00001000");
    EXPECT_EQ(start->text(), "00001000");
    dlg.DestroyWindow();
}

TEST(QtFilters, PairsBecomeQtNameFilters) {
    EXPECT_EQ(qtui::ToQtFilter("Rom File (*.rom)|*.rom|Binary File (*.bin)|*.bin||"),
              "Rom File (*.rom);;Binary File (*.bin)");
    EXPECT_EQ(qtui::ToQtFilter("Images|*.rom;*.bin|All|*.*||"), "Images (*.rom *.bin);;All (*.*)");
    EXPECT_EQ(qtui::ToQtFilter(""), "");
}

TEST_F(QtBacking, YesNoBoxesCarryTheExclamationIcon) {
    WhenUp<QMessageBox>([](QMessageBox*) { return true; },
                        [](QMessageBox* box) {
                            EXPECT_EQ(box->windowTitle(), "Effacement de la FLASH");
                            EXPECT_EQ(box->text(), "Confirmation ?");
                            EXPECT_EQ(box->icon(), QMessageBox::Warning);
                            box->button(QMessageBox::No)->click();
                        });
    EXPECT_EQ(host.MessageBox(nullptr, "Confirmation ?", "Effacement de la FLASH",
                              kMbYesNo | kMbIconExclamation),
              kIdNo);
    WhenUp<QMessageBox>([](QMessageBox*) { return true; },
                        [](QMessageBox* box) {
                            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
                            EXPECT_EQ(box->buttons().size(), 1);
                            box->buttons().first()->click();
                        });
    EXPECT_EQ(host.MessageBox(nullptr, "text", "caption", kMbOk), kIdOk);
}

TEST_F(QtBacking, FileDialogsAddTheExtensionAndMoveTheCurrentFolder) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString before = QDir::currentPath();
    FileDialogRequest save;
    save.open = false;
    save.filter = "Rom File (*.rom)|*.rom|Binary File (*.bin)|*.bin||";
    save.defaultExt = "rom";
    save.initialName = "dump";
    save.overwritePrompt = true;
    WhenUp<QFileDialog>(
        [](QFileDialog*) { return true; },
        [&](QFileDialog* fd) {
            EXPECT_EQ(fd->nameFilters(), QStringList({"Rom File (*.rom)", "Binary File (*.bin)"}));
            EXPECT_FALSE(fd->testOption(QFileDialog::DontConfirmOverwrite));
            ChooseFile(fd, dir.filePath("dump"));
        });
    std::string path;
    ASSERT_TRUE(host.FileDialog(nullptr, save, path));
    EXPECT_EQ(QString::fromStdString(path), dir.filePath("dump.rom"));
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());

    // An open dialog that wants an existing file, cancelled: nothing chosen, folder kept.
    FileDialogRequest open;
    open.mustExist = true;
    WhenUp<QFileDialog>([](QFileDialog*) { return true; },
                        [](QFileDialog* fd) {
                            EXPECT_EQ(fd->fileMode(), QFileDialog::ExistingFile);
                            fd->reject();
                        });
    EXPECT_FALSE(host.FileDialog(nullptr, open, path));
    EXPECT_EQ(QDir::currentPath(), QDir(dir.path()).canonicalPath());
    QDir::setCurrent(before);
}

}  // namespace

// The main window in real widgets on the virtual board behind the port seam: start-up, the
// target commands, the FLASH page with its file dialog, progress, tabs, the cancel command
// and the About box, plus a screenshot of every page.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <random>

#include "GuiSupport.h"
#include "support/WindowFixture.h"
#include "ui/MainDlg.h"
#include "ui/NativeSystemMenu.h"
#include "ui/qt/QtDialogView.h"
#include "ui/qt/QtUiHost.h"

namespace fs = std::filesystem;
using guitest::ChooseFile;
using guitest::Control;
using guitest::WhenUp;
using guitest::WindowOf;

namespace {

static_assert(qtui::kAboutBoxCommand == kIdmAboutBox);

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

class GuiMainWindow : public test::WindowFixture<qtui::QtUiHost> {
  protected:
    void SetUp() override {
        WindowFixture::SetUp();
        cwd = QDir::currentPath();
        Board();
    }
    void TearDown() override {
        WindowFixture::TearDown();
        QDir::setCurrent(cwd);
    }

    void Start() {
        ASSERT_TRUE(dlg.Create(nullptr));
        ASSERT_TRUE(WindowOf(dlg)->isVisible());
    }
    QWidget* Main() { return WindowOf(dlg); }
    void Click(const CDialog& owner, int id) {
        auto* button = Control<QPushButton>(owner, id);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isEnabled()) << "button " << id;
        QTest::mouseClick(button, Qt::LeftButton);
    }
    QString Text(const CDialog& owner, int id) { return Control<QLineEdit>(owner, id)->text(); }
    void CpuIdAndLoad() {
        Click(dlg, CMainDlg::kIdCpuId);
        Click(dlg, CMainDlg::kIdLoad);
        ASSERT_EQ(Text(dlg, CMainDlg::kIdResult), "Ok");
    }
    // Answers the next file dialog with `path`.
    static void AnswerFile(const fs::path& path) {
        WhenUp<QFileDialog>(
            [](QFileDialog*) { return true; },
            [path](QFileDialog* fd) { ChooseFile(fd, QString::fromStdString(path.string())); });
    }
    QTabBar* Tabs() { return Control(dlg, CMainDlg::kIdTab)->findChild<QTabBar*>(); }

    QString cwd;
};

TEST_F(GuiMainWindow, FlashWriteWithTheProgressMovingAndTheWindowLockedMeanwhile) {
    Start();
    CpuIdAndLoad();
    CFlashPage& flash = dlg.m_tab.m_flashPage;
    Click(flash, 1044);  // LOAD TRAP
    ASSERT_EQ(Text(dlg, CMainDlg::kIdResult), "Ok") << Text(dlg, CMainDlg::kIdStatus).toStdString();
    EXPECT_FALSE(Text(flash, 1043).isEmpty());  // the device's name
    ASSERT_TRUE(Control(flash, 1021)->isEnabled());

    fs::create_directories(tmp / "images");
    const fs::path image = tmp / "images" / "image.rom";
    std::vector<char> bytes(0x4000);
    std::mt19937 rng(7);
    for (char& b : bytes) b = static_cast<char>(rng());
    std::ofstream(image, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));

    // While the transfer runs: the bar moves and repaints, Escape and the close box are
    // refused, and LOAD (left enabled by the lock) does not start a second operation.
    auto* bar = Control<QProgressBar>(dlg, CMainDlg::kIdProgress);
    std::vector<int> positions;
    bool pokedDuringTransfer = false;
    QObject::connect(bar, &QProgressBar::valueChanged, bar, [&](int value) {
        positions.push_back(value);
        if (pokedDuringTransfer || value == 0) return;
        pokedDuringTransfer = true;
        QTest::keyClick(Main(), Qt::Key_Escape);
        Main()->close();
        QTest::mouseClick(Control(dlg, CMainDlg::kIdLoad), Qt::LeftButton);
        EXPECT_FALSE(Control(dlg, CMainDlg::kIdExit)->isEnabled());
    });
    PaintCounter painted;
    bar->installEventFilter(&painted);
    AnswerFile(image);
    Click(flash, 1021);  // WRITE
    bar->removeEventFilter(&painted);
    EXPECT_TRUE(pokedDuringTransfer);
    EXPECT_GE(positions.size(), 4u);
    EXPECT_GE(painted.paints, 4);
    EXPECT_GT(*std::max_element(positions.begin(), positions.end()), 0);
    EXPECT_EQ(bar->value(), 0);  // empty again once the transfer has ended
    EXPECT_FALSE(dlg.IsEnded());
    EXPECT_TRUE(Main()->isVisible());
    EXPECT_TRUE(dlg.m_tab.m_flashPage.HandlerReady()) << "LOAD ran inside the transfer";
    EXPECT_EQ(Text(dlg, CMainDlg::kIdStatus), "Write FLASH Data");
    EXPECT_EQ(Text(flash, 1038), "image.rom");
    // The chosen folder is the current folder now.
    EXPECT_EQ(QDir::currentPath(),
              QDir(QString::fromStdString((tmp / "images").string())).canonicalPath());

    EXPECT_TRUE(Control(dlg, CMainDlg::kIdExit)->isEnabled());
}

TEST_F(GuiMainWindow, RunsModallyWithTheAboutBoxAndEndsOnEscape) {
    int aboutShown = 0;
    auto checkAbout = [&](QDialog* about, bool viaEscape) {
        ++aboutShown;
        EXPECT_EQ(about->windowTitle(), "A propos de Tapwright");
        auto* version = about->findChild<QLineEdit*>("ctl1030");
        EXPECT_EQ(version->text(), "1, 0, 0, 11");
        if (viaEscape)
            QTest::keyClick(about, Qt::Key_Escape);
        else
            QTest::mouseClick(about->findChild<QPushButton*>("ctl1"), Qt::LeftButton);
    };
    auto isAbout = [](QDialog* d) { return d->objectName() == "dlg100"; };
    // The main window pumps messages while it starts: act once it is up.
    auto isMain = [](QDialog* d) { return d->objectName() == "dlg102" && d->isVisible(); };
    WhenUp<QDialog>(isMain, [&](QDialog* main) {
        // The window menu's About item, offered as a context menu.
        WhenUp<QMenu>([](QMenu*) { return true; },
                      [&](QMenu* menu) {
                          ASSERT_EQ(menu->actions().size(), 1);
                          QAction* about = menu->actions().first();
                          EXPECT_EQ(about->text(), "&A propos de Tapwright...");
                          menu->close();
                          WhenUp<QDialog>(isAbout, [&](QDialog* d) { checkAbout(d, false); });
                          about->trigger();
                      });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                main->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(main, &event);
        // F1 too; this About box goes with Escape.
        WhenUp<QDialog>(isAbout, [&](QDialog* d) { checkAbout(d, true); });
        QTest::keyClick(main, Qt::Key_F1);
        EXPECT_EQ(QApplication::activeModalWidget(), main);
        QTest::keyClick(main, Qt::Key_Escape);
    });
    EXPECT_EQ(dlg.DoModal(), kIdCancel);
    EXPECT_EQ(aboutShown, 2);
    EXPECT_FALSE(dlg.IsWindow());
}

// Where the platform's window has a system menu of its own (Windows), the items go there
// instead of into a context menu, and its command opens the About box from the event loop.
TEST_F(GuiMainWindow, AboutBoxFromTheNativeSystemMenu) {
    struct StandIn : INativeSystemMenu {
        int aboutMessage = 0;  // the one native message that is our system command
        std::uintptr_t window = 0;
        std::vector<std::string> texts;
        bool Append(std::uintptr_t w, const std::vector<CDialog::MenuItem>& items) override {
            window = w;
            texts.clear();
            for (const CDialog::MenuItem& item : items) texts.push_back(item.text);
            return true;
        }
        bool Command(const void* message, const std::vector<CDialog::MenuItem>&,
                     unsigned& id) override {
            if (message != &aboutMessage) return false;
            id = kIdmAboutBox | 0x2;
            return true;
        }
    } platform;
    SetNativeSystemMenu(&platform);
    struct Restore {
        ~Restore() { SetNativeSystemMenu(nullptr); }
    } restore;
    // The window's native events, as the platform delivers them.
    struct Access : QWidget {
        using QWidget::nativeEvent;
    };
    auto native = [](QWidget* w, const char* type, void* message) {
        qintptr result = -1;
        const bool taken = (w->*&Access::nativeEvent)(QByteArray(type), message, &result);
        return taken && result == 0;
    };

    int aboutShown = 0;
    auto isMain = [](QDialog* d) { return d->objectName() == "dlg102" && d->isVisible(); };
    WhenUp<QDialog>(isMain, [&](QDialog* main) {
        EXPECT_EQ(platform.window, static_cast<std::uintptr_t>(main->winId()));
        EXPECT_EQ(platform.texts, (std::vector<std::string>{"", "&A propos de Tapwright..."}));

        // No context menu now: closing one that came up counts it.
        bool menuShown = false;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (QWidget* popup = QApplication::activePopupWidget()) {
                menuShown = true;
                popup->close();
            }
        });
        closer.start(10);
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                                main->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(main, &event);
        closer.stop();
        EXPECT_FALSE(menuShown);

        int other = 0;
        EXPECT_FALSE(native(main, "windows_generic_MSG", &other)) << "left to the platform";
        EXPECT_FALSE(native(main, "xcb_generic_event_t", &platform.aboutMessage));
        WhenUp<QDialog>([](QDialog* d) { return d->objectName() == "dlg100"; },
                        [&](QDialog* about) {
                            ++aboutShown;
                            QTest::keyClick(about, Qt::Key_Escape);
                            WhenUp<QDialog>(isMain,
                                            [](QDialog* m) { QTest::keyClick(m, Qt::Key_Escape); });
                        });
        EXPECT_TRUE(native(main, "windows_generic_MSG", &platform.aboutMessage));
        EXPECT_EQ(aboutShown, 0) << "not run inside the window procedure";
    });
    EXPECT_EQ(dlg.DoModal(), kIdCancel);
    EXPECT_EQ(aboutShown, 1);
}

// The saved tab first; then each tab clicked shows its page alone, under the labels and one
// pixel in from the tab control's right and bottom, and is kept and pictured.
TEST_F(GuiMainWindow, TabsPlaceThePagesKeepTheChoiceAndArePictured) {
    g_settings.m_nTabNum = 2;
    Start();
    Page* pages[] = {&dlg.m_tab.m_flashPage, &dlg.m_tab.m_eepromPage, &dlg.m_tab.m_memoryPage,
                     &dlg.m_tab.m_miscPage};
    EXPECT_EQ(Tabs()->currentIndex(), 2);
    EXPECT_TRUE(WindowOf(*pages[2])->isVisible());
    CpuIdAndLoad();
    Click(dlg.m_tab.m_flashPage, 1044);
    QWidget* tab = Control(dlg, CMainDlg::kIdTab);
    const QRect label = Tabs()->tabRect(0).translated(Tabs()->pos());
    const QDir dir(QStringLiteral(TAPWRIGHT_SCREENSHOT_DIR));
    ASSERT_TRUE(dir.mkpath(QStringLiteral(".")));
    const char* names[] = {"flash", "eeprom", "memory", "misc"};
    for (int i = 3; i >= 0; --i) {
        QTest::mouseClick(Tabs(), Qt::LeftButton, {}, Tabs()->tabRect(i).center());
        ASSERT_EQ(g_settings.m_nTabNum, static_cast<uint32_t>(i));
        for (int j = 0; j < 4; ++j) EXPECT_EQ(WindowOf(*pages[j])->isVisible(), i == j) << j;
        const QRect g = WindowOf(*pages[i])->geometry();
        EXPECT_EQ(g.left(), label.left());
        EXPECT_EQ(g.top(), label.bottom() + 2);  // QRect's bottom is inclusive
        EXPECT_EQ(g.left() + g.width(), tab->width() - 1);
        EXPECT_EQ(g.top() + g.height(), tab->height() - 1);
        const QImage shot = Main()->grab().toImage();
        EXPECT_EQ(shot.size(), Main()->size());
        const QString file = dir.filePath(QStringLiteral("main-%1.png").arg(names[i]));
        EXPECT_TRUE(shot.save(file)) << file.toStdString();
    }
}

}  // namespace

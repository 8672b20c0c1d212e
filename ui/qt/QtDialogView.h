// One dialog as Qt widgets: the window (a QDialog at the top level, a plain widget for a page)
// and one widget per template control, named "ctl<id>" and carrying the id in the
// "controlId" property and the template position in "templateIndex".
#pragma once

#include <QComboBox>
#include <QDialog>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "ui/Dialog.h"
#include "ui/UiHost.h"

class QTabBar;

namespace qtui {

class QtUiHost;

// The system-menu command of the About box; F1 sends it too.
constexpr unsigned kAboutBoxCommand = 0x0010;

// A top-level dialog window: Escape and the close box ask the model; the system menu's items
// go into the native system menu where the platform has one, otherwise into a context menu.
class DialogWindow final : public QDialog {
    Q_OBJECT

  public:
    DialogWindow(QWidget* parent, std::function<void()> onClose,
                 std::function<void(QMenu&)> fillMenu, std::function<void()> onHelp,
                 std::function<bool(const void*)> onNativeMessage);
    void reject() override;

  protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    std::function<void()> m_onClose;
    std::function<void(QMenu&)> m_fillMenu;
    std::function<void()> m_onHelp;
    std::function<bool(const void*)> m_onNativeMessage;
};

// A drop-down list that reports one choice per opening, after the list has closed (also
// when it closed without a new choice), as the toolkit's close-up notification does.
class DropListBox final : public QComboBox {
    Q_OBJECT

  public:
    // chosen: the index picked, or -1 when the list closed without a pick.
    DropListBox(QWidget* parent, std::function<void(int chosen)> onCloseUp);
    void showPopup() override;
    void hidePopup() override;

  protected:
    void wheelEvent(QWheelEvent* event) override;

  private:
    void Finish();
    std::function<void(int)> m_onCloseUp;
    bool m_inPopup = false;
    bool m_pending = false;
    int m_chosen = -1;
};

// A tab control: the label strip over a framed pane; pages are child widgets placed by the
// model.
class TabHost final : public QWidget {
    Q_OBJECT

  public:
    explicit TabHost(QWidget* parent);
    QTabBar* Bar() const { return m_bar; }
    void LayoutBar();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    QTabBar* m_bar;
};

class QtDialogView final : public IDialogView {
  public:
    QtDialogView(QtUiHost& host, CDialog& dialog);
    ~QtDialogView() override;

    void OnCreated() override;
    void OnControlChanged(int id, ControlChange what) override;
    void OnRepaint() override;
    void OnShow(bool visible) override;
    void OnMove(const Rect& pixels) override;
    void OnDestroyed() override;
    bool GetTabItemRect(int id, int index, Rect& out) override;

    QWidget* Window() const { return m_window; }
    // The widget of control id (the first one for a shared id); null when there is none.
    QWidget* ControlWidget(int id) const;

  private:
    void CreateControl(size_t index);
    void Sync(size_t index, ControlChange what);
    void SyncAll(size_t index);
    // Runs one operator action on the model, then brings the widgets back in line with it.
    void Act(size_t index, bool duringOperation, const std::function<void()>& action);
    void FillSystemMenu(QMenu& menu);
    // A native system-menu command for one of the dialog's items: runs it and returns true.
    bool NativeMessage(const void* message);

    QtUiHost& m_host;
    CDialog& m_dialog;
    QPointer<QWidget> m_window;
    std::vector<QPointer<QWidget>> m_widgets;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    int m_syncing = 0;
    bool m_nativeSystemMenu = false;  // the items are in the window's own system menu
};

}  // namespace qtui

#include "ui/qt/QtDialogView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionTabWidgetFrame>
#include <QStylePainter>
#include <QTabBar>
#include <QTimer>
#include <algorithm>
#include <limits>

#include "ui/NativeSystemMenu.h"
#include "ui/qt/QtUiHost.h"

namespace qtui {

namespace {

constexpr size_t kNoControl = std::numeric_limits<size_t>::max();

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

QRect ToQRect(const Rect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

Qt::Alignment EditAlignment(uint32_t style) {
    if (style & ControlStyle::Centered) return Qt::AlignHCenter | Qt::AlignVCenter;
    if (style & ControlStyle::RightAligned) return Qt::AlignRight | Qt::AlignVCenter;
    return Qt::AlignLeft | Qt::AlignVCenter;
}

Qt::Alignment LabelAlignment(uint32_t style) {
    if (style & ControlStyle::Centered) return Qt::AlignHCenter | Qt::AlignTop;
    if (style & ControlStyle::RightAligned) return Qt::AlignRight | Qt::AlignTop;
    return Qt::AlignLeft | Qt::AlignTop;
}

// Read-only and disabled fields sit on the window colour, as the toolkit draws them.
void GreyBackground(QLineEdit* edit, bool readOnly) {
    QPalette pal = edit->palette();
    const QColor face = pal.color(QPalette::Active, QPalette::Window);
    pal.setColor(QPalette::Disabled, QPalette::Base, face);
    if (readOnly) {
        pal.setColor(QPalette::Active, QPalette::Base, face);
        pal.setColor(QPalette::Inactive, QPalette::Base, face);
    }
    edit->setPalette(pal);
}

}  // namespace

// --- DialogWindow ---

DialogWindow::DialogWindow(QWidget* parent, std::function<void()> onClose,
                           std::function<void(QMenu&)> fillMenu, std::function<void()> onHelp,
                           std::function<bool(const void*)> onNativeMessage)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_onClose(std::move(onClose)),
      m_fillMenu(std::move(fillMenu)),
      m_onHelp(std::move(onHelp)),
      m_onNativeMessage(std::move(onNativeMessage)) {}

void DialogWindow::reject() {
    // Escape and the close box are the cancel command; the model decides whether it ends.
    m_onClose();
}

void DialogWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    m_fillMenu(menu);
    if (!menu.isEmpty()) menu.exec(event->globalPos());
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1 && event->modifiers() == Qt::NoModifier) {
        m_onHelp();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool DialogWindow::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    if (eventType == "windows_generic_MSG" && m_onNativeMessage(message)) {
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}

// --- DropListBox ---

DropListBox::DropListBox(QWidget* parent, std::function<void(int)> onCloseUp)
    : QComboBox(parent), m_onCloseUp(std::move(onCloseUp)) {
    connect(this, &QComboBox::activated, this, [this](int index) {
        if (m_inPopup || m_pending) {
            m_chosen = index;
        } else {
            // Arrow keys on the closed list: a choice without an opening.
            m_onCloseUp(index);
        }
    });
}

void DropListBox::showPopup() {
    m_chosen = -1;
    m_inPopup = true;
    QComboBox::showPopup();
}

void DropListBox::hidePopup() {
    QComboBox::hidePopup();
    if (!m_inPopup) return;
    m_inPopup = false;
    m_pending = true;
    // The pick is reported just after the popup hides: wait for it, then report once.
    QTimer::singleShot(0, this, [this] { Finish(); });
}

void DropListBox::Finish() {
    if (!m_pending) return;
    m_pending = false;
    const int chosen = m_chosen;
    m_chosen = -1;
    m_onCloseUp(chosen);
}

void DropListBox::wheelEvent(QWheelEvent* event) {
    // A scroll over the window must not switch the board profile or the port.
    event->ignore();
}

// --- TabHost ---

TabHost::TabHost(QWidget* parent) : QWidget(parent), m_bar(new QTabBar(this)) {
    m_bar->setDrawBase(false);
    m_bar->setExpanding(false);
    m_bar->setUsesScrollButtons(false);
}

void TabHost::LayoutBar() {
    const QSize hint = m_bar->sizeHint();
    // The labels start two pixels in, like the toolkit's, so the pages clear the frame.
    m_bar->setGeometry(2, 0, std::min(hint.width(), std::max(0, width() - 4)), hint.height());
}

void TabHost::resizeEvent(QResizeEvent*) {
    LayoutBar();
}

void TabHost::paintEvent(QPaintEvent*) {
    QStylePainter p(this);
    QStyleOptionTabWidgetFrame opt;
    opt.initFrom(this);
    const int overlap = style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    const int top = std::max(0, m_bar->height() - overlap);
    opt.rect = QRect(0, top, width(), height() - top);
    opt.shape = m_bar->shape();
    opt.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    opt.tabBarSize = m_bar->size();
    opt.tabBarRect = m_bar->geometry();
    if (m_bar->currentIndex() >= 0)
        opt.selectedTabRect = m_bar->tabRect(m_bar->currentIndex()).translated(m_bar->pos());
    p.drawPrimitive(QStyle::PE_FrameTabWidget, opt);
}

// --- QtDialogView ---

QtDialogView::QtDialogView(QtUiHost& host, CDialog& dialog) : m_host(host), m_dialog(dialog) {
    const DialogTemplate& t = dialog.Template();
    QWidget* parent = nullptr;
    if (CDialog* owner = dialog.GetParent()) {
        if (auto* view = dynamic_cast<QtDialogView*>(owner->View())) {
            parent = dialog.HostControl() != kNoControlId
                         ? view->ControlWidget(dialog.HostControl())
                         : nullptr;
            if (parent == nullptr) parent = view->Window();
        }
    }
    const Rect r = dialog.GetWindowRect();
    if (t.child && parent != nullptr) {
        m_window = new QWidget(parent);
        m_window->hide();
        m_window->setGeometry(ToQRect(r));
    } else {
        QWidget* owner = QApplication::activeModalWidget();
        if (owner == nullptr) owner = QApplication::activeWindow();
        const std::weak_ptr<bool> alive = m_alive;
        auto* window = new DialogWindow(
            owner,
            [this, alive] {
                if (!alive.expired()) Act(kNoControl, true, [this] { m_dialog.RequestClose(); });
            },
            [this, alive](QMenu& menu) {
                if (!alive.expired()) FillSystemMenu(menu);
            },
            [this, alive] {
                if (alive.expired()) return;
                for (const CDialog::MenuItem& item : m_dialog.SystemMenu())
                    if (item.id == kAboutBoxCommand)
                        Act(kNoControl, false,
                            [this] { m_dialog.SystemCommand(kAboutBoxCommand); });
            },
            [this, alive](const void* message) {
                return !alive.expired() && NativeMessage(message);
            });
        window->setWindowTitle(Q(t.caption));
        window->setFixedSize(r.Width(), r.Height());
        // Every dialog of this program is modal: the one on top keeps the others out.
        window->setWindowModality(Qt::ApplicationModal);
        m_window = window;
    }
    m_window->setFont(DialogFont(t.font, t.pointSize));
    m_window->setObjectName(QStringLiteral("dlg%1").arg(t.id));
    m_window->setProperty("templateId", t.id);
}

QtDialogView::~QtDialogView() {
    OnDestroyed();
}

void QtDialogView::OnCreated() {
    m_widgets.assign(m_dialog.Controls().size(), nullptr);
    ++m_syncing;
    for (size_t i = 0; i < m_widgets.size(); ++i) CreateControl(i);
    --m_syncing;
}

void QtDialogView::CreateControl(size_t i) {
    const ControlState& s = m_dialog.Controls()[i];
    const ControlTemplate& t = *s.tmpl;
    const int id = s.id;
    // Widgets may outlive the view by a moment (deferred deletion): then they do nothing.
    const std::weak_ptr<bool> alive = m_alive;
    QWidget* parent = m_window;
    QWidget* w = nullptr;
    switch (s.kind) {
        case ControlKind::GroupBox:
            w = new QGroupBox(parent);
            break;
        case ControlKind::PushButton:
        case ControlKind::DefPushButton: {
            auto* b = new QPushButton(parent);
            b->setAutoDefault(false);
            b->setDefault(s.kind == ControlKind::DefPushButton);
            QObject::connect(b, &QPushButton::clicked, b, [this, alive, i, id] {
                if (!alive.expired()) Act(i, false, [this, id] { m_dialog.Press(id); });
            });
            w = b;
            break;
        }
        case ControlKind::Edit: {
            auto* e = new QLineEdit(parent);
            e->setReadOnly(s.readOnly);
            e->setAlignment(EditAlignment(t.style));
            e->setFrame((t.style & ControlStyle::Border) != 0);
            GreyBackground(e, s.readOnly);
            QObject::connect(
                e, &QLineEdit::textEdited, e, [this, alive, i, id](const QString& text) {
                    if (!alive.expired())
                        Act(i, true, [this, id, text] { m_dialog.Type(id, text.toStdString()); });
                });
            w = e;
            break;
        }
        case ControlKind::Static: {
            auto* l = new QLabel(parent);
            l->setAlignment(LabelAlignment(t.style));
            l->setTextFormat(Qt::PlainText);
            w = l;
            break;
        }
        case ControlKind::Icon: {
            auto* l = new QLabel(parent);
            const int side = std::min(32, std::min(s.pixels.Width(), s.pixels.Height()) + 12);
            l->setPixmap(QIcon(IconPath(std::atoi(t.text.c_str()))).pixmap(side, side));
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            w = l;
            break;
        }
        case ControlKind::DropList:
            w = new DropListBox(parent, [this, alive, i, id](int chosen) {
                if (alive.expired()) return;
                const int index = chosen >= 0 ? chosen : m_dialog.GetCurSel(id);
                if (index < 0) return SyncAll(i);
                Act(i, false, [this, id, index] { m_dialog.Select(id, index); });
            });
            break;
        case ControlKind::Radio: {
            auto* r = new QRadioButton(parent);
            r->setAutoExclusive(false);  // the model unchecks the rest of the group
            QObject::connect(r, &QRadioButton::clicked, r, [this, alive, i, id] {
                if (!alive.expired()) Act(i, false, [this, id] { m_dialog.Press(id); });
            });
            w = r;
            break;
        }
        case ControlKind::Tab: {
            auto* tab = new TabHost(parent);
            QObject::connect(tab->Bar(), &QTabBar::currentChanged, tab,
                             [this, alive, i, id](int index) {
                                 if (alive.expired() || m_syncing > 0 || index < 0) return;
                                 // Switching pages is harmless during an operation.
                                 Act(i, true, [this, id, index] { m_dialog.Select(id, index); });
                             });
            w = tab;
            break;
        }
        case ControlKind::Progress: {
            auto* p = new QProgressBar(parent);
            p->setTextVisible(false);
            w = p;
            break;
        }
    }
    w->setObjectName(id == kNoControlId ? QStringLiteral("static%1").arg(i)
                                        : QStringLiteral("ctl%1").arg(id));
    w->setProperty("controlId", id);
    w->setProperty("templateIndex", static_cast<int>(i));
    const bool focusable = s.kind != ControlKind::GroupBox && s.kind != ControlKind::Static &&
                           s.kind != ControlKind::Icon && s.kind != ControlKind::Progress;
    if (!focusable)
        w->setFocusPolicy(Qt::NoFocus);
    else if ((t.style & ControlStyle::TabStop) == 0 && s.kind != ControlKind::Tab)
        w->setFocusPolicy(Qt::ClickFocus);

    QRect geometry = ToQRect(s.pixels);
    if (auto* combo = qobject_cast<DropListBox*>(w)) {
        // The template height includes the opened list; the closed box is one line high.
        const int closed = std::min(geometry.height(), combo->sizeHint().height());
        const int line = std::max(1, combo->fontMetrics().height() + 2);
        combo->setMaxVisibleItems(std::max(1, (geometry.height() - closed) / line));
        geometry.setHeight(closed);
    }
    w->setGeometry(geometry);
    m_widgets[i] = w;
    SyncAll(i);
    w->show();
    if (!s.visible) w->hide();
}

QWidget* QtDialogView::ControlWidget(int id) const {
    if (id == kNoControlId) return nullptr;
    const auto& controls = m_dialog.Controls();
    for (size_t i = 0; i < controls.size() && i < m_widgets.size(); ++i)
        if (controls[i].id == id) return m_widgets[i];
    return nullptr;
}

void QtDialogView::SyncAll(size_t i) {
    for (ControlChange what : {ControlChange::Text, ControlChange::Enabled, ControlChange::Visible,
                               ControlChange::Checked, ControlChange::Items,
                               ControlChange::Selection, ControlChange::Range})
        Sync(i, what);
}

void QtDialogView::Sync(size_t i, ControlChange what) {
    if (i >= m_widgets.size() || m_widgets[i].isNull()) return;
    QWidget* w = m_widgets[i];
    const ControlState& s = m_dialog.Controls()[i];
    ++m_syncing;
    // Programmatic changes must not come back as operator input; the bar has no input.
    const QSignalBlocker block(qobject_cast<QProgressBar*>(w) != nullptr ? nullptr : w);
    switch (what) {
        case ControlChange::Text:
            if (auto* e = qobject_cast<QLineEdit*>(w)) {
                if (e->text() != Q(s.text)) e->setText(Q(s.text));
            } else if (auto* l = qobject_cast<QLabel*>(w)) {
                if (s.kind == ControlKind::Static) l->setText(Q(s.text));
            } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
                b->setText(Q(s.text));
            } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
                g->setTitle(Q(s.text));
            }
            break;
        case ControlChange::Enabled:
            w->setEnabled(s.enabled);
            break;
        case ControlChange::Visible:
            if (w->isVisible() != s.visible && !w->isHidden() != s.visible)
                w->setVisible(s.visible);
            break;
        case ControlChange::Checked:
            if (auto* r = qobject_cast<QRadioButton*>(w)) r->setChecked(s.checked);
            break;
        case ControlChange::Items:
            if (auto* c = qobject_cast<QComboBox*>(w)) {
                c->clear();
                for (const std::string& item : s.items) c->addItem(Q(item));
                c->setCurrentIndex(s.selection);
            } else if (auto* tab = dynamic_cast<TabHost*>(w)) {
                QTabBar* bar = tab->Bar();
                const QSignalBlocker blockBar(bar);
                while (bar->count() > 0) bar->removeTab(bar->count() - 1);
                for (const std::string& item : s.items) bar->addTab(Q(item));
                if (s.selection >= 0) bar->setCurrentIndex(s.selection);
                tab->LayoutBar();
            }
            break;
        case ControlChange::Selection:
            if (auto* c = qobject_cast<QComboBox*>(w)) {
                c->setCurrentIndex(s.selection);
            } else if (auto* tab = dynamic_cast<TabHost*>(w)) {
                const QSignalBlocker blockBar(tab->Bar());
                if (s.selection >= 0) tab->Bar()->setCurrentIndex(s.selection);
                tab->update();
            }
            break;
        case ControlChange::Range:
        case ControlChange::Position:
            if (auto* p = qobject_cast<QProgressBar*>(w)) {
                // An empty range shows an empty bar (Qt would animate a busy indicator).
                if (s.rangeMax > s.rangeMin) {
                    p->setRange(s.rangeMin, s.rangeMax);
                    p->setValue(std::clamp(s.pos, s.rangeMin, s.rangeMax));
                } else {
                    p->setRange(0, 1);
                    p->setValue(0);
                }
            }
            break;
    }
    --m_syncing;
}

void QtDialogView::OnControlChanged(int id, ControlChange what) {
    const auto& controls = m_dialog.Controls();
    for (size_t i = 0; i < controls.size(); ++i)
        if (controls[i].id == id) Sync(i, what);
}

void QtDialogView::Act(size_t index, bool duringOperation, const std::function<void()>& action) {
    QtUiHost& host = m_host;
    // Input pumped during an operation must not start another one on the same link.
    if (!duringOperation && CDialog::RunningHandlers() > 0) {
        QApplication::beep();
        SyncAll(index);
        return;
    }
    const std::weak_ptr<bool> alive = m_alive;
    action();
    if (!alive.expired()) {
        if (!m_dialog.LastRefusal().empty()) QApplication::beep();
        SyncAll(index);
    }
    host.CheckModalLoops();
}

void QtDialogView::FillSystemMenu(QMenu& menu) {
    if (m_nativeSystemMenu) return;  // the window's own system menu has them
    for (const CDialog::MenuItem& item : m_dialog.SystemMenu()) {
        if (item.text.empty()) {
            if (!menu.isEmpty()) menu.addSeparator();
            continue;
        }
        const unsigned id = item.id;
        QAction* action = menu.addAction(Q(item.text));
        action->setData(id);
        QObject::connect(action, &QAction::triggered, &menu, [this, id] {
            Act(kNoControl, false, [this, id] { m_dialog.SystemCommand(id); });
        });
    }
}

bool QtDialogView::NativeMessage(const void* message) {
    unsigned id = 0;
    if (!NativeSystemCommand(message, m_dialog.SystemMenu(), id)) return false;
    // Run it from the event loop, not inside the window procedure: the About box is modal.
    const std::weak_ptr<bool> alive = m_alive;
    QTimer::singleShot(0, m_window, [this, alive, id] {
        if (!alive.expired()) Act(kNoControl, false, [this, id] { m_dialog.SystemCommand(id); });
    });
    return true;
}

void QtDialogView::OnRepaint() {
    if (m_window && m_window->isVisible()) m_window->repaint();
}

void QtDialogView::OnShow(bool visible) {
    if (!m_window) return;
    if (m_window->isWindow() && visible) {
        if (m_dialog.GetIcon() != 0) m_window->setWindowIcon(QIcon(IconPath(m_dialog.GetIcon())));
        if (HasNativeSystemMenu() && !m_dialog.SystemMenu().empty())
            m_nativeSystemMenu = AppendNativeSystemMenu(
                static_cast<std::uintptr_t>(m_window->winId()), m_dialog.SystemMenu());
        m_window->show();
        m_window->raise();
        m_window->activateWindow();
        return;
    }
    m_window->setVisible(visible);
}

void QtDialogView::OnMove(const Rect& pixels) {
    if (!m_window) return;
    if (m_window->isWindow())
        m_window->setFixedSize(pixels.Width(), pixels.Height());
    else
        m_window->setGeometry(ToQRect(pixels));
}

void QtDialogView::OnDestroyed() {
    QWidget* w = m_window;
    m_window = nullptr;
    m_alive = std::make_shared<bool>(true);  // callbacks of the old widgets now do nothing
    if (w == nullptr) return;
    w->hide();
    // A handler may still be inside one of this window's signals: let Qt finish it first.
    if (CDialog::RunningHandlers() > 0)
        w->deleteLater();
    else
        delete w;
}

bool QtDialogView::GetTabItemRect(int id, int index, Rect& out) {
    auto* tab = dynamic_cast<TabHost*>(ControlWidget(id));
    if (tab == nullptr || index < 0 || index >= tab->Bar()->count()) return false;
    const QRect r = tab->Bar()->tabRect(index).translated(tab->Bar()->pos());
    if (!r.isValid()) return false;
    out = {r.left(), r.top(), r.left() + r.width(), r.top() + r.height()};
    return true;
}

}  // namespace qtui

#include "ui/qt/QtUiHost.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QMessageBox>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>

#include "ui/Dialog.h"
#include "ui/DialogTemplate.h"
#include "ui/qt/QtDialogView.h"

namespace qtui {

QString ToQtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString desc = parts[i].trimmed();
        const QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QStringList cleaned;
        for (const QString& p : patterns)
            if (!p.trimmed().isEmpty()) cleaned << p.trimmed();
        if (desc.isEmpty() && cleaned.isEmpty()) break;  // the "||" at the end
        if (cleaned.isEmpty()) continue;
        const QString list = QLatin1Char('(') + cleaned.join(QLatin1Char(' ')) + QLatin1Char(')');
        if (desc.isEmpty()) desc = cleaned.join(QLatin1Char(' '));
        // Qt reads the patterns from the parenthesis at the end of the description.
        out << (desc.endsWith(list) ? desc : desc + QLatin1Char(' ') + list);
    }
    return out.join(QStringLiteral(";;"));
}

QFont DialogFont(const std::string& family, int pointSize) {
    QFont font(QString::fromStdString(family));
    font.setPointSize(pointSize > 0 ? pointSize : 8);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

BaseUnits ComputeBaseUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const int letters = fm.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    BaseUnits bu;
    bu.x = std::max(1, (letters / 26 + 1) / 2);
    bu.y = std::max(1, fm.height());

    // The platform's font is not the one the templates were drawn for: widen the horizontal
    // unit until every label, button, radio and group title fits its control.
    QStyle* style = QApplication::style();
    QStyleOptionButton opt;
    const int buttonPad = style->pixelMetric(QStyle::PM_ButtonMargin, &opt) +
                          2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt);
    const int radioPad = style->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, &opt) +
                         style->pixelMetric(QStyle::PM_RadioButtonLabelSpacing, &opt);
    for (int id : DialogTemplateIds()) {
        for (const ControlTemplate& c : GetDialogTemplate(id).controls) {
            if (c.text.empty() || c.cx <= 0) continue;
            int pad = 0;
            switch (c.kind) {
                case ControlKind::Static:
                    pad = 0;
                    break;
                case ControlKind::PushButton:
                case ControlKind::DefPushButton:
                    pad = buttonPad;
                    break;
                case ControlKind::Radio:
                    pad = radioPad;
                    break;
                case ControlKind::GroupBox:
                    pad = 4 * bu.x;
                    break;
                default:
                    continue;
            }
            // One pixel spare: the width of a control can round down by one.
            const int need = fm.horizontalAdvance(QString::fromStdString(c.text)) + pad + 1;
            bu.x = std::max(bu.x, (4 * need + c.cx - 1) / c.cx);
        }
    }
    return bu;
}

QString IconPath(int iconId) {
    if (iconId == kIdiMainIcon) return QStringLiteral(":/tapwright/tapwright.png");
    return {};
}

QtUiHost::QtUiHost() {
    const DialogTemplate& main = GetDialogTemplate(kIddMain);
    m_font = DialogFont(main.font, main.pointSize);
    m_baseUnits = ComputeBaseUnits(m_font);
}

QtUiHost::~QtUiHost() = default;

std::unique_ptr<IDialogView> QtUiHost::CreateView(CDialog& dialog) {
    return std::make_unique<QtDialogView>(*this, dialog);
}

void QtUiHost::PumpMessages() {
    // Never waits: repaints and delivers whatever input is pending, then returns.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

int QtUiHost::RunModal(CDialog& dialog) {
    if (!dialog.IsEnded()) {
        QEventLoop loop;
        m_modals.push_back({&dialog, &loop});
        loop.exec();
        m_modals.erase(std::find_if(m_modals.begin(), m_modals.end(),
                                    [&](const Modal& m) { return m.loop == &loop; }));
    }
    return dialog.IsEnded() ? dialog.EndResult() : -1;
}

void QtUiHost::CheckModalLoops() {
    for (const Modal& m : m_modals)
        if (m.dialog->IsEnded()) m.loop->exit(0);
}

QWidget* QtUiHost::OwnerWidget(CDialog* owner) const {
    if (owner != nullptr)
        if (auto* view = dynamic_cast<QtDialogView*>(owner->View()))
            if (view->Window() != nullptr) return view->Window()->window();
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    return QApplication::activeWindow();
}

int QtUiHost::MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                         unsigned type) {
    QMessageBox box(OwnerWidget(owner));
    box.setWindowTitle(QString::fromStdString(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromStdString(text));
    const bool yesNo = (type & 0xF) == kMbYesNo;
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    box.setIcon((type & 0xF0) == kMbIconExclamation ? QMessageBox::Warning : QMessageBox::NoIcon);
    const int answer = box.exec();
    if (!yesNo) return kIdOk;
    return answer == QMessageBox::Yes ? kIdYes : kIdNo;
}

bool QtUiHost::FileDialog(CDialog* owner, const FileDialogRequest& request, std::string& path) {
    QFileDialog dialog(OwnerWidget(owner));
    dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(request.open && request.mustExist ? QFileDialog::ExistingFile
                                                         : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, request.open || !request.overwritePrompt);
    const QString filter = ToQtFilter(request.filter);
    if (!filter.isEmpty()) dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExt));
    dialog.setDirectory(QDir::currentPath());
    if (!request.initialName.empty())
        dialog.selectFile(QString::fromStdString(request.initialName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    const QString chosen = dialog.selectedFiles().first();
    // The chosen folder becomes the current folder, so the next dialog starts there.
    QDir::setCurrent(QFileInfo(chosen).absolutePath());
    path = QFile::encodeName(QFileInfo(chosen).absoluteFilePath()).toStdString();
    return true;
}

}  // namespace qtui

// The Qt Widgets backing of the dialog layer: every dialog becomes a window of real widgets,
// prompts become Qt message boxes and file dialogs, and the modal loops are Qt event loops.
// Needs a QApplication; create one host after it and set it with SetUiHost.
#pragma once

#include <QFont>
#include <QString>
#include <vector>

#include "ui/UiHost.h"

class QEventLoop;
class QWidget;

namespace qtui {

// "desc|pattern|desc|pattern||" as Qt name filters ("desc (pattern);;...").
QString ToQtFilter(const std::string& filter);

// The dialog font of a template ("MS Sans Serif" 8 falls back to the platform's sans-serif).
QFont DialogFont(const std::string& family, int pointSize);

// Base units of a font: the average width of the 52 letters and the line height, widened so
// that every text of every template fits its control at that size.
BaseUnits ComputeBaseUnits(const QFont& font);

// The icon resource with that id (128: the application icon).
QString IconPath(int iconId);

class QtUiHost final : public IUiHost {
  public:
    QtUiHost();
    ~QtUiHost() override;

    std::unique_ptr<IDialogView> CreateView(CDialog& dialog) override;
    void PumpMessages() override;
    int RunModal(CDialog& dialog) override;
    BaseUnits GetBaseUnits() const override { return m_baseUnits; }
    int MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    bool FileDialog(CDialog* owner, const FileDialogRequest& request, std::string& path) override;

    // Ends the modal loops whose dialog has ended; the views call it after each operator
    // action they deliver.
    void CheckModalLoops();
    const QFont& Font() const { return m_font; }

  private:
    QWidget* OwnerWidget(CDialog* owner) const;

    struct Modal {
        CDialog* dialog;
        QEventLoop* loop;
    };
    QFont m_font;
    BaseUnits m_baseUnits;
    std::vector<Modal> m_modals;
};

}  // namespace qtui

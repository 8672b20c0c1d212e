#include "ui/Page.h"

#include "ui/PageFiles.h"
#include "ui/UiHost.h"

namespace {

class NullWindow final : public IMainWindow {
  public:
    void ShowStatus(std::string) override {}
    void ShowAddress(std::string) override {}
    void SetProgress(uint32_t) override {}
    void StartProgress(uint32_t) override {}
    void ShowMessage(std::string, std::string) override {}
    void LockControls() override {}
    void UnlockControls() override {}
    void EnableExitButton(bool) override {}
    void EnableCpuIdButton(bool) override {}
    void EnableLoadButton(bool) override {}
    void EnableDutSelector(bool) override {}
};

}  // namespace

PageOperation::PageOperation(IMainWindow& window, const std::string& title,
                             std::optional<ProgressMode> mode, Lock lock)
    : m_window(window) {
    if (lock == Lock::kControls)
        m_window.LockControls();
    else
        m_window.EnableExitButton(false);
    m_window.ShowStatus(title);
    m_window.ShowAddress("");
    if (mode) g_link.SetProgressMode(*mode);
}

void PageOperation::Unlock() {
    if (!m_held) return;
    m_held = false;
    m_window.UnlockControls();
}

void PageOperation::LeaveLocked() {
    m_held = false;
    m_window.LockControls();
    m_window.EnableCpuIdButton(true);
    m_window.EnableLoadButton(false);
    m_window.EnableExitButton(true);
}

IMainWindow& Page::Observer() {
    static NullWindow none;
    return m_pObserver != nullptr ? *m_pObserver : none;
}

void Page::OnDestroy() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
}

void Page::ShowFields() {
    UpdateData(false);
    UpdateWindow();
}

void Page::FetchFields(uint32_t&, uint32_t&) {}

bool Page::AskFile(bool open, const char* filter, const char* defaultExt, std::string& fileField,
                   std::string& path) {
    FileDialogRequest request;
    request.open = open;
    request.filter = filter;
    request.defaultExt = defaultExt;
    request.initialName = fileField;
    request.mustExist = open;
    request.overwritePrompt = !open;
    if (!GetUiHost().FileDialog(this, request, path)) return false;
    fileField = FileNameOf(path);
    return true;
}

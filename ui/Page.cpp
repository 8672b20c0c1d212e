#include "ui/Page.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <vector>

#include "ui/AppState.h"
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

bool Page::Refuse(const std::string& why, const char* mark) {
    Observer().ShowStatus(why);
    Observer().ShowAddress(mark);
    return false;
}

bool Page::AcceptFileLength(const std::string& path, uint64_t length, uint32_t size,
                            const std::string& title, const char* verb) {
    if (length <= size) return true;
    char text[512];
    std::snprintf(text, sizeof text,
                  "%s holds %" PRIu64 " bytes; Size is %08X: the last %" PRIu64
                  " bytes would be left out. %s only the first %08X bytes?",
                  FileNameOf(path).c_str(), length, size, length - size, verb, size);
    if (GetUiHost().MessageBox(this, text, title, kMbYesNo | kMbIconExclamation) == kIdYes)
        return true;
    const bool write = std::string(verb) == "Write";
    Observer().ShowStatus(std::string("Nothing ") + (write ? "written" : "compared") +
                          ": the file is longer than Size");
    return false;
}

bool Page::ReadToFile(const std::string& path, uint32_t size,
                      const std::function<bool(uint8_t*)>& reader, const char* fileMark,
                      uint32_t& done) {
    done = 0;
    std::vector<uint8_t> buffer;
    try {
        buffer.assign(size, 0);
    } catch (const std::bad_alloc&) {
        return Refuse("Not enough memory for " + Hex8(size) + " bytes", fileMark);
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        ShowFileFault(Observer(), FileFault::CannotCreate, path, fileMark);
        return false;
    }
    g_link.m_nLastCount = 0;
    const bool read = reader(buffer.data());
    done = read ? size : std::min(g_link.m_nLastCount, size);
    if (!read) {
        g_link.ReportError();
        Observer().ShowAddress("!!! Error !!!");
    }
    const bool written = std::fwrite(buffer.data(), 1, size, file) == size;
    if (std::fclose(file) != 0 || !written) {
        ShowFileFault(Observer(), FileFault::CannotWrite, path, fileMark);
        return false;
    }
    return read;
}

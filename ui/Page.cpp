#include "ui/Page.h"

#include "ui/PageFiles.h"
#include "ui/UiHost.h"

void CPage::OnDestroy() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
}

void CPage::ShowFields() {
    UpdateData(false);
    UpdateWindow();
}

void CPage::FetchFields(uint32_t&, uint32_t&) {}

bool CPage::AskFile(bool open, const char* filter, const char* defaultExt, std::string& fileField,
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

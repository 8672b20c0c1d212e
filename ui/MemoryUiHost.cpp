#include "ui/MemoryUiHost.h"

#include "ui/Dialog.h"

namespace {

class MemoryDialogView final : public IDialogView {
  public:
    MemoryDialogView(MemoryUiHost& host, CDialog& dialog) : m_host(host), m_dialog(dialog) {}
    void OnCreated() override {}
    void OnControlChanged(int id, ControlChange what) override {
        if (IUiListener* l = m_host.Listener()) l->OnControlChanged(m_dialog, id, what);
    }
    void OnRepaint() override { m_host.CountRepaint(); }
    void OnShow(bool) override {}
    void OnMove(const Rect&) override {}
    void OnDestroyed() override {}
    bool GetTabItemRect(int, int, Rect&) override { return false; }

  private:
    MemoryUiHost& m_host;
    CDialog& m_dialog;
};

}  // namespace

std::unique_ptr<IDialogView> MemoryUiHost::CreateView(CDialog& dialog) {
    return std::make_unique<MemoryDialogView>(*this, dialog);
}

void MemoryUiHost::PumpMessages() {
    ++m_pumps;
    while (!m_input.empty()) {
        auto input = std::move(m_input.front());
        m_input.pop_front();
        input();
    }
}

int MemoryUiHost::RunModal(CDialog& dialog) {
    if (m_modal) {
        // The driver may open further modal dialogs (the About box): run it only once deep.
        auto driver = std::move(m_modal);
        m_modal = nullptr;
        driver(dialog);
        m_modal = std::move(driver);
    }
    return dialog.IsEnded() ? dialog.EndResult() : -1;
}

int MemoryUiHost::MessageBox(CDialog*, const std::string& text, const std::string& caption,
                             unsigned type) {
    Prompt p;
    p.text = text;
    p.caption = caption;
    p.type = type;
    int answer = kIdOk;
    if ((type & 0xF) == kMbYesNo) {
        if (m_messageAnswers.empty()) {
            m_unanswered.push_back("no answer for \"" + caption + "\": " + text);
            answer = kIdNo;  // the safe answer: nothing destructive happens
        } else {
            answer = m_messageAnswers.front();
            m_messageAnswers.pop_front();
            p.answered = true;
        }
    } else {
        p.answered = true;
    }
    m_prompts.push_back(p);
    if (m_listener) m_listener->OnMessageBox(text, caption, type, answer);
    return answer;
}

bool MemoryUiHost::FileDialog(CDialog*, const FileDialogRequest& request, std::string& path) {
    Prompt p;
    p.fileDialog = true;
    p.request = request;
    if (m_fileAnswers.empty()) {
        m_unanswered.push_back(std::string("no file name for the ") +
                               (request.open ? "open" : "save") + " dialog");
        m_prompts.push_back(p);
        return false;
    }
    path = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    p.answered = true;
    m_prompts.push_back(p);
    if (path.empty()) return false;
    // Toolkits add the default extension to a name that has none.
    const auto slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (!request.defaultExt.empty() && name.find('.') == std::string::npos)
        path += "." + request.defaultExt;
    return true;
}

namespace {
IUiHost* g_host = nullptr;
}

IUiHost& GetUiHost() {
    static MemoryUiHost fallback;
    return g_host != nullptr ? *g_host : fallback;
}

void SetUiHost(IUiHost* host) {
    g_host = host;
}

// The in-memory backing: everything stays in the control model. Prompts are answered from a
// script, so tests and the command line drive dialogs without a screen; a prompt with no
// answer in the script is recorded as an error and answered negatively, never waited on.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "ui/UiHost.h"

// Watches what the in-memory windows show.
class IUiListener {
  public:
    virtual ~IUiListener() = default;
    virtual void OnControlChanged(CDialog& dialog, int id, ControlChange what) = 0;
    // A message box that was shown, and the answer it got.
    virtual void OnMessageBox(const std::string& text, const std::string& caption, unsigned type,
                              int answer) = 0;
};

class MemoryUiHost final : public IUiHost {
  public:
    struct Prompt {
        bool fileDialog = false;
        std::string text, caption;  // message box
        unsigned type = 0;
        FileDialogRequest request;  // file dialog
        bool answered = false;
    };

    std::unique_ptr<IDialogView> CreateView(CDialog& dialog) override;
    void PumpMessages() override;
    int RunModal(CDialog& dialog) override;
    BaseUnits GetBaseUnits() const override { return m_baseUnits; }
    int MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    bool FileDialog(CDialog* owner, const FileDialogRequest& request, std::string& path) override;

    // --- Script ---
    // Answers for Yes/No boxes, in order (kIdYes or kIdNo). OK boxes need no answer.
    void QueueMessageAnswer(int answer) { m_messageAnswers.push_back(answer); }
    void ClearMessageAnswers() { m_messageAnswers.clear(); }
    // Answers for file dialogs, in order; an empty path cancels the dialog.
    void QueueFileAnswer(const std::string& path) { m_fileAnswers.push_back(path); }
    // Operator input delivered by the next PumpMessages, in order (e.g. a close request
    // arriving during an operation).
    void PostInput(std::function<void()> input) { m_input.push_back(std::move(input)); }
    // What a modal loop does with its dialog; without one RunModal returns at once.
    void SetModalDriver(std::function<void(CDialog&)> driver) { m_modal = std::move(driver); }
    void SetBaseUnits(BaseUnits units) { m_baseUnits = units; }
    void SetListener(IUiListener* listener) { m_listener = listener; }
    IUiListener* Listener() const { return m_listener; }

    // --- What happened ---
    const std::vector<Prompt>& Prompts() const { return m_prompts; }
    // Prompts that found no answer in the script, one line each.
    const std::vector<std::string>& Unanswered() const { return m_unanswered; }
    int PumpCount() const { return m_pumps; }
    int RepaintCount() const { return m_repaints; }
    void CountRepaint() { ++m_repaints; }

  private:
    BaseUnits m_baseUnits{6, 13};
    std::deque<int> m_messageAnswers;
    std::deque<std::string> m_fileAnswers;
    std::deque<std::function<void()>> m_input;
    std::function<void(CDialog&)> m_modal;
    IUiListener* m_listener = nullptr;
    std::vector<Prompt> m_prompts;
    std::vector<std::string> m_unanswered;
    int m_pumps = 0;
    int m_repaints = 0;
};

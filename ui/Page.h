// What every page of the tab strip offers the main window.
#pragma once

#include <cstdint>
#include <string>

#include "link/LinkObserver.h"
#include "ui/Dialog.h"

class CPage : public CDialog {
  public:
    explicit CPage(int templateId) : CDialog(templateId) {}
    // Stores the main window's observer (not owned); set before the window is created.
    void SetObserver(ILinkObserver* observer) { m_pObserver = observer; }
    // Enables what the state flags allow; disables nothing.
    virtual void EnableControls() = 0;
    // Disables the operations (a page may keep its LOAD TRAP by the flags).
    virtual void DisableControls() = 0;

  protected:
    // What the operator typed is kept when the page closes.
    void OnDestroy() override;

    virtual void ShowFields();
    // The Start and Size fields as numbers; a page with fields keeps them in its profile or
    // the settings here.
    virtual void FetchFields(uint32_t& start, uint32_t& size);

    // The page's open or save dialog; true with the chosen path, its name put in `fileField`.
    bool AskFile(bool open, const char* filter, const char* defaultExt, std::string& fileField,
                 std::string& path);

    ILinkObserver* m_pObserver = nullptr;
};

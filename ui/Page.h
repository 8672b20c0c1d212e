// What every page of the tab strip offers the main window.
#pragma once

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
    ILinkObserver* m_pObserver = nullptr;
};

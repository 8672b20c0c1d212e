// What the pages ask of the main window besides what the link reports: locking and unlocking
// the operator's controls, and the window's own buttons and DUT list.
#pragma once

#include "link/LinkObserver.h"

class IMainWindow : public ILinkObserver {
  public:
    // The pages' controls and "Fin" off; then back as what runs on the target allows.
    virtual void LockControls() = 0;
    virtual void UnlockControls() = 0;
    virtual void EnableExitButton(bool flag) = 0;
    virtual void EnableCpuIdButton(bool flag) = 0;
    virtual void EnableLoadButton(bool flag) = 0;
    virtual void EnableDutSelector(bool flag) = 0;
};

// The tab strip of the main window (control 1054) and the four pages it owns.
#pragma once

#include "ui/EepromPage.h"
#include "ui/FlashPage.h"
#include "ui/MemoryPage.h"
#include "ui/MiscPage.h"

constexpr int kPageCount = 4;

class CPageTab {
  public:
    CPageTab();
    // Destroys the page windows that still exist.
    ~CPageTab();
    CPageTab(const CPageTab&) = delete;
    CPageTab& operator=(const CPageTab&) = delete;

    // Binds the container to tab control `id` of `owner` (the control binding of the window).
    void Attach(CDialog* owner, int id);
    // Hands every page the main window, creates their windows inside the tab control in tab
    // order (their OnInitDialog runs then), and lays them out.
    void CreatePages(IMainWindow* observer);
    // Places every page under the tab labels; FLASH shown, the others hidden.
    void LayoutPages();
    // Destroys the page windows in tab order (their OnDestroy runs).
    void DestroyPages();

    // Tab order: FLASH, EEPROM, MEMORY, MISC.
    Page* m_pages[kPageCount] = {};
    IMainWindow* m_pObserver = nullptr;
    CFlashPage m_flashPage;
    CEepromPage m_eepromPage;
    CMemoryPage m_memoryPage;
    CMiscPage m_miscPage;

  private:
    CDialog* m_pOwner = nullptr;
    int m_nId = kNoControlId;
};

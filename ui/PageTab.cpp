#include "ui/PageTab.h"

CPageTab::CPageTab() {
    m_pages[0] = &m_flashPage;
    m_pages[1] = &m_eepromPage;
    m_pages[2] = &m_memoryPage;
    m_pages[3] = &m_miscPage;
}

CPageTab::~CPageTab() {
    DestroyPages();
}

void CPageTab::Attach(CDialog* owner, int id) {
    m_pOwner = owner;
    m_nId = id;
}

void CPageTab::CreatePages(IMainWindow* observer) {
    m_pObserver = observer;
    for (Page* page : m_pages) page->SetObserver(observer);
    for (Page* page : m_pages) page->Create(m_pOwner, m_nId);
    LayoutPages();
}

void CPageTab::LayoutPages() {
    if (m_pOwner == nullptr) return;
    const Rect area = m_pOwner->GetClientRect(m_nId);
    Rect label;
    if (!m_pOwner->GetItemRect(m_nId, 0, label)) label = {};
    const Rect place{label.left, label.bottom + 1, area.right - 1, area.bottom - 1};
    for (int i = 0; i < kPageCount; ++i) {
        if (m_pages[i] == nullptr) continue;
        m_pages[i]->SetWindowPos(place);
        m_pages[i]->ShowWindow(i == 0);
    }
}

void CPageTab::DestroyPages() {
    for (Page* page : m_pages)
        if (page != nullptr) page->DestroyWindow();
}

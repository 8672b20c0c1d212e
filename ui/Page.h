// What every page of the tab strip offers the main window, and how a page runs an operation.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "link/TargetLink.h"
#include "ui/Dialog.h"
#include "ui/MainWindow.h"

// One operation of a page, from its button to its end. On entry the pages' controls and "Fin"
// are locked (only "Fin" for a LOAD TRAP, as the pages stay usable there), the title is shown,
// the result field cleared and, when given, the link's progress mode set. On every way out the
// controls come back as what now runs on the target allows.
class PageOperation {
  public:
    enum class Lock { kControls, kExitButton };

    PageOperation(IMainWindow& window, const std::string& title, std::optional<ProgressMode> mode,
                  Lock lock = Lock::kControls);
    ~PageOperation() { Unlock(); }
    PageOperation(const PageOperation&) = delete;
    PageOperation& operator=(const PageOperation&) = delete;

    // The controls back now, before the result is shown.
    void Unlock();
    // After GO and Reboot the target no longer runs what the pages drive: they stay locked, and
    // CPU ID and "Fin" are offered again.
    void LeaveLocked();

  private:
    IMainWindow& m_window;
    bool m_held = true;
};

class Page : public CDialog {
  public:
    explicit Page(int templateId) : CDialog(templateId) {}
    // Stores the main window (not owned); set before the window is created.
    void SetObserver(IMainWindow* observer) { m_pObserver = observer; }
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

    // READ into `path`: the file is created before any traffic (a folder that cannot be
    // written costs no read), then gets the `size` bytes `reader` fills, zeros where the read
    // failed. `done` counts the bytes read. False, said in the window, when the read or the
    // file failed; a failed read's link text is shown with "!!! Error !!!", a file's fault
    // with `fileMark`.
    bool ReadToFile(const std::string& path, uint32_t size,
                    const std::function<bool(uint8_t*)>& reader, const char* fileMark,
                    uint32_t& done);

    // Why the operation is not done, in the status field, `mark` in the result field; false.
    bool Refuse(const std::string& why, const char* mark);
    // A file of `length` bytes where only `size` are used: true when it fits, or when the
    // operator answers Yes to using its first `size` bytes only (`verb` "Write" or "Compare").
    // A No leaves "Nothing written/compared: the file is longer than Size" in the status.
    bool AcceptFileLength(const std::string& path, uint64_t length, uint32_t size,
                          const std::string& title, const char* verb);

    // The main window; one that shows nothing stands in before the container hands it over.
    IMainWindow& Observer();

    IMainWindow* m_pObserver = nullptr;
};

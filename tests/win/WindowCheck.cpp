// Drives Tapwright.exe on the virtual board from another process, as an operator would: clicks
// posted to its buttons, texts and states read by control id, the file dialogs answered, and
// the main window pictured with each page shown. Built by the Windows cross-build and run
// under Wine (no GoogleTest there); prints each failure, exits non-zero on any.
// Usage, in a folder holding TrapHandlers: tapwright-window-check TAPWRIGHT_EXE [PICTURE_DIR]
#include <windows.h>

#include <commctrl.h>
#include <dlgs.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "common/TemplateGeometry.h"
#include "ui/DialogTemplate.h"

namespace {

int g_failures = 0;
DWORD g_pid = 0;

bool Check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    std::fflush(stdout);
    if (!ok) ++g_failures;
    return ok;
}

template <class Condition>
bool WaitFor(Condition condition, int ms = 30000) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

// A message to the program's window that must not hang the check.
LRESULT Send(HWND w, UINT message, WPARAM wParam = 0, LPARAM lParam = 0, UINT ms = 60000) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(w, message, wParam, lParam, SMTO_NORMAL, ms, &result)) return -1;
    return static_cast<LRESULT>(result);
}

std::string Text(HWND w) {
    char text[512] = {};
    SendMessageTimeoutA(w, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        5000, nullptr);
    return text;
}
std::string Text(HWND dlg, int id) {
    return Text(GetDlgItem(dlg, id));
}
bool Enabled(HWND dlg, int id) {
    return IsWindowEnabled(GetDlgItem(dlg, id)) != FALSE;
}
void SetText(HWND w, const std::string& text) {
    SendMessageTimeoutA(w, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_NORMAL, 5000,
                        nullptr);
}
// A click that returns once the handler has run (and with it the whole operation).
void Click(HWND dlg, int id) {
    Send(GetDlgItem(dlg, id), BM_CLICK);
}
void PostClick(HWND dlg, int id) {
    PostMessageW(GetDlgItem(dlg, id), BM_CLICK, 0, 0);
}

// A visible dialog of the program: the one with that caption, or any owned by `owner`.
struct Search {
    const wchar_t* caption;
    HWND owner;
    HWND found;
};
BOOL CALLBACK Matches(HWND w, LPARAM p) {
    auto* s = reinterpret_cast<Search*>(p);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    wchar_t cls[32] = {}, title[128] = {};
    GetClassNameW(w, cls, 32);
    GetWindowTextW(w, title, 128);
    if (pid != g_pid || !IsWindowVisible(w) || std::wstring(cls) != L"#32770") return TRUE;
    if ((s->caption != nullptr && std::wstring(title) == s->caption) ||
        (s->owner != nullptr && GetWindow(w, GW_OWNER) == s->owner)) {
        s->found = w;
        return FALSE;
    }
    return TRUE;
}
HWND FindDialog(const wchar_t* caption, HWND owner = nullptr) {
    Search search{caption, owner, nullptr};
    EnumWindows(Matches, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The children of a window in Z order: for a dialog, its template order.
std::vector<HWND> Children(HWND parent) {
    std::vector<HWND> out;
    for (HWND w = GetWindow(parent, GW_CHILD); w != nullptr; w = GetWindow(w, GW_HWNDNEXT))
        out.push_back(w);
    return out;
}

// Base units of the templates' font, as the system documents them for dialogs.
BaseUnits FontBaseUnits(int* lineHeight) {
    const DialogTemplate& t = GetDialogTemplate(kIddMain);
    HDC dc = GetDC(nullptr);
    const std::wstring face(t.font.begin(), t.font.end());
    HFONT font = CreateFontW(-MulDiv(t.pointSize, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0,
                             FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, face.c_str());
    HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    SIZE size{};
    GetTextExtentPoint32W(dc, L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", 52, &size);
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    *lineHeight = tm.tmHeight;
    return {static_cast<int>((size.cx / 26 + 1) / 2), static_cast<int>(tm.tmHeight)};
}

// Every template control is a window with its id, where its dialog units put it.
void CheckGeometry(HWND dlg, int templateId) {
    const DialogTemplate& t = GetDialogTemplate(templateId);
    int line = 0;
    const BaseUnits bu = FontBaseUnits(&line);
    const std::string name = "template " + std::to_string(templateId);
    RECT client{};
    GetClientRect(dlg, &client);
    const Rect size = geometry::WindowPixels(t, bu);
    // A page takes the size the tab strip gives it.
    if (!t.child)
        Check(client.right == size.right && client.bottom == size.bottom,
              name + ": client area " + std::to_string(client.right) + "x" +
                  std::to_string(client.bottom) + " from its dialog units");
    const std::vector<HWND> children = Children(dlg);
    if (!Check(children.size() == t.controls.size(), name + ": one window per control")) return;
    std::string misplaced;
    for (size_t i = 0; i < children.size(); ++i) {
        const ControlTemplate& c = t.controls[i];
        RECT r{};
        GetWindowRect(children[i], &r);
        MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
        if (GetDlgCtrlID(children[i]) != (c.id == kNoControlId ? -1 : c.id))
            misplaced += " control " + std::to_string(c.id) + " lost its id;";
        const std::string off =
            geometry::Misplaced(c, {r.left, r.top, r.right, r.bottom}, bu, line);
        if (!off.empty()) misplaced += " " + off + ";";
    }
    Check(misplaced.empty(), name + ": ids kept, positions within a pixel" + misplaced);
}

// The client area as the screen shows it, as a binary PPM (the script makes it a PNG).
bool Picture(HWND w, const std::string& path) {
    RECT r{};
    GetClientRect(w, &r);
    MapWindowPoints(w, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bmp = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(mem, bmp);
    const bool ok = BitBlt(mem, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    const auto* px = static_cast<const unsigned char*>(bits);
    for (int i = 0; ok && i < width * height; ++i)
        out.put(char(px[4 * i + 2])).put(char(px[4 * i + 1])).put(char(px[4 * i]));
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    return ok && out.good();
}

std::vector<char> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

// Answers the file dialog that the program has open with `name`; true once it has gone.
bool AnswerFile(HWND main, const std::string& name, std::string* shownName = nullptr,
                std::string* firstFilter = nullptr, bool expectReplace = false) {
    HWND fd = nullptr;
    if (!WaitFor([&] { return (fd = FindDialog(nullptr, main)) != nullptr; })) return false;
    HWND field = GetDlgItem(fd, cmb13) != nullptr ? GetDlgItem(fd, cmb13) : GetDlgItem(fd, edt1);
    if (shownName != nullptr) *shownName = Text(field);
    if (firstFilter != nullptr) {
        wchar_t item[128] = {};
        Send(GetDlgItem(fd, cmb1), CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(item), 5000);
        *firstFilter = std::string(item, item + wcslen(item));
    }
    SetText(field, name);
    PostClick(fd, IDOK);
    if (expectReplace) {
        HWND ask = nullptr;
        Check(WaitFor([&] { return (ask = FindDialog(nullptr, fd)) != nullptr; }, 10000),
              "an existing file is not replaced without a question");
        if (ask != nullptr) PostClick(ask, IDYES);
    }
    return WaitFor([&] { return !IsWindow(fd); });
}

HWND g_main = nullptr;
HWND g_tab = nullptr;
HWND g_pages[4] = {};  // by template: FLASH, EEPROM, MEMORY, MISC
const int kPageTemplates[4] = {kIddFlash, kIddEeprom, kIddMemory, kIddMisc};

bool Idle() {
    return Enabled(g_main, 2) && FindDialog(nullptr, g_main) == nullptr;
}

void FindPages() {
    for (HWND page : Children(g_tab)) {
        std::vector<int> ids;
        for (HWND c : Children(page)) ids.push_back(GetDlgCtrlID(c));
        for (int i = 0; i < 4; ++i) {
            std::vector<int> want;
            for (const ControlTemplate& c : GetDialogTemplate(kPageTemplates[i]).controls)
                want.push_back(c.id);
            if (ids == want) g_pages[i] = page;
        }
    }
}

bool ShowTab(int index) {
    for (int step = 0; step < 4; ++step) {
        const LRESULT at = Send(g_tab, TCM_GETCURSEL);
        if (at == index) break;
        Send(g_tab, WM_KEYDOWN, at < index ? VK_RIGHT : VK_LEFT);
    }
    bool shown = Send(g_tab, TCM_GETCURSEL) == index;
    for (int i = 0; i < 4; ++i) shown = shown && (IsWindowVisible(g_pages[i]) != 0) == (i == index);
    return shown;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: tapwright-window-check TAPWRIGHT_EXE [PICTURE_DIR]\n");
        return 2;
    }
    const std::string pictures = argc > 2 ? argv[2] : "";
    std::string command = std::string("\"") + argv[1] + "\" --driver sim";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi)) {
        std::printf("FAIL cannot start %s\n", argv[1]);
        return 1;
    }
    g_pid = pi.dwProcessId;
    struct Stop {  // whatever happens, the program does not outlive the check
        HANDLE process;
        ~Stop() {
            if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) TerminateProcess(process, 3);
        }
    } stop{pi.hProcess};

    // Start-up: the link opened on the virtual board.
    Check(WaitFor([] { return (g_main = FindDialog(L"Tapwright for STi Processors")) != nullptr; }),
          "the main window comes up with its caption");
    if (g_main == nullptr) return 1;
    Check(WaitFor([] { return Text(g_main, 1020) == "Ok"; }), "the link opens: result Ok");
    Check(Text(g_main, 1016) == "Load Service Port Talk and Init JTAG", "start-up status text");
    Check(Send(g_main, WM_GETICON, ICON_BIG) != 0, "icon 128 is the window's icon");
    Check(!Enabled(g_main, 1022) && !Enabled(g_main, 1011) && Enabled(g_main, 1000),
          "CPU ID enabled; LOAD and the progress bar disabled");
    Check(Text(g_main, 1025) == "sim" && Send(GetDlgItem(g_main, 1033), CB_GETCOUNT) > 0,
          "the --driver backend chosen after the parallel ports, the DUT list filled");
    // The port list opened, a choice, closed: the choice is taken when the list closes. 0x3BC,
    // then the virtual board again for what follows.
    HWND lpt = GetDlgItem(g_main, 1025);
    for (int entry : {2, 3}) {
        Send(lpt, CB_SHOWDROPDOWN, TRUE);
        Send(lpt, CB_SETCURSEL, entry);
        Send(lpt, CB_SHOWDROPDOWN, FALSE);
    }
    g_tab = GetDlgItem(g_main, 1054);
    FindPages();
    bool allPages = true;
    for (HWND page : g_pages) allPages = allPages && page != nullptr;
    Check(allPages, "the four pages are the tab control's children, ids kept");
    if (!allPages) return 1;
    RECT area{}, page{};
    GetClientRect(g_tab, &area);
    GetWindowRect(g_pages[0], &page);
    MapWindowPoints(nullptr, g_tab, reinterpret_cast<POINT*>(&page), 2);
    Check(page.top > 0 && page.right == area.right - 1 && page.bottom == area.bottom - 1,
          "the pages fill the tab control under its labels, one pixel in");
    CheckGeometry(g_main, kIddMain);
    for (int i = 0; i < 4; ++i) CheckGeometry(g_pages[i], kPageTemplates[i]);

    // The About item of the system menu, and its version resource.
    PostMessageW(g_main, WM_SYSCOMMAND, 0x0010, 0);
    HWND about = nullptr;
    Check(WaitFor([&] { return (about = FindDialog(L"A propos de Tapwright")) != nullptr; }),
          "the system menu's About item opens the About box");
    if (about != nullptr) {
        CheckGeometry(about, kIddAbout);
        Check(Text(about, 1030) == VersionText(), "About shows version " + Text(about, 1030));
        Check(!IsWindowEnabled(g_main), "the main window waits while the About box is up");
        PostMessageW(about, WM_KEYDOWN, VK_RETURN, 0);
        Check(WaitFor([&] { return !IsWindow(about) && IsWindowEnabled(g_main); }),
              "Enter takes the About box's default OK button");
    }
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(argv[1], &handle);
    std::vector<char> info(size);
    char* version = nullptr;
    UINT length = 0;
    Check(size > 0 && GetFileVersionInfoA(argv[1], 0, size, info.data()) &&
              VerQueryValueA(info.data(), "\\StringFileInfo\\040C04B0\\FileVersion",
                             reinterpret_cast<void**>(&version), &length) &&
              std::string(version) == VersionText(),
          "the version resource's FileVersion in block 040C04B0 is the About box's");

    // Enter in the main window never closes it.
    PostMessageW(g_main, WM_KEYDOWN, VK_RETURN, 0);
    Send(g_main, WM_NULL);
    Check(IsWindowVisible(g_main) != 0, "Enter does not close the main window");

    // CPU ID, LOAD, and the FLASH page's LOAD TRAP.
    Click(g_main, 1000);
    Check(Text(g_main, 1001).size() == 8 && Text(g_main, 1002).find("STi") != std::string::npos,
          "CPU ID shows the IDCODE and the processor: " + Text(g_main, 1001) + " " +
              Text(g_main, 1002));
    Check(Enabled(g_main, 1022) && !Enabled(g_main, 1000), "CPU ID enables LOAD");
    Click(g_main, 1022);
    Check(Text(g_main, 1020) == "Ok" && !Text(g_main, 1035).empty(),
          "LOAD starts the trap handler: Iptr " + Text(g_main, 1035));
    HWND flash = g_pages[0];
    Click(flash, 1044);
    Check(Text(g_main, 1020) == "Ok" && !Text(flash, 1043).empty() && Enabled(flash, 1021),
          "LOAD TRAP identifies the flash (" + Text(flash, 1043) + ") and enables WRITE");

    // WRITE from an open dialog; meanwhile Escape, the close box and LOAD are refused.
    const unsigned seed = std::random_device{}();
    std::printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    std::vector<char> image(0x40000);
    for (char& b : image) b = static_cast<char>(rng());
    std::ofstream("image.rom", std::ios::binary).write(image.data(), std::streamsize(image.size()));
    PostClick(flash, 1021);
    Check(AnswerFile(g_main, "image.rom"), "WRITE asks for the file; the open dialog takes it");
    HWND bar = GetDlgItem(g_main, 1011);
    const bool moving = WaitFor([&] { return Send(bar, PBM_GETPOS, 0, 0, 5000) > 0; }, 20000);
    Check(moving && !Enabled(g_main, 2), "the progress bar moves with the window locked");
    PostMessageW(g_main, WM_KEYDOWN, VK_ESCAPE, 0);
    PostMessageW(g_main, WM_CLOSE, 0, 0);
    PostClick(g_main, 1022);
    Check(WaitFor(Idle), "the write ends");
    const std::string result = Text(g_main, 1020);
    Check(IsWindowVisible(g_main) && Text(g_main, 1016) == "Write FLASH Data" &&
              result.find("Error") == std::string::npos,
          "Escape and the close box during the write were refused; the write ended: " +
              Text(g_main, 1016) + " [" + result + "]");
    Check(Enabled(flash, 1021), "LOAD clicked during the write did not run (WRITE still there)");
    Check(Text(flash, 1038) == "image.rom", "the File field shows the chosen name");

    // ERASE asks first; No keeps the flash (the READ below finds the image still there).
    PostClick(flash, 1012);
    HWND box = nullptr;
    WaitFor([&] { return (box = FindDialog(nullptr, g_main)) != nullptr; });
    Check(box != nullptr && Text(box) == "Effacement de la FLASH" &&
              Text(box, 0xFFFF) == "Confirmation ?" && GetDlgItem(box, IDYES) != nullptr,
          "ERASE asks Yes or No in a message box: " + Text(box, 0xFFFF));
    if (box != nullptr) PostClick(box, IDNO);
    Check(WaitFor(Idle), "answered No");

    // READ into a name without extension: the default one is added; the second time the
    // existing file is only replaced after a question.
    SetText(GetDlgItem(flash, 1041), "00040000");
    for (int round = 0; round < 2; ++round) {
        std::string shown, filter;
        PostClick(flash, 1007);
        const bool answered = AnswerFile(g_main, "back", &shown, &filter, round == 1);
        Check(answered && WaitFor(Idle), "READ asks where to save, starting from " + shown);
        if (round == 0)
            Check(shown == "image.rom" && filter == "Rom File (*.rom)",
                  "the save dialog starts with the File field and the .rom filter: " + filter);
    }
    Check(ReadFile("back.rom") == image, "READ saved back.rom, the image written");

    // Every page by the tab strip, pictured.
    const char* names[4] = {"flash", "eeprom", "memory", "misc"};
    for (int i = 3; i >= 0; --i) {
        Check(ShowTab(i), std::string("the ") + names[i] + " tab shows its page only");
        if (pictures.empty()) continue;
        Send(g_main, WM_NULL);
        RedrawWindow(g_main, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::string file = pictures + "\\main-" + names[i] + ".ppm";
        Check(Picture(g_main, file), "pictured " + file);
    }

    // Escape when idle: the window closes and the program ends.
    PostMessageW(g_main, WM_KEYDOWN, VK_ESCAPE, 0);
    DWORD code = 1;
    Check(WaitForSingleObject(pi.hProcess, 20000) == WAIT_OBJECT_0 &&
              GetExitCodeProcess(pi.hProcess, &code) && code == 0,
          "Escape when idle ends the program");
    const std::vector<char> ini = ReadFile("Tapwright.ini");
    Check(std::string(ini.begin(), ini.end()).find("LPT_NUM= 2") != std::string::npos,
          "the port chosen in the list (0x3BC) is kept in Tapwright.ini");
    const std::vector<char> text = ReadFile("log.txt");
    const std::string log(text.begin(), text.end());
    Check(log.find("Writing Flash -->    From : 7FF00000 Length : 00040000 bytes Ok") !=
              std::string::npos,
          "log.txt has the write");
    std::printf("%s\n", g_failures == 0 ? "all window checks passed" : "window checks FAILED");
    return g_failures == 0 ? 0 : 1;
}

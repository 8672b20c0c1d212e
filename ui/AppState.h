// Program-wide state of the operator interface: the four state flags, the operation log,
// and small helpers shared by the main window and the pages.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "config/PrintfFormat.h"

struct DutProfile;
class ILinkObserver;

// False when the main window starts; set by CPU ID, cleared by GO and Reboot. What runs on the
// target is the link's to say (CTargetLink::Program).
extern bool g_cpuIdentified;

// The operation log; null while it is not open. A log that cannot be opened or written is
// said once on stderr and kept in LogFailure; the operations still run.
extern std::FILE* g_log;
// Appends one line (ended here when the format does not end it) in a single write, so the
// lines of processes sharing a log never mix, and nothing is lost in a crash or power cut.
TAPWRIGHT_PRINTF(1, 2) void LogPrintf(const char* format, ...);
// Where OpenLog writes, set by the front end (nothing is written until then): the window
// empties "log.txt" in the working folder on every start; the command line appends (a
// production line keeps its history).
void SetLogTarget(const std::string& path, bool append);
const std::string& LogPath();
// What the session line names: the command ("window" for the desktop program) and the driver.
void SetLogSession(const std::string& command, const std::string& driver);
// The driver string the desktop program started the window on, which then offers the machine's
// adapters too; "" (the command line, tests) keeps the window on the driver selected.
void SetStartDriverSpec(const std::string& spec);
const std::string& StartDriverSpec();
// Closes any open log, then opens the target and writes the session line (date, time, command,
// driver, read check). False (g_log null) when it cannot be opened.
bool OpenLog();
void CloseLog();
// Why the log could not be opened or a line could not be written since; empty while it works.
const std::string& LogFailure();
// The word an operation's log line ends with: "Ok", "Ko", or, when the operator stopped the
// link, "Ko interrupted" and where, when the operation knows.
std::string LogResult(bool ok, std::optional<uint32_t> stopAt = std::nullopt);

// Says once, in the status field, when the trap handler at `path` is one of the stand-ins
// installed with the programs (the working folder has no handler folder) while the port is not
// the virtual board's: they run only there.
void NoteStandInHandlers(ILinkObserver& observer, const std::string& path);

// The profile at g_currentDut, or null when the table has no such profile.
DutProfile* CurrentProfile();
// The one editable profile is named exactly "PERSO".
bool IsPersoProfile(const DutProfile* profile);

// "%08X".
std::string Hex8(uint32_t value);
// A hexadecimal field as the pages read it: "0x" + text in base 16, up to the first
// character that is not a hexadecimal digit; no digit gives 0; saturates at 32 bits.
uint32_t ParseHexField(const std::string& text);

// The shell stand-in (tools/shellstandin) as the tests drive it: a program that owns its own
// "Shell_TrayWnd" and answers the notification area's requests as a script says. This file also
// owns the stand-in's log format, both ways: the stand-in writes each line with FormatNote, the
// tests read it back with ParseNote.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <utility>
#include <vector>
#include "process.h"

constexpr char kShellTrayClass[] = "Shell_TrayWnd";

// Sent to the stand-in's window by its driver; each returns once done.
constexpr UINT kShellRestart = WM_APP + 1;    // forgets every icon, then broadcasts "TaskbarCreated";
                                              // refuses the programs' next wParam requests
constexpr UINT kShellBroadcast = WM_APP + 2;  // broadcasts "TaskbarCreated" and keeps its icons
constexpr UINT kShellLeave = WM_APP + 3;      // destroys its window and ends; with wParam 1 it
                                              // broadcasts "TaskbarCreated" once the window is gone

// A log line: "key=value" pairs apart by one space. Values hold no spaces.
using ShellNote = std::map<std::string, std::string>;
std::string FormatNote(const std::vector<std::pair<std::string, std::string>>& pairs);
ShellNote ParseNote(const std::string& line);

// What the stand-in answered a request.
constexpr char kAnswerRefused[] = "refused";      // 0, as a busy shell's time-out returns
constexpr char kAnswerTimedOut[] = "timed-out";   // 0 late, yet carried out, as a busy shell on Windows
constexpr char kAnswerAccepted[] = "accepted";
constexpr char kAnswerDuplicate[] = "duplicate";  // an add of an icon it has: 0, as a real shell
constexpr char kAnswerUnknown[] = "unknown";      // a modify or delete of an icon it lacks: 0
constexpr char kAnswerVanished[] = "vanished";    // no answer: the window went away instead

// One request of a program as the stand-in received it: Wine's shell32 sends WM_COPYDATA whose
// dwData is the NIM_ code and whose data begins with the owner window (a 32-bit LONG), the icon
// identifier and uFlags.
struct ShellRequest
{
    DWORD tick;  // GetTickCount() when it came
    DWORD code;  // NIM_ADD, NIM_MODIFY, NIM_DELETE, ...
    HWND owner;
    UINT identifier;
    UINT flags;
    std::string answer;  // one of the kAnswer texts
};

class ShellStandIn
{
public:
    // program: the stand-in's path, Unix or Windows.
    explicit ShellStandIn(const std::string& program) : m_program(program) {}
    ~ShellStandIn();
    // args: the stand-in's script (see tools/shellstandin). True once its window exists.
    bool Start(const std::string& args = "");
    HWND Window() const { return m_window; }
    bool Running() const { return m_process.Running(); }
    // The shell restarts: forgets its icons and broadcasts "TaskbarCreated", busy for the programs'
    // next busyRequests requests, which it refuses. True when it answered.
    bool Restart(DWORD busyRequests = 0);
    // "TaskbarCreated" while the icons stay.
    bool Broadcast();
    // The stand-in goes away, and with broadcast says "TaskbarCreated" for the shell found next
    // (Wine's own). Waits for its end.
    void Leave(bool broadcast);
    // The requests of the programs under test, in order; the driver's own (shellicon.h) are left out.
    std::vector<ShellRequest> Requests() const;
    // Every line of the log, in order.
    std::vector<ShellNote> Notes() const;

private:
    std::string m_program;
    ChildProcess m_process;
    std::string m_logPath;
    HWND m_window = nullptr;
};

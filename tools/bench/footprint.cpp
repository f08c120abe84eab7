// The bench's measurements: VornTray, InstallZel and the request exchange, each beside the same
// figure of a baseline, printed as lines "figure<TAB>program<TAB>baseline" for scripts/bench.
//
//   footprint start RUNS VORNTRAY BASELINE
//   footprint idle RUNS SECONDS VORNTRAY BASELINE
//   footprint switch RUNS COUNT VORNTRAY BASELINE
//   footprint installzel RUNS INSTALLZEL ACPISERVER BASELINE
//   footprint exchange RUNS COUNT ACPISERVER
//
// Paths are Windows paths. Each figure is the median over RUNS. A run that goes wrong (a program that
// does not start, an icon the shell does not know, a mode switch without its broadcast, a client run
// without its ten requests) ends the measurement with exit code 1 and a message on stderr.
//
// Under Wine much of a start passes before the program's own code runs: Wine sets up a Unix process
// and loads its own DLLs, which Windows does in a fraction of the time. So each start is measured
// twice: from CreateProcess, and from the moment the program's own code begins at its entry point,
// which the bench finds by running the program under the debugger up to a breakpoint there.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>
#include "display.h"
#include "messages.h"
#include "observe.h"
#include "process.h"
#include "serverexchange.h"
#include "shellicon.h"
#include "standin.h"

namespace {

// The programs' own part (VornTray's broadcast may wait 5 s for a hung window; InstallZel pauses
// 2.2 s) and the machine's (Wine starting and ending a process, a busy machine).
const DWORD kTimeoutMs = 5000 + MachineMs(15000);
const char kBaselineClass[] = "VORNBASELINE";
// Time for the messages a start or a switch leaves behind to be handled before memory is read.
const DWORD kSettleMs = 500;

// A QueryPerformanceCounter reading in milliseconds.
double CounterMs(LONGLONG count)
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return value;
    }();
    return count * 1000.0 / frequency.QuadPart;
}

double Now()
{
    LARGE_INTEGER count;
    QueryPerformanceCounter(&count);
    return CounterMs(count.QuadPart);
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

[[noreturn]] void Fail(const char* what, const std::string& detail = "")
{
    fprintf(stderr, "footprint: %s%s%s\n", what, detail.empty() ? "" : ": ", detail.c_str());
    exit(1);
}

void Print(const char* figure, double program, double baseline)
{
    printf("%s\t%.3f\t%.3f\n", figure, program, baseline);
    fflush(stdout);
}

// A figure that has no counterpart in the baseline.
void Print(const char* figure, double value)
{
    printf("%s\t%.3f\t-\n", figure, value);
    fflush(stdout);
}

// Wine's notification area is a window that is hidden when its last icon goes, and hiding a window
// on a display without a window manager waits two seconds for one to answer; meanwhile the desktop
// does not answer and no process can start. So every end of VornTray (which leaves its icon, for the
// shell to drop when the window is gone) would stall the next start. A real shell always has icons
// of others; the bench keeps one of its own, on a message-only window, for its whole run.
class KeeperIcon
{
public:
    KeeperIcon()
    {
        m_icon.cbSize = sizeof(m_icon);
        m_icon.hWnd = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        m_icon.uID = 1;
        m_icon.uFlags = NIF_ICON;
        m_icon.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
        if (!m_icon.hWnd || !Shell_NotifyIconA(NIM_ADD, &m_icon))
            Fail("cannot add the bench's own icon");
    }
    ~KeeperIcon() { Shell_NotifyIconA(NIM_DELETE, &m_icon); }

private:
    NOTIFYICONDATAA m_icon = {};
};

// A program the bench starts, with the moments of its life it can observe.
class Program
{
public:
    // With toEntry the program runs under the debugger up to its entry point and is let go there.
    void Start(const std::string& commandLine, bool toEntry)
    {
        m_commandLine = commandLine;
        StartOptions options;
        options.runToEntry = toEntry;
        startedAt = Now();
        if (!m_process.Start(commandLine, options))
            Fail(toEntry ? "cannot start and run to the entry point" : "cannot start", commandLine);
        if (toEntry)
            entryAt = CounterMs(m_process.EntryCounter());
    }

    // Returns once the program's message loop waits for input. With pump, this thread's windows are
    // served meanwhile, at some cost in precision; without, the wait is exact.
    void WaitReady(bool pump)
    {
        double end = Now() + kTimeoutMs;
        DWORD result;
        while ((result = WaitForInputIdle(Handle(), pump ? 0 : kTimeoutMs)) == WAIT_TIMEOUT && Now() < end)
            PumpMessagesFor(10);
        readyAt = Now();
        if (result != 0)
            Fail("the program never waited for input", m_commandLine);
    }

    // The program's top-level window of that class, waited for up to timeoutMs.
    HWND Window(const char* className, DWORD timeoutMs = 0)
    {
        HWND window = timeoutMs ? WaitForProcessWindow(className, Id(), timeoutMs) : FindProcessWindow(className, Id());
        if (!window)
            Fail("no window of class", className);
        return window;
    }

    void ExpectIcon(HWND owner)
    {
        if (!IconInNotificationArea(owner))
            Fail("the shell does not know the icon", m_commandLine);
    }

    // Waits for the end, serving this thread's windows meanwhile; returns the exit code.
    DWORD WaitExit()
    {
        DWORD exitCode = m_process.Wait(kTimeoutMs);
        exitedAt = Now();
        if (exitCode == STILL_ACTIVE)
            Fail("the program did not end", m_commandLine);
        return exitCode;
    }

    void Close(HWND window)
    {
        PostMessageA(window, WM_CLOSE, 0, 0);
        if (WaitExit() != 0)
            Fail("the program ended with an error", m_commandLine);
    }

    HANDLE Handle() const { return m_process.Handle(); }
    DWORD Id() const { return m_process.Id(); }

    double startedAt = 0, entryAt = 0, readyAt = 0, exitedAt = 0;
    std::string token;

private:
    ChildProcess m_process;
    std::string m_commandLine;
};

// --- VornTray and the baseline ----------------------------------------------------------------------

struct TrayProgram
{
    std::string path;
    const char* className;
};

// Starts the program and returns its main window once the loop waits and the shell has the icon.
// Its command line carries a token that no other process has, by which its Unix process is found;
// the programs ignore their command line.
HWND StartTray(Program& program, const TrayProgram& tray, bool toEntry, bool pump)
{
    static int serial;
    program.token = "footprint-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    program.Start("\"" + tray.path + "\" " + program.token, toEntry);
    program.WaitReady(pump);
    HWND window = program.Window(tray.className);
    program.ExpectIcon(window);
    return window;
}

// A start and an exit of each program before measuring: the first start after a new prefix or a
// new build is slower, and a display that is not yet in the saved mode is switched by it.
void WarmUp(const std::vector<TrayProgram>& trays)
{
    for (const TrayProgram& tray : trays) {
        Program program;
        program.Close(StartTray(program, tray, false, true));
    }
}

void MeasureStart(int runs, const std::vector<TrayProgram>& trays)
{
    WarmUp(trays);
    std::vector<double> wall[2], own[2];
    for (int run = 0; run < runs; ++run) {
        // The orders ABBA and BAAB in turn keep a drift of the machine's load from favouring either.
        int order[4] = {run % 2, 1 - run % 2, 1 - run % 2, run % 2};
        for (int k = 0; k < 4; ++k) {
            int i = order[k];
            Program plain;
            HWND window = StartTray(plain, trays[i], false, false);
            wall[i].push_back(plain.readyAt - plain.startedAt);
            plain.Close(window);
        }
        for (int k = 0; k < 4; ++k) {
            int i = order[k];
            Program debugged;
            HWND window = StartTray(debugged, trays[i], true, false);
            own[i].push_back(debugged.readyAt - debugged.entryAt);
            debugged.Close(window);
        }
    }
    Print("start.wall.ms", Median(wall[0]), Median(wall[1]));
    Print("start.own.ms", Median(own[0]), Median(own[1]));
}

struct Load
{
    double cpuMs;
    long long switches;
};

Load ReadLoad(const Program& program, DWORD unixPid)
{
    return {CpuMilliseconds(program.Id()), ContextSwitches(unixPid)};
}

void MeasureIdle(int runs, DWORD seconds, const std::vector<TrayProgram>& trays)
{
    WarmUp(trays);
    std::vector<double> cpu[2], wakeups[2];
    for (int run = 0; run < runs; ++run) {
        // Both idle side by side through the same seconds.
        Program programs[2];
        HWND windows[2];
        DWORD unixPids[2];
        for (int i = 0; i < 2; ++i) {
            windows[i] = StartTray(programs[i], trays[i], false, false);
            unixPids[i] = FindUnixProcess(programs[i].token);
            if (!unixPids[i])
                Fail("no Unix process for", programs[i].token);
        }
        Sleep(kSettleMs);
        Load before[2] = {ReadLoad(programs[0], unixPids[0]), ReadLoad(programs[1], unixPids[1])};
        Sleep(seconds * 1000);
        for (int i = 0; i < 2; ++i) {
            Load after = ReadLoad(programs[i], unixPids[i]);
            if (before[i].switches < 0 || after.switches < 0)
                Fail("cannot read the context switches of", programs[i].token);
            cpu[i].push_back(after.cpuMs - before[i].cpuMs);
            wakeups[i].push_back(static_cast<double>(after.switches - before[i].switches));
        }
        for (int i = 0; i < 2; ++i)
            programs[i].Close(windows[i]);
    }
    Print("idle.cpu.ms", Median(cpu[0]), Median(cpu[1]));
    Print("idle.wakeups", Median(wakeups[0]), Median(wakeups[1]));
}

double TimedCommand(HWND window, WPARAM command)
{
    double start = Now();
    DWORD_PTR ignored = 0;
    if (!SendMessageTimeoutA(window, WM_COMMAND, command, 0, SMTO_NORMAL, kTimeoutMs, &ignored))
        Fail("a command was not answered");
    return Now() - start;
}

// The mode change and broadcast as VornTray makes them, made by the bench itself: what the platform
// costs without VornTray around it.
double PlatformSwitch(DWORD height)
{
    double start = Now();
    DEVMODEA mode;
    if (ChangeFirstDisplayMode(800, height, 0, &mode) != DISP_CHANGE_SUCCESSFUL)
        Fail("the bench's own mode change was refused");
    SendMessageTimeoutA(HWND_BROADCAST, WM_DISPLAYCHANGE, mode.dmBitsPerPel, MAKELPARAM(800, height),
                        SMTO_ABORTIFHUNG, kTimeoutMs, nullptr);
    return Now() - start;
}

void ExpectBroadcast(const DisplayChangeListener& listener, LPARAM expected, int n)
{
    for (const DisplayChangeListener::Broadcast& broadcast : listener.Seen())
        if (broadcast.lParam == expected)
            return;
    Fail("a mode switch came without its broadcast", std::to_string(n));
}

// Both programs run side by side; VornTray switches the display COUNT times and the baseline gets
// the same commands, which it ignores, while it sees the same mode changes. Then the bench makes
// the same changes itself and counts the handles they leave in its own process: what Wine keeps.
void MeasureSwitch(int runs, int count, const std::vector<TrayProgram>& trays)
{
    DisplayChangeListener listener;
    WarmUp(trays);
    std::vector<double> switchMs[2], residentStart[2], residentAfter[2], handlesStart[2], handlesAfter[2];
    // Handles after the first switch: a process's first mode change also opens what Wine keeps for
    // every later one, so the handles that each further change adds are compared.
    std::vector<double> handlesFirst, platformMs, platformHandles;
    for (int run = 0; run < runs; ++run) {
        Program programs[2];
        HWND windows[2];
        for (int i = 0; i < 2; ++i)
            windows[i] = StartTray(programs[i], trays[i], false, true);
        PumpMessagesFor(kSettleMs);
        for (int i = 0; i < 2; ++i) {
            residentStart[i].push_back(ResidentBytes(programs[i].Handle()) / 1024.0);
            handlesStart[i].push_back(CountHandles(programs[i].Handle()));
        }
        for (int n = 0; n < count; ++n) {
            // From the saved 800 x 480 up to 800 x 600 and back, ending where it began.
            bool up = n % 2 == 0;
            listener.Clear();
            switchMs[0].push_back(TimedCommand(windows[0], up ? IDM_LCD_800X600 : IDM_LCD_800X480));
            // The broadcast is sent inside the command, so it has arrived when the command returns.
            ExpectBroadcast(listener, MAKELPARAM(800, up ? 600 : 480), n);
            switchMs[1].push_back(TimedCommand(windows[1], up ? IDM_LCD_800X600 : IDM_LCD_800X480));
            if (n == 0)
                handlesFirst.push_back(CountHandles(programs[0].Handle()));
        }
        PumpMessagesFor(kSettleMs);
        for (int i = 0; i < 2; ++i) {
            residentAfter[i].push_back(ResidentBytes(programs[i].Handle()) / 1024.0);
            handlesAfter[i].push_back(CountHandles(programs[i].Handle()));
            programs[i].Close(windows[i]);
        }

        DWORD platformFirst = 0;
        for (int n = 0; n < count; ++n) {
            bool up = n % 2 == 0;
            listener.Clear();
            platformMs.push_back(PlatformSwitch(up ? 600 : 480));
            ExpectBroadcast(listener, MAKELPARAM(800, up ? 600 : 480), n);
            if (n == 0)
                platformFirst = CountHandles(GetCurrentProcess());
        }
        platformHandles.push_back(CountHandles(GetCurrentProcess()) - platformFirst);
    }
    Print("switch.ms", Median(switchMs[0]), Median(switchMs[1]));
    Print("resident.start.kib", Median(residentStart[0]), Median(residentStart[1]));
    Print("resident.switched.kib", Median(residentAfter[0]), Median(residentAfter[1]));
    Print("handles.start", Median(handlesStart[0]), Median(handlesStart[1]));
    Print("handles.switched", Median(handlesAfter[0]), Median(handlesAfter[1]));
    Print("handles.first", Median(handlesFirst));
    Print("platform.switch.ms", Median(platformMs));
    Print("platform.handles.later", Median(platformHandles));
}

// --- InstallZel and the ACPI server stand-in --------------------------------------------------------

// The stand-in, whose log tells the requests it answered; the bench's measurement fails without it.
class StandIn
{
public:
    explicit StandIn(const std::string& path) : m_server(path)
    {
        if (!m_server.Start())
            Fail("the ACPI server stand-in did not start", path);
    }

    // When each request logged so far came, in ms.
    std::vector<double> RequestTimes() const
    {
        std::vector<double> times;
        for (const LoggedRecord& request : m_server.Requests())
            times.push_back(request.tick);
        return times;
    }

private:
    AcpiServerStandIn m_server;
};

struct ClientRun
{
    double ms;
    // From the register request to the unregister request, as the stand-in saw them.
    double firstToLastRequestMs;
};

// One full run of InstallZel: from CreateProcess (or its entry point) to its end, with its ten requests.
ClientRun RunInstallZel(const std::string& path, bool toEntry, const StandIn& server)
{
    const size_t kRequestsPerRun = 10;
    size_t before = server.RequestTimes().size();
    Program client;
    client.Start("\"" + path + "\"", toEntry);
    if (client.WaitExit() != 0)
        Fail("InstallZel ended with an error");
    std::vector<double> times = server.RequestTimes();
    if (times.size() - before != kRequestsPerRun)
        Fail("InstallZel did not send its ten requests", std::to_string(times.size() - before));
    return {client.exitedAt - (toEntry ? client.entryAt : client.startedAt), times.back() - times[before]};
}

// The baseline's shortest life: started, closed as soon as its loop waits, ended.
double RunBaseline(const TrayProgram& baseline, bool toEntry)
{
    Program program;
    HWND window = StartTray(program, baseline, toEntry, false);
    program.Close(window);
    return program.exitedAt - (toEntry ? program.entryAt : program.startedAt);
}

void MeasureInstallZel(int runs, const std::string& installZel, const std::string& acpiServer,
                       const TrayProgram& baseline)
{
    StandIn server(acpiServer);
    RunInstallZel(installZel, false, server);
    RunBaseline(baseline, false);
    std::vector<double> wall[2], own[2], requests;
    for (int run = 0; run < runs; ++run) {
        ClientRun plain = RunInstallZel(installZel, false, server);
        wall[0].push_back(plain.ms);
        requests.push_back(plain.firstToLastRequestMs);
        own[0].push_back(RunInstallZel(installZel, true, server).ms);
        wall[1].push_back(RunBaseline(baseline, false));
        own[1].push_back(RunBaseline(baseline, true));
    }
    Print("installzel.wall.ms", Median(wall[0]), Median(wall[1]));
    Print("installzel.own.ms", Median(own[0]), Median(own[1]));
    Print("installzel.requests.ms", Median(requests));
}

// One exchange as InstallZel makes it at unregistration (look-up and request through the block),
// beside the same look-up and a bare message to the same window, each timed over COUNT in a row.
void MeasureExchange(int runs, int count, const std::string& acpiServer)
{
    StandIn server(acpiServer);
    std::vector<double> exchange, bare;
    for (int run = 0; run < runs; ++run) {
        size_t before = server.RequestTimes().size();
        double start = Now();
        for (int n = 0; n < count; ++n)
            UnregisterFromServer();
        exchange.push_back((Now() - start) * 1000 / count);
        if (server.RequestTimes().size() - before != static_cast<size_t>(count))
            Fail("the stand-in did not get every request");

        start = Now();
        for (int n = 0; n < count; ++n) {
            DWORD_PTR ignored = 0;
            HWND window = FindWindowW(kServerClassName, nullptr);
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &ignored);
        }
        bare.push_back((Now() - start) * 1000 / count);
    }
    Print("exchange.us", Median(exchange), Median(bare));
}

int Usage()
{
    fprintf(stderr, "usage: footprint start RUNS VORNTRAY BASELINE\n"
                    "       footprint idle RUNS SECONDS VORNTRAY BASELINE\n"
                    "       footprint switch RUNS COUNT VORNTRAY BASELINE\n"
                    "       footprint installzel RUNS INSTALLZEL ACPISERVER BASELINE\n"
                    "       footprint exchange RUNS COUNT ACPISERVER\n");
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || atoi(argv[2]) < 1)
        return Usage();
    std::string what = argv[1];
    int runs = atoi(argv[2]);
    KeeperIcon keeper;
    auto trays = [&](int at) {
        return std::vector<TrayProgram>{{argv[at], kVornTrayClass}, {argv[at + 1], kBaselineClass}};
    };
    if (what == "start" && argc == 5)
        MeasureStart(runs, trays(3));
    else if (what == "idle" && argc == 6)
        MeasureIdle(runs, strtoul(argv[3], nullptr, 10), trays(4));
    else if (what == "switch" && argc == 6)
        MeasureSwitch(runs, atoi(argv[3]), trays(4));
    else if (what == "installzel" && argc == 6)
        MeasureInstallZel(runs, argv[3], argv[4], {argv[5], kBaselineClass});
    else if (what == "exchange" && argc == 5)
        MeasureExchange(runs, atoi(argv[3]), argv[4]);
    else
        return Usage();
    return 0;
}

// The ACPI server stand-in (tools/acpiserver) as the tests and the bench drive it: started with a
// script of replies, its log read back record by record.
#pragma once
#include <windows.h>
#include <string>
#include <vector>
#include "process.h"
#include "serverlog.h"

class AcpiServerStandIn
{
public:
    // program: the stand-in's path, Unix or Windows; a test may pick the build of another width.
    explicit AcpiServerStandIn(const std::string& program) : m_program(program) {}
    ~AcpiServerStandIn();
    // serverArgs: the stand-in's options besides --log; true once its window exists.
    bool Start(const std::string& serverArgs = "");
    // Closes the window and waits for the end; a stand-in still busy after graceMs is ended.
    void Stop(DWORD graceMs = 30000);
    bool Running() const { return m_process.Running(); }
    HANDLE Process() const { return m_process.Handle(); }
    // Requests and replies in the order logged.
    std::vector<LoggedRecord> Records() const;
    // What else the stand-in logged.
    std::vector<LoggedNote> Notes() const;
    std::vector<LoggedRecord> Requests() const;
    // The kinds of the requests in the order they came.
    std::vector<std::string> RequestKinds() const;

private:
    std::vector<std::string> LogLines() const;

    std::string m_program;
    ChildProcess m_process;
    std::string m_logPath;
};

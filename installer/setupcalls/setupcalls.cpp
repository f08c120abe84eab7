// The setup's calls into C++, through NSIS's System plug-in: each is a stdcall function of plain
// arguments, strings as UTF-16, and says what it did in a buffer the script logs.
#include <windows.h>
#include <string>
#include "folderrule.h"

namespace {

void CopyOut(const std::wstring& text, LPWSTR buffer, int size)
{
    if (buffer && size > 0)
        lstrcpynW(buffer, text.c_str(), size);
}

} // namespace

// Takes folder for the installation, or refuses it, before setup writes anything there: see
// folderrule.h. earlier is the folder of the setup's own earlier installation, or "". Returns 1
// when the folder is ready, 0 when refused; message, of size characters, says which and why.
extern "C" int __stdcall PrepareInstallFolder(LPCWSTR folder, LPCWSTR earlier, LPWSTR message, int size)
{
    std::wstring said;
    bool ready = folderrule::PrepareInstallFolder(folder ? folder : L"", earlier ? earlier : L"", said);
    CopyOut(said, message, size);
    return ready ? 1 : 0;
}

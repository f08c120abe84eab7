// How the installers' shared steps say what they do: a line at a time, handed to the caller, which
// writes it where that installer keeps its log (msiexec's log, the setup's details and log file).
#pragma once
#include <windows.h>

struct Notes
{
    void (*line)(void* context, const wchar_t* text);
    void* context;

    // wsprintf's format; a line longer than 1024 characters is cut.
    void operator()(const wchar_t* format, ...) const
    {
        WCHAR text[1024];
        va_list arguments;
        va_start(arguments, format);
        wvsprintfW(text, format, arguments);
        va_end(arguments);
        line(context, text);
    }
};

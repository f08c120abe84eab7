// The stand-in's log: one file, each line written whole, from any of its threads. The lines are
// made by the harness (serverlog.h), which also reads them back for the tests.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>
#include "record.h"

// Creates the log and writes its header; false when the file cannot be written.
bool OpenLog(const wchar_t* path, const std::string& title);
void CloseLog();
void LogRecord(bool isRequest, const ServerRecord& record, const std::string& text);
void LogUnusableRequest(DWORD error);
void LogNote(const std::string& what, const std::vector<std::pair<std::string, std::string>>& pairs = {});
// A window handle or code as a note shows it: "0x2004C".
std::string HexText(UINT32 value);

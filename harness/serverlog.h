// What the ACPI server hears from InstallZel, and the stand-in's log of it, written and read in
// this one place: the stand-in (tools/acpiserver) writes its lines with these functions, and the
// tests and the bench read them back with the same ones.
//
// A log starts with a header line and then has one line per request, reply or note:
//   # acpiserver: title "VornAcpiServer", started at tick 123456
//        210 request  00000000 00000000 00000000 00000000 0100 0000 00000000  register  subject=...
//        211 reply    00000000 00000000 00000000 00000000 0100 0000 01000000  subject=...
//        530 note     fuzz messages=300 target=0x2004C sent=196 posted=81 refused=23
// The first number is milliseconds since the start. A note is a word and key=value pairs.
#pragma once
#include <windows.h>
#include <string>
#include <utility>
#include <vector>
#include "record.h"

// The request kinds, in order, of a full run against a server that allows every switch.
extern const std::vector<std::string> kFullRun;
// The request kinds of a full run in which no query reply allowed its switch.
extern const std::vector<std::string> kRunWithoutSets;
// The unregister request as it lies in the block, grouped by field as the log shows it.
constexpr char kUnregisterRequest[] = "00000000 00000000 00000000 00000000 0200 0000 00000000";
// The device switches, in the order the client handles them.
constexpr const char* kSwitchCodes[] = {"CAMS", "WLDS", "CRDS", "MODS"};

// How the client builds its requests: register, unregister, query:CODE, set:CODE, or unknown.
std::string RequestKind(const ServerRecord& request);
// Every field by name, a code as its four characters: "subject=QURY count=1 argument=CAMS ...".
std::string DecodeRecord(const ServerRecord& record);

// One request or reply as the stand-in logged it.
struct LoggedRecord
{
    DWORD tick;        // GetTickCount() when it was logged
    bool isRequest;
    std::string hex;   // the 24 bytes in block order, grouped by field; empty for a request whose block could not be used
    std::string kind;  // requests only: register, unregister, query:CODE, set:CODE, or "unusable"
    std::string text;  // the rest of the line, decoded
};

// Something else the stand-in did, as "what key=value ...".
struct LoggedNote
{
    DWORD ms;  // since the stand-in started
    std::string what;
    std::vector<std::pair<std::string, std::string>> values;

    // The value of key as a number (decimal or 0x hexadecimal); 0 when the note has no such key.
    unsigned long Number(const std::string& key) const;
};

// The writing side.
std::string LogHeaderLine(const std::string& title, DWORD startTick);
// isRequest: "request", else "reply"; text follows the record.
std::string LogRecordLine(DWORD ms, bool isRequest, const ServerRecord& record, const std::string& text);
// A request the stand-in got the message for, but whose block it could not use.
std::string LogUnusableRequestLine(DWORD ms, DWORD error);
// pairs: key=value items, e.g. {{"sent", "196"}, {"posted", "81"}}.
std::string LogNoteLine(DWORD ms, const std::string& what, const std::vector<std::pair<std::string, std::string>>& pairs);

// The reading side, over the lines of a whole log.
std::vector<LoggedRecord> ParseLoggedRecords(const std::vector<std::string>& lines);
std::vector<LoggedNote> ParseLoggedNotes(const std::vector<std::string>& lines);

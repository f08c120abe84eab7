#include "serverlog.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

const std::vector<std::string> kFullRun = {"register",   "query:CAMS", "set:CAMS",   "query:WLDS", "set:WLDS",
                                           "query:CRDS", "set:CRDS",   "query:MODS", "set:MODS",   "unregister"};
const std::vector<std::string> kRunWithoutSets = {"register",   "query:CAMS", "query:WLDS",
                                                  "query:CRDS", "query:MODS", "unregister"};

namespace {

const char kHeaderStart[] = "# acpiserver: title \"";
const char kHeaderTick[] = "started at tick ";
const char kUnusable[] = "unusable";

// A four-character code as its text when it is one, otherwise as a number.
std::string CodeText(UINT32 code)
{
    char text[16];
    memcpy(text, &code, 4);
    for (int i = 0; i < 4; ++i)
        if (text[i] < 0x20 || text[i] > 0x7E) {
            snprintf(text, sizeof(text), "0x%X", code);
            return text;
        }
    text[4] = '\0';
    return text;
}

std::string LinePrefix(DWORD ms, const char* what)
{
    char prefix[32];
    snprintf(prefix, sizeof(prefix), "%8lu %-8s ", static_cast<unsigned long>(ms), what);
    return prefix;
}

} // namespace

std::string RequestKind(const ServerRecord& request)
{
    if (CodeText(request.subject) == "QURY")
        return "query:" + CodeText(request.argument);
    if (request.count == 1 && request.argument == 1)
        return "set:" + CodeText(request.subject);
    if (request.command == 1)
        return "register";
    if (request.command == 2)
        return "unregister";
    return "unknown";
}

std::string DecodeRecord(const ServerRecord& record)
{
    std::string text;
    char part[64];
    for (const RecordField& field : kRecordFields) {
        UINT32 value = FieldValue(record, field);
        bool isCode =
            field.offset == offsetof(ServerRecord, subject) || field.offset == offsetof(ServerRecord, argument);
        if (isCode && value > 0xFFFFFF)
            snprintf(part, sizeof(part), "%s=%s ", field.name, CodeText(value).c_str());
        else
            snprintf(part, sizeof(part), value < 10 ? "%s=%u " : "%s=0x%X ", field.name, value);
        text += part;
    }
    text.pop_back();
    return text;
}

unsigned long LoggedNote::Number(const std::string& key) const
{
    for (const auto& pair : values)
        if (pair.first == key)
            return strtoul(pair.second.c_str(), nullptr, 0);
    return 0;
}

std::string LogHeaderLine(const std::string& title, DWORD startTick)
{
    return kHeaderStart + title + "\", " + kHeaderTick + std::to_string(startTick);
}

std::string LogRecordLine(DWORD ms, bool isRequest, const ServerRecord& record, const std::string& text)
{
    return LinePrefix(ms, isRequest ? "request" : "reply") + FormatRecord(record) + "  " + text;
}

std::string LogUnusableRequestLine(DWORD ms, DWORD error)
{
    return LinePrefix(ms, "request") + kUnusable + " error=" + std::to_string(error);
}

std::string LogNoteLine(DWORD ms, const std::string& what, const std::vector<std::pair<std::string, std::string>>& pairs)
{
    std::string line = LinePrefix(ms, "note") + what;
    for (const auto& pair : pairs)
        line += " " + pair.first + "=" + pair.second;
    return line;
}

std::vector<LoggedRecord> ParseLoggedRecords(const std::vector<std::string>& lines)
{
    // The header gives the tick the line times count from.
    std::vector<LoggedRecord> records;
    DWORD startTick = 0;
    for (const std::string& line : lines) {
        size_t tickAt = line.find(kHeaderTick);
        if (line.rfind(kHeaderStart, 0) == 0 && tickAt != std::string::npos) {
            startTick = std::stoul(line.substr(tickAt + strlen(kHeaderTick)));
            continue;
        }
        std::istringstream fields(line);
        DWORD ms = 0;
        std::string what;
        if (!(fields >> ms >> what) || (what != "request" && what != "reply"))
            continue;
        LoggedRecord record = {startTick + ms, what == "request", "", "", ""};
        if (record.isRequest && line.find(std::string(" ") + kUnusable + " ") != std::string::npos) {
            record.kind = kUnusable;
            fields >> what;
        } else {
            std::string group;
            for (int i = 0; i < 7 && fields >> group; ++i)
                record.hex += (i ? " " : "") + group;
            if (record.isRequest)
                fields >> record.kind;
        }
        std::getline(fields >> std::ws, record.text);
        records.push_back(record);
    }
    return records;
}

std::vector<LoggedNote> ParseLoggedNotes(const std::vector<std::string>& lines)
{
    std::vector<LoggedNote> notes;
    for (const std::string& line : lines) {
        std::istringstream fields(line);
        LoggedNote note = {};
        std::string what, item;
        if (!(fields >> note.ms >> what) || what != "note" || !(fields >> note.what))
            continue;
        while (fields >> item) {
            size_t equals = item.find('=');
            if (equals != std::string::npos)
                note.values.push_back({item.substr(0, equals), item.substr(equals + 1)});
        }
        notes.push_back(note);
    }
    return notes;
}

#include "script.h"
#include <stdlib.h>
#include <sstream>
#include <vector>

namespace {

const size_t kFieldCount = sizeof(kRecordFields) / sizeof(kRecordFields[0]);
const size_t kValueField = 3;
const size_t kStatusField = 6;

struct Rule
{
    std::string when;
    Reply reply;
};

std::vector<Rule> g_rules;

// Scripts are ASCII; anything else turns into a character no rule or item matches.
std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; *text; ++text)
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

bool ParseNumber(const std::string& text, UINT32* number)
{
    char* end = nullptr;
    *number = strtoul(text.c_str(), &end, 0);
    return !text.empty() && !*end;
}

bool ParseReply(const std::string& text, Reply* reply)
{
    std::istringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        if (item == "untouched") {
            reply->untouched = true;
            continue;
        }
        if (item == "garbage" || item == "flip") {
            (item == "garbage" ? reply->garbage : reply->flip) = true;
            continue;
        }
        if (item == "vanish" || item == "renew" || item == "exit") {
            reply->fate = item == "vanish" ? WindowFate::Vanishes
                        : item == "renew"  ? WindowFate::Renewed
                                           : WindowFate::ExitsAtOnce;
            continue;
        }
        size_t equals = item.find('=');
        UINT32 number = 0;
        if (equals == std::string::npos || !ParseNumber(item.substr(equals + 1), &number))
            return false;
        std::string name = item.substr(0, equals);
        if (name == "hang") {
            reply->hangMs = number;
            continue;
        }
        if (name == "fuzz") {
            reply->fuzzCount = number;
            continue;
        }
        if (name == "recreate") {
            if (number < sizeof(ServerRecord))
                return false;
            reply->recreateSize = number;
            continue;
        }
        size_t i = 0;
        while (i < kFieldCount && name != kRecordFields[i].name)
            ++i;
        if (i == kFieldCount)
            return false;
        reply->writes[i] = true;
        reply->values[i] = number;
    }
    return true;
}

// "*" matches every request, "query:*" every query, "query:CAMS" that one.
bool Matches(const std::string& when, const std::string& kind)
{
    if (when == "*" || when == kind)
        return true;
    size_t prefix = when.size() - 1;
    return when.size() >= 2 && when.back() == '*' && kind.compare(0, prefix, when, 0, prefix) == 0;
}

} // namespace

bool AddRule(const wchar_t* when, const wchar_t* reply)
{
    Rule rule;
    rule.when = Narrow(when);
    if (!ParseReply(Narrow(reply), &rule.reply))
        return false;
    g_rules.push_back(rule);
    return true;
}

void AddDefaultRules()
{
    AddRule(L"query:*", L"value=1,status=1");
    AddRule(L"*", L"status=1");
}

const Reply& ReplyFor(const std::string& kind)
{
    // The last rule, "*", matches every request.
    size_t i = 0;
    while (!Matches(g_rules[i].when, kind))
        ++i;
    return g_rules[i].reply;
}

std::string ReplyNote(const Reply& reply)
{
    std::string note;
    if (reply.hangMs)
        note += " after " + std::to_string(reply.hangMs) + " ms";
    if (reply.untouched)
        note += " untouched";
    if (reply.garbage)
        note += " garbage";
    if (reply.flip)
        note += " flipping";
    return note.empty() ? note : " (" + note.substr(1) + ")";
}

UINT32 FlipValue(const Reply& reply)
{
    return reply.values[kValueField] ? reply.values[kValueField] : 1;
}

UINT32 FlipStatus(const Reply& reply)
{
    return reply.values[kStatusField] ? reply.values[kStatusField] : 1;
}

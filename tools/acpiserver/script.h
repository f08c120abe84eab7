// The stand-in's script: rules given on the command line, each naming the requests it answers and
// how. The first rule that matches a request wins; after the given ones come those of a server
// that allows every switch.
#pragma once
#include <windows.h>
#include <string>
#include "record.h"

// What becomes of the stand-in's window once a request is answered.
enum class WindowFate { Stays, Vanishes, Renewed, ExitsAtOnce };

struct Reply
{
    bool untouched = false;
    DWORD hangMs = 0;
    bool garbage = false;
    bool flip = false;
    UINT32 fuzzCount = 0;
    DWORD recreateSize = 0;
    WindowFate fate = WindowFate::Stays;
    // By the index of the field in kRecordFields.
    bool writes[7] = {};
    UINT32 values[7] = {};
};

// when: register, unregister, query:CODE, set:CODE (CODE may be *) or *; reply: the
// comma-separated items of the usage text. False when the reply cannot be read.
bool AddRule(const wchar_t* when, const wchar_t* reply);
// Adds the rules of a server that allows every switch, after those given.
void AddDefaultRules();
const Reply& ReplyFor(const std::string& kind);
// How the reply was made, for the log: " (after 700 ms untouched)", or nothing.
std::string ReplyNote(const Reply& reply);
// The nonzero value and status a flipping reply shows: the rule's, or 1.
UINT32 FlipValue(const Reply& reply);
UINT32 FlipStatus(const Reply& reply);

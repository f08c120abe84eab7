// How hard the hostile-condition tests push: a short form for every test run, the full form for
// scripts/stress (VORN_STRESS=full).
#pragma once
#include <cstdlib>
#include <cstring>

inline int StressCount(int shortForm, int fullForm)
{
    const char* level = std::getenv("VORN_STRESS");
    return level && std::strcmp(level, "full") == 0 ? fullForm : shortForm;
}

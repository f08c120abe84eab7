// The stand-in's one random source, repeatable from --seed: garbage replies and random messages
// draw from it.
#pragma once
#include <windows.h>
#include "record.h"

void SeedRandom(UINT32 seed);
UINT32 Random();
// A random number as wide as a message parameter.
UINT_PTR RandomParam();
// Random bytes in which every field is zero, small or anything, a third of the time each, so that
// both ways of every decision the client makes on a reply come up.
ServerRecord RandomRecord();

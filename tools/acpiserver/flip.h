// The flipping reply: a thread that keeps rewriting value and status in the block until the next
// request comes. Each step changes one of them, with a (0,0) state between a nonzero value and a
// nonzero status, so no moment has both nonzero and a client that decides on one copy of the
// reply never sees them so. A (0,0) state lasts far longer than one copy of the record takes;
// the states with one of them nonzero last longer still, so that a client reading value and
// status at two moments often finds both nonzero.
#pragma once
#include <windows.h>

// Called before the reply goes back, so that the client reads a reply that is already changing.
void StartFlipping(UINT32 value, UINT32 status);
// Stops a flipping reply, if any, and logs how often it changed.
void StopFlipping();

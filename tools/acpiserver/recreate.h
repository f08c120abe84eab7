// Re-creating the block: after a reply the stand-in drops the block and, as soon as the client has
// let go of it too, makes a new one of the same name that it keeps, larger than a record, with
// every byte beyond the record filled with EE. Each later request checks that they stayed so.
#pragma once
#include <windows.h>

void StartRecreating(DWORD size);
// Once every request: logs how many bytes beyond the record of the stand-in's own block changed.
void CheckOwnBlockTail();
// Ends a re-creation still waiting for the client to let go.
void StopRecreating();

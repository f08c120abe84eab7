// Copying text into the fixed-size character fields of the shell's icon record.
#pragma once
#include <windows.h>

// Copies text into field (fieldSize bytes) so that the field always ends with a zero byte:
// at most fieldSize - 1 bytes of text, never cut between the two bytes of a double-byte
// character of codePage, the rest of the field filled with zeros. A null text gives an empty field.
void CopyTextField(char* field, int fieldSize, const char* text, UINT codePage = CP_ACP);

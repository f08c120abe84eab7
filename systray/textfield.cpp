#include "textfield.h"

void CopyTextField(char* field, int fieldSize, const char* text, UINT codePage)
{
    int length = 0;
    if (text) {
        while (length < fieldSize - 1 && text[length]) {
            int charSize = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(text[length])) ? 2 : 1;
            // A lead byte whose trail byte is missing or would not fit ends the copy there.
            if (charSize == 2 && (length + 2 > fieldSize - 1 || !text[length + 1]))
                break;
            length += charSize;
        }
        CopyMemory(field, text, length);
    }
    ZeroMemory(field + length, fieldSize - length);
}

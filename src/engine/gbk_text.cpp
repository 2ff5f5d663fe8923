#include <stddef.h>

#include "engine/gbk_text.h"

static int IsGbkLead(unsigned char byte)
{
    return byte >= 0x81 && byte <= 0xFE;
}

void TrimPartialGbk(char *text)
{
    size_t i = 0;

    /* Trail bytes overlap the lead range, so characters can only be told
     * apart by walking from the start. */
    while (text[i] != '\0') {
        if (!IsGbkLead((unsigned char)text[i])) {
            i++;
        } else if (text[i + 1] == '\0') {
            text[i] = '\0';
            return;
        } else {
            i += 2;
        }
    }
}

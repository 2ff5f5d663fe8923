/* GBK text helpers. A GBK character is one byte below 0x81, or a lead byte
 * from 0x81 to 0xFE followed by one trail byte. */
#ifndef QV_GBK_TEXT_H
#define QV_GBK_TEXT_H

/* Removes a lead byte left at the end of a text whose last character was cut
 * in two, so the text ends on a whole character. */
void TrimPartialGbk(char *text);

#endif /* QV_GBK_TEXT_H */

#include "calibration/UFuncHex.h"

#include <cstdint>

int HexToInt(const QString& Text) {
    uint32_t result = 0;
    for (QChar ch : Text) {
        const char16_t c = ch.unicode();
        uint32_t digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else if (c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else
            return 0;
        result = (result << 4) | digit; // digits beyond the last eight shift out
    }
    return int32_t(result);
}

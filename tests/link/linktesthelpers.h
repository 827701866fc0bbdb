#pragma once

#include "fakeserialport.h"

#include <QByteArray>
#include <QList>

namespace oe::test {

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A prompt controller: answers every request as the protocol says.
inline QByteArray promptReply(const QByteArray &request)
{
    if (request.size() < 3)
        return {};
    switch (quint8(request[2])) {
    case 1: { // value = 100 + index, but 10 + index for the pump times, which stop at 50
        const char index = request[3];
        const char value = char(index < 2 ? 10 + index : 100 + index);
        return hex("435501") + request.mid(3, 1) + QByteArray(1, '\0') + QByteArray(1, value);
    }
    case 2:
        return hex("435502") + request.mid(3, 3);
    case 3:
        return hex("43550305dc006400190050");
    case 4:
        return hex("435504010203");
    case 10:
        return hex("43550a00");
    default:
        return {};
    }
}

inline int frameCode(const QByteArray &frame)
{
    return frame.size() > 2 ? quint8(frame[2]) : -1;
}

} // namespace oe::test

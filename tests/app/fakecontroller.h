#pragma once

#include "fakeserialport.h"

#include <array>

// A prompt controller behind the fake port: answers every request the way the real one does.
struct FakeController {
    std::array<quint16, 8> params{5, 15, 600, 1500, 9000, 160, 80, 100};
    std::array<quint8, 3> version{1, 2, 3};
    quint16 rpm = 1500, tinj = 100, pump = 25, pause = 80;
    bool silent = false;
    bool ackReset = true;

    QByteArray respond(const QByteArray &request)
    {
        if (silent || request.size() < 7)
            return {};
        const quint8 code = quint8(request[2]);
        const quint8 index = quint8(request[3]);
        auto word = [](quint16 v) {
            QByteArray bytes(2, '\0');
            bytes[0] = char(v >> 8);
            bytes[1] = char(v & 0xFF);
            return bytes;
        };
        switch (code) {
        case 1:
            return QByteArray("\x43\x55\x01", 3) + char(index) + word(index < 8 ? params[index] : 0);
        case 2: {
            const quint16 value = quint16(quint8(request[4]) * 256 + quint8(request[5]));
            if (index < 8)
                params[index] = value;
            return QByteArray("\x43\x55\x02", 3) + char(index) + word(value);
        }
        case 3:
            return QByteArray("\x43\x55\x03", 3) + word(rpm) + word(tinj) + word(pump) + word(pause);
        case 4:
            return QByteArray("\x43\x55\x04", 3) + char(version[0]) + char(version[1]) + char(version[2]);
        case 10:
            return ackReset ? QByteArray("\x43\x55\x0A\x00", 4) : QByteArray();
        default:
            return {};
        }
    }

    void attach(oe::FakeSerialPort *port)
    {
        port->setResponder([this](const QByteArray &request) { return respond(request); });
    }
};

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

#include "replydecoder.h"

namespace oe {

namespace {

constexpr qsizetype kMinimumFrame = 4;

quint8 byteAt(QByteArrayView bytes, qsizetype i)
{
    return quint8(bytes[i]);
}

qint32 word(QByteArrayView bytes, qsizetype i)
{
    return byteAt(bytes, i) * 256 + byteAt(bytes, i + 1);
}

} // namespace

qsizetype replyLength(quint8 code)
{
    switch (code) {
    case 1:
    case 2:
    case 4:
        return 6;
    case 3:
        return 11;
    case 10:
        return kMinimumFrame;
    default:
        return 0;
    }
}

DecodedReply decodeReply(QByteArrayView bytes)
{
    DecodedReply reply;
    if (bytes.size() < kMinimumFrame)
        return reply;
    if (byteAt(bytes, 0) != 'C' || byteAt(bytes, 1) != 'U') {
        reply.kind = ReplyKind::BadHeader;
        return reply;
    }
    reply.code = byteAt(bytes, 2);
    const qsizetype needed = replyLength(reply.code);
    if (needed == 0)
        return reply;
    if (bytes.size() < needed) {
        reply.kind = ReplyKind::Truncated;
        return reply;
    }
    switch (reply.code) {
    case 1:
    case 2:
        reply.kind = reply.code == 1 ? ReplyKind::Parameter : ReplyKind::Echo;
        reply.index = byteAt(bytes, 3);
        reply.value = word(bytes, 4);
        break;
    case 3:
        reply.kind = ReplyKind::Status;
        reply.rpm = word(bytes, 3);
        reply.tinj = word(bytes, 5);
        reply.pump = word(bytes, 7);
        reply.pause = word(bytes, 9);
        break;
    case 4:
        reply.kind = ReplyKind::Version;
        reply.version = {byteAt(bytes, 3), byteAt(bytes, 4), byteAt(bytes, 5)};
        break;
    case 10:
        reply.kind = ReplyKind::Reset;
        break;
    }
    return reply;
}

FrameScan scanFrames(QByteArrayView bytes)
{
    FrameScan scan;
    const qsizetype size = bytes.size();
    for (qsizetype i = 0; i < size; ++i) {
        if (byteAt(bytes, i) != 'C')
            continue;
        if (i + 1 == size) {
            scan.unfinished.append({i, 0, {}});
            break;
        }
        if (byteAt(bytes, i + 1) != 'U')
            continue;
        if (i + 2 == size) {
            scan.unfinished.append({i, 0, {}});
            break;
        }
        const quint8 code = byteAt(bytes, i + 2);
        const qsizetype length = replyLength(code);
        if (length == 0)
            continue; // a false start: no reply carries this code
        FrameAt frame{i, length, {}};
        if (i + length <= size) {
            frame.reply = decodeReply(bytes.sliced(i, length));
            scan.complete.append(frame);
        } else {
            frame.reply.kind = ReplyKind::Truncated;
            frame.reply.code = code;
            scan.unfinished.append(frame);
        }
    }
    return scan;
}

} // namespace oe

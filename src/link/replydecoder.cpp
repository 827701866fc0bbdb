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

FrameLook frameAt(QByteArrayView bytes, qsizetype i, FrameAt *frame)
{
    const qsizetype size = bytes.size();
    if (byteAt(bytes, i) != 'C')
        return FrameLook::None;
    *frame = FrameAt{i, 0, {}};
    if (i + 1 == size)
        return FrameLook::Unfinished;
    if (byteAt(bytes, i + 1) != 'U')
        return FrameLook::None;
    if (i + 2 == size)
        return FrameLook::Unfinished;
    const quint8 code = byteAt(bytes, i + 2);
    frame->length = replyLength(code);
    if (frame->length == 0)
        return FrameLook::None; // a false start: no reply carries this code
    if (i + frame->length <= size) {
        frame->reply = decodeReply(bytes.sliced(i, frame->length));
        return FrameLook::Complete;
    }
    frame->reply.kind = ReplyKind::Truncated;
    frame->reply.code = code;
    return FrameLook::Unfinished;
}

FrameScan scanFrames(QByteArrayView bytes)
{
    FrameScan scan;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        FrameAt frame;
        switch (frameAt(bytes, i, &frame)) {
        case FrameLook::Unfinished: scan.unfinished.append(frame); break;
        case FrameLook::Complete: scan.complete.append(frame); break;
        case FrameLook::None: break;
        }
    }
    return scan;
}

} // namespace oe

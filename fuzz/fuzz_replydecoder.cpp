// Reply bytes arrive in pieces of any size and the link decodes whatever it holds so far. Every
// decode must stay inside the bytes it was given (each prefix lives in a heap block of exactly its
// size, so one byte more is an AddressSanitizer report), and a longer prefix must agree with a
// shorter one wherever the decoder promises that more bytes change nothing. The search for frames
// anywhere in the bytes finds every reply header once, and each complete frame decodes as the
// decoder reads it at that place.

#include "fuzzcheck.h"
#include "replydecoder.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

using namespace oe;

namespace {

bool isComplete(ReplyKind kind)
{
    switch (kind) {
    case ReplyKind::Parameter:
    case ReplyKind::Echo:
    case ReplyKind::Status:
    case ReplyKind::Version:
    case ReplyKind::Reset:
        return true;
    default:
        return false;
    }
}

bool same(const DecodedReply &a, const DecodedReply &b)
{
    return a.kind == b.kind && a.code == b.code && a.index == b.index && a.value == b.value
           && a.rpm == b.rpm && a.tinj == b.tinj && a.pump == b.pump && a.pause == b.pause
           && a.version == b.version;
}

DecodedReply decodeExactCopy(const std::vector<char> &stream)
{
    const size_t n = stream.size();
    std::unique_ptr<char[]> copy(new char[n]);
    if (n > 0)
        std::memcpy(copy.get(), stream.data(), n);
    return decodeReply(QByteArrayView(copy.get(), qsizetype(n)));
}

// The frame a complete reply stands for, written from the reply table, not from the decoder.
std::vector<unsigned char> encoded(const DecodedReply &r)
{
    const auto word = [](qint32 v) { return std::vector<unsigned char>{uchar(v >> 8), uchar(v & 0xFF)}; };
    std::vector<unsigned char> frame{'C', 'U', r.code};
    const auto add = [&frame](const std::vector<unsigned char> &more) { frame.insert(frame.end(), more.begin(), more.end()); };
    switch (r.kind) {
    case ReplyKind::Parameter:
    case ReplyKind::Echo:
        frame.push_back(uchar(r.index));
        add(word(r.value));
        break;
    case ReplyKind::Status:
        add(word(r.rpm));
        add(word(r.tinj));
        add(word(r.pump));
        add(word(r.pause));
        break;
    case ReplyKind::Version:
        add({r.version[0], r.version[1], r.version[2]});
        break;
    case ReplyKind::Reset:
        frame.push_back(0); // the fourth byte carries nothing; compared as a wildcard below
        break;
    default:
        break;
    }
    return frame;
}

void checkAlone(const DecodedReply &r, const std::vector<char> &bytes)
{
    const auto byte = [&bytes](size_t i) { return uchar(bytes[i]); };
    if (bytes.size() < 4) {
        FUZZ_CHECK(same(r, DecodedReply{}));
        return;
    }
    if (byte(0) != 'C' || byte(1) != 'U') {
        DecodedReply bad;
        bad.kind = ReplyKind::BadHeader;
        FUZZ_CHECK(same(r, bad));
        return;
    }
    FUZZ_CHECK(r.kind != ReplyKind::BadHeader);
    FUZZ_CHECK(r.code == byte(2));
    if (!isComplete(r.kind)) {
        DecodedReply bare;
        bare.kind = r.kind;
        bare.code = r.code;
        FUZZ_CHECK(same(r, bare));
        return;
    }
    const std::vector<unsigned char> frame = encoded(r);
    FUZZ_CHECK(frame.size() <= bytes.size());
    for (size_t i = 0; i < frame.size(); ++i)
        FUZZ_CHECK(frame[i] == byte(i) || (r.kind == ReplyKind::Reset && i == 3));
    // Members of other kinds stay 0.
    DecodedReply rest = r;
    rest.kind = ReplyKind::Ignored;
    rest.code = 0;
    if (r.kind == ReplyKind::Parameter || r.kind == ReplyKind::Echo)
        rest.index = rest.value = 0;
    if (r.kind == ReplyKind::Status)
        rest.rpm = rest.tinj = rest.pump = rest.pause = 0;
    if (r.kind == ReplyKind::Version)
        rest.version = {};
    FUZZ_CHECK(same(rest, DecodedReply{}));
}

void checkFollows(const DecodedReply &shorter, size_t shorterSize, const DecodedReply &longer)
{
    if (isComplete(shorter.kind) || shorter.kind == ReplyKind::BadHeader
        || (shorter.kind == ReplyKind::Ignored && shorterSize >= 4)) {
        FUZZ_CHECK(same(shorter, longer));
    } else if (shorter.kind == ReplyKind::Truncated) {
        FUZZ_CHECK(longer.code == shorter.code);
        FUZZ_CHECK(longer.kind == ReplyKind::Truncated || isComplete(longer.kind));
    }
}

void checkScan(const std::vector<char> &stream)
{
    const size_t n = stream.size();
    std::unique_ptr<char[]> copy(new char[n]);
    if (n > 0)
        std::memcpy(copy.get(), stream.data(), n);
    const QByteArrayView bytes(copy.get(), qsizetype(n));
    const FrameScan scan = scanFrames(bytes);
    std::vector<qsizetype> starts;
    for (const FrameAt &frame : scan.complete) {
        FUZZ_CHECK(frame.start >= 0 && frame.length == replyLength(frame.reply.code) && frame.length > 0);
        FUZZ_CHECK(size_t(frame.start + frame.length) <= n);
        FUZZ_CHECK(isComplete(frame.reply.kind));
        FUZZ_CHECK(same(frame.reply, decodeReply(bytes.sliced(frame.start, frame.length))));
        starts.push_back(frame.start);
    }
    for (const FrameAt &frame : scan.unfinished) {
        FUZZ_CHECK(frame.start >= 0 && size_t(frame.start) < n && uchar(bytes[frame.start]) == 'C');
        FUZZ_CHECK(frame.reply.code == 0 || size_t(frame.start + frame.length) > n);
        starts.push_back(frame.start);
    }
    // Every header with a reply code, and a header cut off at the end, is found once.
    std::vector<qsizetype> expected;
    for (size_t i = 0; i < n; ++i) {
        if (uchar(stream[i]) != 'C')
            continue;
        const bool cut = i + 1 == n || (uchar(stream[i + 1]) == 'U' && i + 2 == n);
        if (cut || (uchar(stream[i + 1]) == 'U' && replyLength(uchar(stream[i + 2])) > 0))
            expected.push_back(qsizetype(i));
    }
    std::sort(starts.begin(), starts.end());
    FUZZ_CHECK(starts == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    std::vector<char> stream;
    DecodedReply previous = decodeExactCopy(stream);
    checkAlone(previous, stream);
    // The longest reply is 11 bytes; past a few more, more bytes only cost time.
    constexpr size_t kLongestStream = 32;
    while (input.remaining_bytes() > 0 && stream.size() < kLongestStream) {
        const size_t before = stream.size();
        const std::vector<char> chunk = input.ConsumeBytes<char>(input.ConsumeIntegralInRange<size_t>(1, 12));
        stream.insert(stream.end(), chunk.begin(), chunk.end());
        const DecodedReply now = decodeExactCopy(stream);
        checkAlone(now, stream);
        checkFollows(previous, before, now);
        checkScan(stream);
        previous = now;
    }
    return 0;
}

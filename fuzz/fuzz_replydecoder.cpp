// Reply bytes arrive in pieces of any size and the link decodes whatever it holds so far. Every
// decode must stay inside the bytes it was given (each prefix lives in a heap block of exactly its
// size, so one byte more is an AddressSanitizer report), and a longer prefix must agree with a
// shorter one wherever the decoder promises that more bytes change nothing. The search for frames
// anywhere in the bytes finds every reply header once, and each complete frame decodes as the
// decoder reads it at that place. The same pieces, given arrival times, go to the reply scanner for a
// request drawn from the input, looked at as the engine does (on every arrival and at every deadline
// it names): what it keeps is what a whole scan of those bytes finds, every look ends the try or names
// a later one before the time-out's grace is over, and an answer is the request's own.

#include "fuzzcheck.h"
#include "replydecoder.h"
#include "plausibility.h"
#include "replyscanner.h"

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

Request requestFrom(quint8 pick, quint16 value)
{
    const quint8 index = quint8((pick >> 3) & 7);
    switch (pick % 6) {
    case 0: return Request::read(index);
    case 1: return Request::write(index, value);
    case 2: return Request::status();
    case 3: return Request::version();
    case 4: return Request::reset();
    default: return Request::status(); // looked at with no request open
    }
}

// The engine's use of the scanner: a try open from startMs, its time-out after the request's.
struct ScannerRun {
    ReplyScanner scanner;
    Request request;
    bool open = true;
    qint64 nowMs = 0;
    qint64 timeoutAtMs = 0;
    qint64 nextLookAtMs = -1; // -1: no deadline armed

    void look()
    {
        const ScanVerdict verdict = scanner.look(open ? &request : nullptr, timeoutAtMs, nowMs);
        const FrameScan whole = scanFrames(scanner.bytes());
        const auto same = [](const QList<FrameAt> &a, const QList<FrameAt> &b) {
            if (a.size() != b.size())
                return false;
            for (qsizetype i = 0; i < a.size(); ++i) {
                if (a[i].start != b[i].start || a[i].reply.code != b[i].reply.code || a[i].reply.kind != b[i].reply.kind)
                    return false;
            }
            return true;
        };
        FUZZ_CHECK(same(scanner.complete(), whole.complete));
        FUZZ_CHECK(same(scanner.unfinished(), whole.unfinished));
        for (const DecodedReply &reply : verdict.setAside)
            FUZZ_CHECK(isComplete(reply.kind) && isPlausible(reply) && !(open && request.answeredBy(reply)));
        if (!open) {
            // Between requests nothing is waited for, and only a frame still coming in is kept.
            FUZZ_CHECK(verdict.step == ScanVerdict::Step::Wait);
            FUZZ_CHECK(scanner.bytes().isEmpty() || (!whole.unfinished.isEmpty() && whole.unfinished.first().start == 0));
            return;
        }
        switch (verdict.step) {
        case ScanVerdict::Step::Wait:
            FUZZ_CHECK(verdict.nextLookAt > nowMs && verdict.nextLookAt < timeoutAtMs + ReplyScanner::kSettleMs);
            nextLookAtMs = verdict.nextLookAt;
            return;
        case ScanVerdict::Step::Answered: {
            FUZZ_CHECK(request.answeredBy(verdict.reply) && request.believes(verdict.reply));
            bool found = false;
            for (const FrameAt &frame : whole.complete)
                found = found || (frame.reply.kind == verdict.reply.kind && frame.reply.value == verdict.reply.value
                                  && frame.reply.rpm == verdict.reply.rpm && frame.reply.version == verdict.reply.version);
            FUZZ_CHECK(found);
            break;
        }
        case ScanVerdict::Step::BadFrame:
        case ScanVerdict::Step::NoAnswer:
            break;
        }
        // The try is over: the next one starts with nothing.
        scanner.clear();
        timeoutAtMs = nowMs + request.timeout.count();
        nextLookAtMs = timeoutAtMs;
    }

    void arrive(const std::vector<char> &bytes, qint64 afterMs)
    {
        const qint64 at = nowMs + afterMs;
        // The deadlines that come first, as the engine's timer would fire them.
        while (open && nextLookAtMs >= 0 && nextLookAtMs <= at) {
            nowMs = nextLookAtMs;
            nextLookAtMs = -1;
            look();
        }
        nowMs = at;
        scanner.append(QByteArrayView(bytes.data(), qsizetype(bytes.size())), nowMs);
        look();
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    ScannerRun run;
    const quint8 pick = input.ConsumeIntegral<quint8>();
    run.request = requestFrom(pick, input.ConsumeIntegral<quint16>());
    run.open = pick % 6 != 5;
    run.timeoutAtMs = run.request.timeout.count();
    run.nextLookAtMs = run.timeoutAtMs;
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
        run.arrive(chunk, input.ConsumeIntegralInRange<qint64>(0, 400));
        previous = now;
    }
    return 0;
}

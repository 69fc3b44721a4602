#include "transfer/progress.h"

#include <chrono>
#include <cinttypes>
#include <climits>
#include <cstdio>

#include "app/strings.h"

namespace fennic {
namespace {

std::string Printf(const char* format, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

std::string Decimal(uint64_t value) {
    return std::to_string(value);
}

}  // namespace

uint32_t SteadyTickCount() {
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

std::string SizeText(uint32_t bytes, unsigned texts) {
    if (bytes < 1024) return FormatMessageId(texts + 21, Decimal(bytes));
    if (bytes < 1048576) return FormatMessageId(texts + 23, Printf("%0.1f", bytes / 1024.0));
    return FormatMessageId(texts + 25, Printf("%0.2f", bytes / 1048576.0));
}

std::string TimeText(uint32_t seconds, unsigned texts) {
    if (seconds < 60) return FormatMessageId(texts + 18, Decimal(seconds));
    const uint32_t minutes = seconds / 60, rest = seconds % 60;
    if (rest == 0) return FormatMessageId(texts + 19, Decimal(minutes));
    return FormatMessageId(texts + 20, Decimal(minutes), Decimal(rest));
}

std::string RateText(double bytesPerMs, unsigned texts) {
    if (bytesPerMs < 1) return FormatMessageId(texts + 28, Printf("%0.0f", bytesPerMs * 1024));
    if (bytesPerMs < 10) return FormatMessageId(texts + 29, Printf("%0.2f", bytesPerMs));
    return FormatMessageId(texts + 29, Printf("%0.0f", bytesPerMs));
}

std::string TimeLeftText(uint32_t seconds, uint32_t done, uint32_t total, unsigned texts) {
    const std::string copied =
        FormatMessageId(texts + 17, SizeText(done, texts), SizeText(total, texts));
    return FormatMessageId(texts + 27, TimeText(seconds, texts), copied);
}

std::string PercentCaption(int percent, const std::string& name, unsigned texts) {
    return FormatMessageId(texts + 15, std::to_string(percent), name);
}

uint16_t HttpProgressUpper(uint32_t total) {
    const uint64_t kib = (static_cast<uint64_t>(total) + 512) / 1024;
    return kib > UINT16_MAX ? UINT16_MAX : static_cast<uint16_t>(kib);
}

int HttpProgressPos(uint32_t done) {
    const uint32_t kib = done / 1024;
    return kib > UINT16_MAX ? UINT16_MAX : static_cast<int>(kib);
}

void UpdateProgress(IProgressSink& sink, const TickClock& clock, uint32_t startTick,
                    uint32_t& lastTick, uint32_t done, uint32_t& lastBytes, int& lastPercent,
                    bool sizeKnown, uint32_t total, bool movesBarByBytes) {
    if (sizeKnown && total > 0) {
        // Integer arithmetic: exact truncation, and no overflow when done passes total.
        const uint64_t raw = static_cast<uint64_t>(done) * 100 / total;
        const int percent = raw > INT_MAX ? INT_MAX : static_cast<int>(raw);
        if (percent != lastPercent) {
            sink.ShowPercent(percent);
            lastPercent = percent;
            if (movesBarByBytes) sink.ShowProgressPos(done);
        }
    }
    const uint32_t now = clock();
    const uint32_t elapsed = now - lastTick;
    if (elapsed <= 1000) return;
    sink.ShowRate(static_cast<double>(done - lastBytes) / elapsed);
    lastTick = now;
    lastBytes = done;
    if (sizeKnown && done > 0) {
        // More bytes than the known size leaves nothing to wait for, not 4 GiB.
        const uint32_t remaining = done > total ? 0 : total - done;
        const double seconds =
            static_cast<double>(now - startTick) / done * static_cast<double>(remaining) * 0.001;
        // A slow start on a large file can exceed the text's 32 bits: show the largest value.
        const uint32_t whole =
            seconds >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(seconds);
        sink.ShowTimeLeft(whole, done, total);
    }
}

}  // namespace fennic

#pragma once
// The progress arithmetic and texts shared by the two transfer engines; no toolkit here.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace fennic {

// Each engine has its own copy of the display texts: id = set + offset (HTTP 121, FTP 221 ...).
constexpr unsigned kHttpTexts = 100;
constexpr unsigned kFtpTexts = 200;

// A steady clock in milliseconds that wraps at 32 bits; engines take one so tests can steer it.
using TickClock = std::function<uint32_t()>;
uint32_t SteadyTickCount();

// "1023 Bytes", "1.0 KB", "1.00 MB".
std::string SizeText(uint32_t bytes, unsigned texts);
// "59 sec", "1 min", "1 min 1 sec".
std::string TimeText(uint32_t seconds, unsigned texts);
// A rate in bytes per millisecond: "512 Bytes/Sec", "2.50 KB/Sec", "25 KB/Sec".
std::string RateText(double bytesPerMs, unsigned texts);
// "%1 (%2 copied)": the time text, then "%1 of %2" with the two size texts.
std::string TimeLeftText(uint32_t seconds, uint32_t done, uint32_t total, unsigned texts);
// "%1% of %2 Completed".
std::string PercentCaption(int percent, const std::string& name, unsigned texts);

// The HTTP bar counts KiB: its upper bound is the size rounded to the nearest KiB, its position
// the whole KiB done. Both are clamped to the bar's 16-bit range instead of wrapping.
uint16_t HttpProgressUpper(uint32_t total);
int HttpProgressPos(uint32_t done);

// What UpdateProgress reports to: an engine's display operations.
class IProgressSink {
public:
    virtual ~IProgressSink() = default;
    virtual void ShowPercent(int percent) = 0;
    virtual void ShowProgressPos(uint32_t done) = 0;  // called only when movesBarByBytes
    virtual void ShowRate(double bytesPerMs) = 0;
    virtual void ShowTimeLeft(uint32_t seconds, uint32_t done, uint32_t total) = 0;
};

// The bookkeeping after each block. The caller keeps lastTick, lastBytes and lastPercent
// (starting at startTick, 0 and 0) and this updates them. The percent is shown only when its
// integer value changes; rate and time left at most once per 1000 ms. movesBarByBytes: the
// HTTP engine also moves its bar when the percent changes.
void UpdateProgress(IProgressSink& sink, const TickClock& clock, uint32_t startTick,
                    uint32_t& lastTick, uint32_t done, uint32_t& lastBytes, int& lastPercent,
                    bool sizeKnown, uint32_t total, bool movesBarByBytes);

// Network reads come in blocks of kReadBlock, but the bookkeeping follows the bytes in steps
// of kProgressStep, so that every percent is still shown once. StepProgress calls update(at)
// for each whole step after from and below to, then for to itself.
constexpr size_t kReadBlock = 64 * 1024;
constexpr uint32_t kProgressStep = 1024;
template <typename Update>
void StepProgress(uint32_t from, uint32_t to, Update update) {
    for (uint64_t at = uint64_t{from} + kProgressStep; at < to; at += kProgressStep) {
        update(static_cast<uint32_t>(at));
    }
    update(to);
}

}  // namespace fennic

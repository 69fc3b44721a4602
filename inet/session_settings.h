#pragma once
// What the FTP and HTTP sessions share with their connections: the status callback, the time
// limits and the rate floor their setters record.

#include <cstdint>
#include <string>
#include <utility>

#include "inet/errors.h"
#include "inet/status.h"

namespace fennic::inet {

struct SessionSettings {
    SessionSettings(uint32_t connect, uint32_t io) : connect_ms(connect), io_ms(io) {}

    StatusCallback callback;
    uint32_t connect_ms;
    uint32_t io_ms;  // the idle limit of every later wait
    uint32_t floor_bps = kRateFloorBytesPerSecond;
    uint32_t floor_seconds = kRateFloorSeconds;

    void Notify(uint32_t status, const std::string& info) const {
        if (callback) callback(status, info);
    }
};

// The setters both sessions offer over their settings.
class SessionSetters {
public:
    void SetStatusCallback(StatusCallback callback) { settings_->callback = std::move(callback); }
    void SetTimeouts(uint32_t connect_ms, uint32_t io_ms) {
        settings_->connect_ms = connect_ms;
        settings_->io_ms = io_ms;
    }
    void SetRateFloor(uint32_t bytes_per_second, uint32_t seconds) {
        settings_->floor_bps = bytes_per_second;
        settings_->floor_seconds = seconds;
    }

protected:
    explicit SessionSetters(SessionSettings& settings) : settings_(&settings) {}

private:
    SessionSettings* settings_;  // in the session's core, which the session owns
};

}  // namespace fennic::inet

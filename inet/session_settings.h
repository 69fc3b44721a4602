#pragma once
// What the FTP and HTTP sessions share with their connections: the status callback and the
// rate floor their setters record.

#include <cstdint>
#include <string>

#include "inet/errors.h"
#include "inet/status.h"

namespace fennic::inet {

struct SessionSettings {
    StatusCallback callback;
    uint32_t floor_bps = kRateFloorBytesPerSecond;
    uint32_t floor_seconds = kRateFloorSeconds;

    void Notify(uint32_t status, const std::string& info) const {
        if (callback) callback(status, info);
    }
};

}  // namespace fennic::inet

// The error a device layer raises when the platform's service answers in a
// way the call cannot go on from. The binding layer reports it as a
// RuntimeError with the same text.
#pragma once

#include <stdexcept>

namespace tamlor::devices {

struct DeviceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace tamlor::devices

// MIDI input ports: the service interface each platform implements, the one
// enumeration written against it, and the idle input client that Python's
// MidiInput holds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tamlor::midi_input {

// The platform's MIDI input service, device by device. Each query answers
// false when the service cannot describe that device.
class Service {
public:
    virtual ~Service() = default;

    // The number of input devices; indices run from 0 to count - 1.
    virtual std::uint32_t device_count() = 0;
    // The device's product-name field; the name runs up to its first zero.
    virtual bool product_name(std::uint32_t index, std::u16string& field) = 0;
    // The size in bytes of the device's interface path, terminator included.
    virtual bool interface_size(std::uint32_t index, std::uint32_t& bytes) = 0;
    // Fills `path` (sized by the caller) with the device's interface path.
    virtual bool interface_path(std::uint32_t index, std::span<char16_t> path) = 0;
};

// The names of the service's input ports in device-index order. A device
// whose name or path cannot be read is left out; a name or path without its
// terminating zero throws devices::DeviceError. Names are not made unique.
std::vector<std::string> list_ports(Service& service);

// A fresh view of this machine's MIDI input service (the build's backend).
std::unique_ptr<Service> open_system_service();

// A MIDI input client in its idle state: it opens no port and reads the
// service afresh on every call.
class InputClient {
public:
    using ServiceSource = std::function<std::unique_ptr<Service>()>;

    explicit InputClient(ServiceSource source = open_system_service) : source_(std::move(source)) {}

    std::vector<std::string> list_ports() const;

private:
    ServiceSource source_;
};

}  // namespace tamlor::midi_input

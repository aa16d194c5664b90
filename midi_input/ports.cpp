#include "midi_input/ports.hpp"

#include <algorithm>

#include "device_support/device_error.hpp"
#include "device_support/text.hpp"

namespace tamlor::midi_input {

std::vector<std::string> list_ports(Service& service) {
    std::vector<std::string> names;
    const std::uint32_t count = service.device_count();
    std::u16string field;
    std::vector<char16_t> path;
    for (std::uint32_t i = 0; i < count; ++i) {
        field.clear();
        if (!service.product_name(i, field)) continue;
        const auto end = std::find(field.begin(), field.end(), u'\0');
        if (end == field.end()) {
            throw devices::DeviceError("MIDI input device " + std::to_string(i) +
                                       " reported a product name without terminator");
        }
        std::string name = devices::utf16_to_utf8(std::u16string_view(field.data(), static_cast<std::size_t>(end - field.begin())));

        std::uint32_t bytes = 0;
        if (!service.interface_size(i, bytes)) continue;
        // Half as many wide characters as bytes: an odd byte count never lets
        // the service write past the buffer.
        path.assign(bytes / 2, u'\0');
        if (!service.interface_path(i, std::span<char16_t>(path))) continue;
        if (path.empty() || path.back() != u'\0') {
            throw devices::DeviceError("MIDI input device " + std::to_string(i) +
                                       " reported an interface path without terminator");
        }
        names.push_back(std::move(name));
    }
    return names;
}

std::vector<std::string> InputClient::list_ports() const {
    std::unique_ptr<Service> service = source_();
    if (!service) return {};
    return midi_input::list_ports(*service);
}

}  // namespace tamlor::midi_input

// A scripted MIDI input service for tests: each device answers the queries
// as its record says.
#pragma once

#include <algorithm>
#include <optional>

#include "midi_input/ports.hpp"

namespace tamlor::midi_input {

struct FakeMidiDevice {
    std::optional<std::u16string> name_field;  // nullopt: the capability query fails
    std::optional<std::uint32_t> path_size;    // nullopt: the size query fails
    std::optional<std::u16string> path;        // nullopt: the path query fails

    // A well-formed device: the name in a 32-unit zero-padded field, a
    // terminated path and its exact size.
    static FakeMidiDevice named(std::u16string name) {
        FakeMidiDevice d;
        name.resize(32, u'\0');
        d.name_field = std::move(name);
        d.path = u"\\\\?\\usb#vid_0001&pid_0002#midi" + std::u16string(1, u'\0');
        d.path_size = static_cast<std::uint32_t>(d.path->size() * 2);
        return d;
    }
};

class FakeMidiService final : public Service {
public:
    explicit FakeMidiService(std::vector<FakeMidiDevice> devices) : devices_(std::move(devices)) {}

    std::uint32_t device_count() override { return static_cast<std::uint32_t>(devices_.size()); }

    bool product_name(std::uint32_t index, std::u16string& field) override {
        const auto& d = devices_.at(index);
        if (!d.name_field) return false;
        field = *d.name_field;
        return true;
    }

    bool interface_size(std::uint32_t index, std::uint32_t& bytes) override {
        const auto& d = devices_.at(index);
        if (!d.path_size) return false;
        bytes = *d.path_size;
        return true;
    }

    bool interface_path(std::uint32_t index, std::span<char16_t> path) override {
        const auto& d = devices_.at(index);
        last_buffer_units = path.size();
        if (!d.path) return false;
        // Like the real service: writes what fits into the caller's buffer.
        std::copy_n(d.path->begin(), std::min(path.size(), d.path->size()), path.begin());
        return true;
    }

    std::size_t last_buffer_units = 0;

private:
    std::vector<FakeMidiDevice> devices_;
};

}  // namespace tamlor::midi_input

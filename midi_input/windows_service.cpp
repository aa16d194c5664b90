// Windows backend: MIDI input devices of the multimedia MIDI service. A
// device is described by its capabilities (the 32-character product name)
// and its device-interface path, read through two driver messages.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>

#include "midi_input/ports.hpp"

namespace tamlor::midi_input {
namespace {

// Driver messages that ask a MIDI device for its interface path.
constexpr UINT query_interface = 0x80C;       // DRV_QUERYDEVICEINTERFACE
constexpr UINT query_interface_size = 0x80D;  // DRV_QUERYDEVICEINTERFACESIZE

HMIDIIN device_handle(std::uint32_t index) { return reinterpret_cast<HMIDIIN>(static_cast<UINT_PTR>(index)); }

class WinMmService final : public Service {
public:
    std::uint32_t device_count() override { return midiInGetNumDevs(); }

    bool product_name(std::uint32_t index, std::u16string& field) override {
        MIDIINCAPSW caps{};
        static_assert(sizeof(MIDIINCAPSW) == 76);
        if (midiInGetDevCapsW(index, &caps, sizeof(caps)) != MMSYSERR_NOERROR) return false;
        const std::size_t units = sizeof(caps.szPname) / sizeof(caps.szPname[0]);
        field.assign(units, u'\0');
        std::transform(caps.szPname, caps.szPname + units, field.begin(),
                       [](WCHAR c) { return static_cast<char16_t>(c); });
        return true;
    }

    bool interface_size(std::uint32_t index, std::uint32_t& bytes) override {
        ULONG size = 0;
        const MMRESULT r = midiInMessage(device_handle(index), query_interface_size,
                                         reinterpret_cast<DWORD_PTR>(&size), 0);
        if (r != MMSYSERR_NOERROR) return false;
        bytes = size;
        return true;
    }

    bool interface_path(std::uint32_t index, std::span<char16_t> path) override {
        static_assert(sizeof(WCHAR) == sizeof(char16_t));
        const MMRESULT r = midiInMessage(device_handle(index), query_interface,
                                         reinterpret_cast<DWORD_PTR>(path.data()),
                                         static_cast<DWORD_PTR>(path.size() * sizeof(char16_t)));
        return r == MMSYSERR_NOERROR;
    }
};

}  // namespace

std::unique_ptr<Service> open_system_service() { return std::make_unique<WinMmService>(); }

}  // namespace tamlor::midi_input

// Prints what the device layers see on this machine: the default audio
// output device, the audio output devices and the MIDI input ports.
#include <cstdio>
#include <exception>

#include "audio_output/devices.hpp"
#include "midi_input/ports.hpp"

int main() {
    using namespace tamlor;
    int status = 0;
    try {
        audio_output::Output output(audio_output::system_service(), 44100, 2, 512);
        std::printf("default output: %s\n", output.device_name().c_str());
    } catch (const std::exception& e) {
        std::printf("default output: none (%s)\n", e.what());
    }
    try {
        for (const auto& name : audio_output::system_service().output_names()) std::printf("output: %s\n", name.c_str());
        for (const auto& name : midi_input::InputClient().list_ports()) std::printf("midi input: %s\n", name.c_str());
    } catch (const std::exception& e) {
        std::printf("error: %s\n", e.what());
        status = 1;
    }
    return status;
}

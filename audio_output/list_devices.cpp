// Prints what the device layers see on this machine: the default audio
// output device, the audio output devices and the MIDI input ports. With
// --tone it also plays one second of a 440 Hz sine on the default device,
// to hear the playback backend at work.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

#include "audio_output/devices.hpp"
#include "midi_input/ports.hpp"

int main(int argc, char** argv) {
    using namespace tamlor;
    int status = 0;
    try {
        audio_output::Output output(audio_output::system_service(), 44100, 2, 512);
        std::printf("default output: %s\n", output.device_name().c_str());
        if (argc > 1 && std::strcmp(argv[1], "--tone") == 0) {
            std::vector<float> tone(2 * 44100);
            for (std::size_t i = 0; i < tone.size(); ++i) {
                tone[i] = 0.2f * static_cast<float>(std::sin(2.0 * 3.141592653589793 * 440.0 * (i / 2) / 44100.0));
            }
            output.start();
            output.write(tone.data(), tone.size(), [] { return true; });
            output.stop();
            std::printf("played 1 s at 440 Hz, %llu underruns\n", static_cast<unsigned long long>(output.underruns()));
        }
    } catch (const std::exception& e) {
        std::printf("default output: none or failed (%s)\n", e.what());
        status = argc > 1 ? 1 : 0;
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

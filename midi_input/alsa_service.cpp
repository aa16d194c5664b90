// Linux backend: MIDI input ports from the ALSA sequencer. A port is an input
// port when other clients may read from it and subscribe to it; ports that
// hide themselves from routing and the sequencer's own system client (timer
// and announcements, no MIDI) are left out. Ports keep the sequencer's order
// (by client, then port) and are named "client name:port name", as other
// MIDI tools show them, without the numbers that change from run to run.
#include <algorithm>
#include <string>

#include "device_support/alsa_library.hpp"
#include "midi_input/ports.hpp"
#include "device_support/text.hpp"

namespace tamlor::midi_input {
namespace {

namespace alsa = devices::alsa;
using alsa::Owned;

struct SequencerApi {
    int (*open)(void** seq, const char* name, int streams, int mode) = nullptr;
    int (*close)(void* seq) = nullptr;
    int (*client_id)(void* seq) = nullptr;
    int (*client_info_malloc)(void** info) = nullptr;
    void (*client_info_free)(void* info) = nullptr;
    void (*client_info_set_client)(void* info, int client) = nullptr;
    int (*client_info_get_client)(const void* info) = nullptr;
    const char* (*client_info_get_name)(void* info) = nullptr;
    int (*query_next_client)(void* seq, void* info) = nullptr;
    int (*port_info_malloc)(void** info) = nullptr;
    void (*port_info_free)(void* info) = nullptr;
    void (*port_info_set_client)(void* info, int client) = nullptr;
    void (*port_info_set_port)(void* info, int port) = nullptr;
    int (*port_info_get_port)(const void* info) = nullptr;
    unsigned (*port_info_get_capability)(const void* info) = nullptr;
    const char* (*port_info_get_name)(const void* info) = nullptr;
    int (*query_next_port)(void* seq, void* info) = nullptr;
    bool complete = false;
};

const SequencerApi& api() {
    static const SequencerApi loaded = [] {
        SequencerApi a;
        a.complete = alsa::bind("snd_seq_open", a.open) && alsa::bind("snd_seq_close", a.close) &&
                     alsa::bind("snd_seq_client_id", a.client_id) &&
                     alsa::bind("snd_seq_client_info_malloc", a.client_info_malloc) &&
                     alsa::bind("snd_seq_client_info_free", a.client_info_free) &&
                     alsa::bind("snd_seq_client_info_set_client", a.client_info_set_client) &&
                     alsa::bind("snd_seq_client_info_get_client", a.client_info_get_client) &&
                     alsa::bind("snd_seq_client_info_get_name", a.client_info_get_name) &&
                     alsa::bind("snd_seq_query_next_client", a.query_next_client) &&
                     alsa::bind("snd_seq_port_info_malloc", a.port_info_malloc) &&
                     alsa::bind("snd_seq_port_info_free", a.port_info_free) &&
                     alsa::bind("snd_seq_port_info_set_client", a.port_info_set_client) &&
                     alsa::bind("snd_seq_port_info_set_port", a.port_info_set_port) &&
                     alsa::bind("snd_seq_port_info_get_port", a.port_info_get_port) &&
                     alsa::bind("snd_seq_port_info_get_capability", a.port_info_get_capability) &&
                     alsa::bind("snd_seq_port_info_get_name", a.port_info_get_name) &&
                     alsa::bind("snd_seq_query_next_port", a.query_next_port);
        return a;
    }();
    return loaded;
}


// The ports present when the service was opened, as terminated UTF-16 texts.
class AlsaService final : public Service {
public:
    AlsaService() { read_ports(); }

    std::uint32_t device_count() override { return static_cast<std::uint32_t>(ports_.size()); }

    bool product_name(std::uint32_t index, std::u16string& field) override {
        if (index >= ports_.size()) return false;
        field = ports_[index].name;
        return true;
    }

    bool interface_size(std::uint32_t index, std::uint32_t& bytes) override {
        if (index >= ports_.size()) return false;
        bytes = static_cast<std::uint32_t>(ports_[index].address.size() * sizeof(char16_t));
        return true;
    }

    bool interface_path(std::uint32_t index, std::span<char16_t> path) override {
        if (index >= ports_.size()) return false;
        const std::u16string& address = ports_[index].address;
        const std::size_t n = std::min(path.size(), address.size());
        std::copy_n(address.begin(), n, path.begin());
        return true;
    }

private:
    struct Port {
        std::u16string name;     // "client:port", terminated
        std::u16string address;  // "client-id:port-id", terminated
    };

    void read_ports() {
        const SequencerApi& a = api();
        if (!a.complete) return;
        alsa::QuietErrors quiet;
        void* seq = nullptr;
        if (a.open(&seq, "default", alsa::seq_open_output, alsa::seq_nonblock) < 0) return;
        Owned<int (*)(void*)> sequencer(a.close);
        sequencer.p = seq;
        Owned<void (*)(void*)> client(a.client_info_free);
        Owned<void (*)(void*)> port(a.port_info_free);
        if (a.client_info_malloc(&client.p) < 0 || a.port_info_malloc(&port.p) < 0) return;

        const int self = a.client_id(seq);
        a.client_info_set_client(client.p, -1);
        while (a.query_next_client(seq, client.p) >= 0) {
            const int id = a.client_info_get_client(client.p);
            if (id == self || id == alsa::seq_client_system) continue;
            const char* client_name = a.client_info_get_name(client.p);
            a.port_info_set_client(port.p, id);
            a.port_info_set_port(port.p, -1);
            while (a.query_next_port(seq, port.p) >= 0) {
                const unsigned caps = a.port_info_get_capability(port.p);
                const unsigned wanted = alsa::seq_cap_read | alsa::seq_cap_subs_read;
                if ((caps & wanted) != wanted || (caps & alsa::seq_cap_no_export) != 0) continue;
                const char* port_name = a.port_info_get_name(port.p);
                std::string name = std::string(client_name ? client_name : "") + ":" + (port_name ? port_name : "");
                std::string address = std::to_string(id) + ":" + std::to_string(a.port_info_get_port(port.p));
                Port p{devices::utf8_to_utf16(name), devices::utf8_to_utf16(address)};
                p.name.push_back(u'\0');
                p.address.push_back(u'\0');
                ports_.push_back(std::move(p));
            }
        }
    }

    std::vector<Port> ports_;
};

}  // namespace

std::unique_ptr<Service> open_system_service() { return std::make_unique<AlsaService>(); }

}  // namespace tamlor::midi_input

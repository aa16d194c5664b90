// Linux backend: ALSA. The default output device is the "default" playback
// PCM (checked by opening it without blocking and closing it again at once,
// so no device is held); it is named by its configured description, or by
// the PCM's own name. The listed devices are the PCM devices of the sound
// cards, named "card name, device name"; those that can play are outputs.
// Without the library every answer is empty: no default device, no list.
// Playback opens the device's PCM in blocking mode for interleaved 16-bit
// frames, with the library converting to what the hardware takes.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>

#include "audio_output/devices.hpp"
#include "device_support/alsa_library.hpp"
#include "device_support/device_error.hpp"
#include "device_support/text.hpp"

namespace tamlor::audio_output {
namespace {

namespace alsa = devices::alsa;
using alsa::Owned;

struct PcmApi {
    int (*pcm_open)(void** pcm, const char* name, int stream, int mode) = nullptr;
    int (*pcm_close)(void* pcm) = nullptr;
    int (*pcm_info)(void* pcm, void* info) = nullptr;
    int (*pcm_info_malloc)(void** info) = nullptr;
    void (*pcm_info_free)(void* info) = nullptr;
    void (*pcm_info_set_device)(void* info, unsigned device) = nullptr;
    void (*pcm_info_set_subdevice)(void* info, unsigned subdevice) = nullptr;
    void (*pcm_info_set_stream)(void* info, int stream) = nullptr;
    const char* (*pcm_info_get_name)(const void* info) = nullptr;
    int (*card_next)(int* card) = nullptr;
    int (*ctl_open)(void** ctl, const char* name, int mode) = nullptr;
    int (*ctl_close)(void* ctl) = nullptr;
    int (*ctl_card_info_malloc)(void** info) = nullptr;
    void (*ctl_card_info_free)(void* info) = nullptr;
    int (*ctl_card_info)(void* ctl, void* info) = nullptr;
    const char* (*ctl_card_info_get_name)(const void* info) = nullptr;
    int (*ctl_pcm_next_device)(void* ctl, int* device) = nullptr;
    int (*ctl_pcm_info)(void* ctl, void* info) = nullptr;
    int (*name_hint)(int card, const char* iface, void*** hints) = nullptr;
    char* (*name_get_hint)(const void* hint, const char* id) = nullptr;
    int (*name_free_hint)(void** hints) = nullptr;
    bool complete = false;
};

const PcmApi& api() {
    static const PcmApi loaded = [] {
        PcmApi a;
        a.complete = alsa::bind("snd_pcm_open", a.pcm_open) && alsa::bind("snd_pcm_close", a.pcm_close) &&
                     alsa::bind("snd_pcm_info", a.pcm_info) && alsa::bind("snd_pcm_info_malloc", a.pcm_info_malloc) &&
                     alsa::bind("snd_pcm_info_free", a.pcm_info_free) &&
                     alsa::bind("snd_pcm_info_set_device", a.pcm_info_set_device) &&
                     alsa::bind("snd_pcm_info_set_subdevice", a.pcm_info_set_subdevice) &&
                     alsa::bind("snd_pcm_info_set_stream", a.pcm_info_set_stream) &&
                     alsa::bind("snd_pcm_info_get_name", a.pcm_info_get_name) &&
                     alsa::bind("snd_card_next", a.card_next) && alsa::bind("snd_ctl_open", a.ctl_open) &&
                     alsa::bind("snd_ctl_close", a.ctl_close) &&
                     alsa::bind("snd_ctl_card_info_malloc", a.ctl_card_info_malloc) &&
                     alsa::bind("snd_ctl_card_info_free", a.ctl_card_info_free) &&
                     alsa::bind("snd_ctl_card_info", a.ctl_card_info) &&
                     alsa::bind("snd_ctl_card_info_get_name", a.ctl_card_info_get_name) &&
                     alsa::bind("snd_ctl_pcm_next_device", a.ctl_pcm_next_device) &&
                     alsa::bind("snd_ctl_pcm_info", a.ctl_pcm_info) &&
                     alsa::bind("snd_device_name_hint", a.name_hint) &&
                     alsa::bind("snd_device_name_get_hint", a.name_get_hint) &&
                     alsa::bind("snd_device_name_free_hint", a.name_free_hint);
        return a;
    }();
    return loaded;
}

// The calls playback needs, bound apart from the listing's so that a
// library without them still lists devices.
struct StreamApi {
    int (*pcm_open)(void** pcm, const char* name, int stream, int mode) = nullptr;
    int (*pcm_close)(void* pcm) = nullptr;
    int (*nonblock)(void* pcm, int nonblock) = nullptr;
    int (*set_params)(void* pcm, int format, int access, unsigned channels, unsigned rate, int soft_resample,
                      unsigned latency_us) = nullptr;
    long (*writei)(void* pcm, const void* buffer, unsigned long frames) = nullptr;
    int (*prepare)(void* pcm) = nullptr;
    int (*resume)(void* pcm) = nullptr;
    int (*drain)(void* pcm) = nullptr;
    int (*wait)(void* pcm, int timeout_ms) = nullptr;
    const char* (*strerror)(int error) = nullptr;
    bool complete = false;
};

const StreamApi& stream_api() {
    static const StreamApi loaded = [] {
        StreamApi a;
        a.complete = alsa::bind("snd_pcm_open", a.pcm_open) && alsa::bind("snd_pcm_close", a.pcm_close) &&
                     alsa::bind("snd_pcm_nonblock", a.nonblock) &&
                     alsa::bind("snd_pcm_set_params", a.set_params) && alsa::bind("snd_pcm_writei", a.writei) &&
                     alsa::bind("snd_pcm_prepare", a.prepare) && alsa::bind("snd_pcm_resume", a.resume) &&
                     alsa::bind("snd_pcm_drain", a.drain) && alsa::bind("snd_pcm_wait", a.wait) &&
                     alsa::bind("snd_strerror", a.strerror);
        return a;
    }();
    return loaded;
}

constexpr int format_s16_le = 2;
constexpr int access_rw_interleaved = 3;

std::string error_text(const StreamApi& a, int error) {
    const char* text = a.strerror(error);
    return text && *text ? devices::sanitize_utf8(text) : "error " + std::to_string(error);
}

// A PCM open for playback; closing it drops what is still queued. Some
// plugins report a failure only as a message (the file plugin's "write
// failed" while its call succeeds), so each call collects the library's
// messages and a message is a failure.
class AlsaStream final : public Stream {
public:
    explicit AlsaStream(void* pcm) : pcm_(pcm) {}
    ~AlsaStream() override {
        if (pcm_) {
            alsa::QuietErrors quiet;
            stream_api().pcm_close(pcm_);
        }
    }
    AlsaStream(const AlsaStream&) = delete;
    AlsaStream& operator=(const AlsaStream&) = delete;

    Accepted write(const std::int16_t* samples, std::uint32_t frames) override {
        const StreamApi& a = stream_api();
        alsa::CollectErrors errors;
        for (;;) {
            const long r = a.writei(pcm_, samples, frames);
            if (r > 0) {
                fail_on_message(errors);
                return {static_cast<std::uint32_t>(std::min<long>(r, frames)), false};
            }
            const int error = static_cast<int>(r);
            if (error == -EAGAIN || error == 0) {
                a.wait(pcm_, 100);
                continue;
            }
            if (error == -EPIPE) {
                // The buffer ran dry: make the stream ready again; the next
                // write starts it.
                fail_if(a, a.prepare(pcm_));
                return {0, true};
            }
            if (error == -ESTRPIPE) {
                // Suspended by the system (power management): resume, or
                // start over when the device cannot resume.
                int resumed;
                while ((resumed = a.resume(pcm_)) == -EAGAIN) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                if (resumed < 0) fail_if(a, a.prepare(pcm_));
                return {0, true};
            }
            fail_if(a, error, errors);
        }
    }

    // Plays out what is queued, then closes the PCM (where plugins write
    // out what they buffer), so that every failure is seen here.
    void drain() override {
        const StreamApi& a = stream_api();
        alsa::CollectErrors errors;
        const int r = a.drain(pcm_);
        void* pcm = std::exchange(pcm_, nullptr);
        const int closed = a.pcm_close(pcm);
        // A stream that already ran dry has nothing left to play.
        if (r < 0 && r != -EPIPE) fail_if(a, r, errors);
        fail_if(a, closed, errors);
        fail_on_message(errors);
    }

private:
    static void fail_if(const StreamApi& a, int error) {
        if (error < 0) throw devices::DeviceError(error_text(a, error));
    }
    // The library's own message, when it gave one, says more than the code.
    static void fail_if(const StreamApi& a, int error, alsa::CollectErrors& errors) {
        if (error >= 0) return;
        std::string text = errors.take();
        throw devices::DeviceError(text.empty() ? error_text(a, error) : text);
    }
    static void fail_on_message(alsa::CollectErrors& errors) {
        std::string text = errors.take();
        if (!text.empty()) throw devices::DeviceError(text);
    }

    void* pcm_;
};

// An endpoint as ALSA describes it: nothing stays open, so the record and
// the name of the PCM that plays on it are all there is.
class AlsaDevice final : public Device {
public:
    AlsaDevice(Flow flow, std::optional<std::string> name, std::string pcm)
        : flow_(flow), name_(std::move(name)), pcm_(std::move(pcm)) {}
    Flow data_flow() override { return flow_; }
    std::optional<std::string> name() override { return name_; }

    std::unique_ptr<Stream> open_stream(const StreamConfig& config) override {
        const StreamApi& a = stream_api();
        if (!a.complete) throw devices::DeviceError("the ALSA library cannot play audio");
        alsa::QuietErrors quiet;
        void* pcm = nullptr;
        // Opened without waiting (a device busy with another program is an
        // error, not a wait), then switched to blocking writes.
        int r = a.pcm_open(&pcm, pcm_.c_str(), alsa::pcm_stream_playback, alsa::pcm_nonblock);
        if (r < 0) throw devices::DeviceError(error_text(a, r));
        auto stream = std::make_unique<AlsaStream>(pcm);
        r = a.nonblock(pcm, 0);
        if (r < 0) throw devices::DeviceError(error_text(a, r));
        // Four periods of buffer, as a latency in microseconds.
        const std::uint64_t latency = std::clamp<std::uint64_t>(
            4000000ull * config.period_frames / config.sample_rate, 1, UINT32_MAX);
        r = a.set_params(pcm, format_s16_le, access_rw_interleaved, config.channels, config.sample_rate, 1,
                         static_cast<unsigned>(latency));
        if (r < 0) throw devices::DeviceError(error_text(a, r));
        return stream;
    }

private:
    Flow flow_;
    std::optional<std::string> name_;
    std::string pcm_;
};

class AlsaCollection final : public Collection {
public:
    explicit AlsaCollection(std::vector<std::shared_ptr<Device>> devices) : devices_(std::move(devices)) {}
    std::optional<std::uint32_t> count() override { return static_cast<std::uint32_t>(devices_.size()); }
    std::shared_ptr<Device> item(std::uint32_t index) override {
        return index < devices_.size() ? devices_[index] : nullptr;
    }

private:
    std::vector<std::shared_ptr<Device>> devices_;
};

// The first line of the configured description of the PCM called `pcm`.
std::optional<std::string> hint_description(const PcmApi& a, const char* pcm) {
    void** hints = nullptr;
    if (a.name_hint(-1, "pcm", &hints) < 0 || !hints) return std::nullopt;
    std::optional<std::string> found;
    for (void** h = hints; *h && !found; ++h) {
        Owned<void (*)(void*)> name(&std::free);
        name.p = a.name_get_hint(*h, "NAME");
        if (!name.p || std::string(static_cast<char*>(name.p)) != pcm) continue;
        Owned<void (*)(void*)> desc(&std::free);
        desc.p = a.name_get_hint(*h, "DESC");
        if (!desc.p) continue;
        std::string text(static_cast<char*>(desc.p));
        text = text.substr(0, text.find('\n'));
        if (!text.empty()) found = devices::sanitize_utf8(text);
    }
    a.name_free_hint(hints);
    return found;
}

class AlsaEnumerator final : public Enumerator {
public:
    std::shared_ptr<Device> default_output() override {
        std::string ignored;
        return find_default_output(ignored);
    }

    std::shared_ptr<Device> find_default_output(std::string& why) override {
        const PcmApi& a = api();
        if (!a.complete) return nullptr;
        alsa::CollectErrors errors;
        void* pcm = nullptr;
        const int r = a.pcm_open(&pcm, "default", alsa::pcm_stream_playback, alsa::pcm_nonblock);
        // A device busy with another program is still there.
        if (r < 0 && r != -EBUSY) {
            // The library's first message names the cause ("Unknown PCM
            // default"); the code's text says how it failed.
            const std::string message = errors.take();
            const char* code = stream_api().complete ? stream_api().strerror(r) : nullptr;
            const std::string code_text = code && *code ? devices::sanitize_utf8(code) : "error " + std::to_string(r);
            why = message.empty() ? code_text : message;
            return nullptr;
        }
        std::optional<std::string> name = hint_description(a, "default");
        if (pcm) {
            Owned<int (*)(void*)> open_pcm(a.pcm_close);
            open_pcm.p = pcm;
            Owned<void (*)(void*)> info(a.pcm_info_free);
            if (!name && a.pcm_info_malloc(&info.p) >= 0 && a.pcm_info(pcm, info.p) >= 0) {
                const char* n = a.pcm_info_get_name(info.p);
                if (n && *n) name = devices::sanitize_utf8(n);
            }
        }
        return std::make_shared<AlsaDevice>(Flow::render, std::move(name), "default");
    }

    std::unique_ptr<Collection> active_endpoints() override {
        const PcmApi& a = api();
        if (!a.complete) return nullptr;
        alsa::QuietErrors quiet;
        std::vector<std::shared_ptr<Device>> devices;
        int card = -1;
        while (a.card_next(&card) >= 0 && card >= 0) add_card(a, card, devices);
        return std::make_unique<AlsaCollection>(std::move(devices));
    }

private:
    static void add_card(const PcmApi& a, int card, std::vector<std::shared_ptr<Device>>& devices) {
        void* handle = nullptr;
        if (a.ctl_open(&handle, ("hw:" + std::to_string(card)).c_str(), 0) < 0) return;
        Owned<int (*)(void*)> ctl(a.ctl_close);
        ctl.p = handle;
        Owned<void (*)(void*)> card_info(a.ctl_card_info_free);
        Owned<void (*)(void*)> pcm_info(a.pcm_info_free);
        if (a.ctl_card_info_malloc(&card_info.p) < 0 || a.pcm_info_malloc(&pcm_info.p) < 0) return;
        const char* card_name = a.ctl_card_info(handle, card_info.p) >= 0 ? a.ctl_card_info_get_name(card_info.p) : nullptr;
        int device = -1;
        while (a.ctl_pcm_next_device(handle, &device) >= 0 && device >= 0) {
            Flow flow = Flow::render;
            a.pcm_info_set_device(pcm_info.p, static_cast<unsigned>(device));
            a.pcm_info_set_subdevice(pcm_info.p, 0);
            a.pcm_info_set_stream(pcm_info.p, alsa::pcm_stream_playback);
            if (a.ctl_pcm_info(handle, pcm_info.p) < 0) {
                flow = Flow::capture;
                a.pcm_info_set_stream(pcm_info.p, alsa::pcm_stream_capture);
                if (a.ctl_pcm_info(handle, pcm_info.p) < 0) continue;
            }
            const char* pcm_name = a.pcm_info_get_name(pcm_info.p);
            std::optional<std::string> name;
            if (card_name && *card_name && pcm_name && *pcm_name) {
                name = devices::sanitize_utf8(std::string(card_name) + ", " + pcm_name);
            } else if (card_name && *card_name) {
                name = devices::sanitize_utf8(card_name);
            }
            devices.push_back(std::make_shared<AlsaDevice>(
                flow, std::move(name), "plughw:" + std::to_string(card) + "," + std::to_string(device)));
        }
    }
};

// ALSA needs no per-thread setup and its "enumerator" is the library itself.
class AlsaPlatform final : public Platform {
public:
    ThreadSetup setup_thread() override { return {ThreadSetup::no_undo, {}}; }
    void undo_thread_setup() override {}
    std::unique_ptr<Enumerator> create_enumerator(std::string&) override { return std::make_unique<AlsaEnumerator>(); }
};

}  // namespace

Service& system_service() {
    // Kept until the process ends, like the platform state it stands for.
    static Service* service = new Service(std::make_shared<AlsaPlatform>());
    return *service;
}

}  // namespace tamlor::audio_output

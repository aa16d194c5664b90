// Windows backend: the audio endpoints of the Windows audio service, reached
// through COM. Every thread that uses the service joins a single-threaded
// apartment (or keeps the model it already has) and leaves it when it ends;
// the device enumerator is one object for the whole process. Playback is a
// shared-mode audio client fed 16-bit PCM, which the audio engine converts
// to its mix format; writes wait, polling, for room in the client's buffer.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <propidl.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "audio_output/devices.hpp"
#include "device_support/device_error.hpp"
#include "device_support/text.hpp"

namespace tamlor::audio_output {
namespace {

constexpr CLSID clsid_enumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
constexpr IID iid_enumerator = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
constexpr IID iid_endpoint = {0x1BE09788, 0x6894, 0x4089, {0x85, 0x86, 0x9A, 0x2A, 0x6C, 0x26, 0x5A, 0xC5}};
constexpr IID iid_audio_client = {0x1CB9AD4C, 0xDBFA, 0x4C32, {0xB1, 0x78, 0xC2, 0xF5, 0x68, 0xA7, 0x03, 0xB2}};
constexpr IID iid_render_client = {0xF294ACFC, 0x3146, 0x4483, {0xA7, 0xBF, 0xAD, 0xDC, 0xA7, 0xC2, 0x60, 0xE2}};
// The endpoint's device description ("Speakers") and its friendly name.
constexpr PROPERTYKEY key_device_desc = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 2};
constexpr PROPERTYKEY key_friendly_name = {
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 14};

// Owns one COM reference.
template <class I>
class Com {
public:
    Com() = default;
    explicit Com(I* p) : p_(p) {}
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    ~Com() {
        if (p_) p_->Release();
    }
    I** out() { return &p_; }
    I* get() const { return p_; }
    I* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    I* release() {
        I* p = p_;
        p_ = nullptr;
        return p;
    }

private:
    I* p_ = nullptr;
};

// The audio client's own failure codes, which the system's message table
// does not describe.
const char* audio_client_text(HRESULT code) {
    switch (code) {
        case AUDCLNT_E_DEVICE_INVALIDATED:
            return "The audio device has been unplugged, disabled or reconfigured";
        case AUDCLNT_E_DEVICE_IN_USE:
            return "The audio device is in exclusive use by another application";
        case AUDCLNT_E_SERVICE_NOT_RUNNING:
            return "The Windows audio service is not running";
        case AUDCLNT_E_UNSUPPORTED_FORMAT:
            return "The audio device does not support the stream format";
        case AUDCLNT_E_BUFFER_SIZE_ERROR:
        case AUDCLNT_E_BUFFER_TOO_LARGE:
            return "The audio device does not support the buffer size";
        case AUDCLNT_E_CPUUSAGE_EXCEEDED:
            return "The audio engine exceeded its processing time";
        default:
            return nullptr;
    }
}

// The system's text for an error code, without the trailing line break.
std::string system_text(HRESULT code) {
    if (const char* text = audio_client_text(code)) return text;
    wchar_t buffer[512];
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                   static_cast<DWORD>(code), 0, buffer, 512, nullptr);
    std::u16string text(reinterpret_cast<const char16_t*>(buffer), n);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' ')) text.pop_back();
    if (text.empty()) {
        char hex[32];
        wsprintfA(hex, "HRESULT 0x%08lX", static_cast<unsigned long>(code));
        return hex;
    }
    return devices::utf16_to_utf8(text);
}

std::optional<std::string> read_string(IPropertyStore* store, const PROPERTYKEY& key) {
    PROPVARIANT value;
    PropVariantInit(&value);
    std::optional<std::string> text;
    if (SUCCEEDED(store->GetValue(key, &value)) && value.vt == VT_LPWSTR && value.pwszVal) {
        const wchar_t* s = value.pwszVal;
        text = devices::utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(s), wcslen(s)));
    }
    PropVariantClear(&value);
    return text;
}

[[noreturn]] void fail(HRESULT hr) { throw devices::DeviceError(system_text(hr)); }

// A shared-mode stream. Frames go into the client's buffer as room appears;
// the client starts once its buffer is first full (or at drain), so the
// first frames do not play out before the next ones arrive.
class WasapiStream final : public Stream {
public:
    WasapiStream(IAudioClient* client, IAudioRenderClient* render, UINT32 buffer_frames, std::uint16_t channels,
                 DWORD wait_ms)
        : client_(client), render_(render), buffer_frames_(buffer_frames), channels_(channels), wait_ms_(wait_ms) {}

    ~WasapiStream() override {
        if (started_) client_->Stop();
    }

    Accepted write(const std::int16_t* samples, std::uint32_t frames) override {
        Accepted result;
        ULONGLONG stalled_since = 0;
        for (;;) {
            const UINT32 padding = queued();
            // The engine played everything it had before these frames came.
            if (started_ && padding == 0) result.underrun = true;
            const UINT32 room = buffer_frames_ - std::min(padding, buffer_frames_);
            if (room > 0) {
                const UINT32 n = std::min<UINT32>(room, frames);
                BYTE* data = nullptr;
                HRESULT hr = render_->GetBuffer(n, &data);
                if (FAILED(hr)) fail(hr);
                std::memcpy(data, samples, static_cast<std::size_t>(n) * channels_ * sizeof(std::int16_t));
                hr = render_->ReleaseBuffer(n, 0);
                if (FAILED(hr)) fail(hr);
                if (!started_ && n == room) begin();
                result.frames = n;
                return result;
            }
            if (!started_) begin();  // full: time to play
            // A running client that takes nothing for seconds has stopped.
            const ULONGLONG now = GetTickCount64();
            if (stalled_since == 0) stalled_since = now;
            if (now - stalled_since > 5000) throw devices::DeviceError("The audio device stopped playing");
            Sleep(wait_ms_);
        }
    }

    void drain() override {
        if (!started_ && queued() > 0) begin();
        const ULONGLONG deadline = GetTickCount64() + 5000;
        while (started_ && queued() > 0) {
            if (GetTickCount64() > deadline) throw devices::DeviceError("The audio device stopped playing");
            Sleep(wait_ms_);
        }
    }

private:
    UINT32 queued() {
        UINT32 padding = 0;
        const HRESULT hr = client_->GetCurrentPadding(&padding);
        if (FAILED(hr)) fail(hr);
        return padding;
    }

    void begin() {
        const HRESULT hr = client_->Start();
        if (FAILED(hr)) fail(hr);
        started_ = true;
    }

    Com<IAudioClient> client_;
    Com<IAudioRenderClient> render_;
    UINT32 buffer_frames_;
    std::uint16_t channels_;
    DWORD wait_ms_;
    bool started_ = false;
};

class WasapiDevice final : public Device {
public:
    explicit WasapiDevice(IMMDevice* device) : device_(device) {}

    Flow data_flow() override {
        Com<IMMEndpoint> endpoint;
        if (FAILED(device_->QueryInterface(iid_endpoint, reinterpret_cast<void**>(endpoint.out()))) || !endpoint) {
            return Flow::missing_interface;
        }
        EDataFlow flow = eAll;
        if (FAILED(endpoint->GetDataFlow(&flow))) return Flow::unreadable;
        return flow == eRender ? Flow::render : Flow::capture;
    }

    std::optional<std::string> name() override {
        Com<IPropertyStore> store;
        if (FAILED(device_->OpenPropertyStore(STGM_READ, store.out())) || !store) return std::nullopt;
        if (auto desc = read_string(store.get(), key_device_desc)) return desc;
        return read_string(store.get(), key_friendly_name);
    }

    std::unique_ptr<Stream> open_stream(const StreamConfig& config) override {
        const std::uint64_t block = std::uint64_t{config.channels} * sizeof(std::int16_t);
        if (block > 0xFFFF || config.sample_rate * block > 0xFFFFFFFFull) fail(AUDCLNT_E_UNSUPPORTED_FORMAT);
        Com<IAudioClient> client;
        HRESULT hr = device_->Activate(iid_audio_client, CLSCTX_ALL, nullptr, reinterpret_cast<void**>(client.out()));
        if (FAILED(hr) || !client) fail(FAILED(hr) ? hr : E_POINTER);
        WAVEFORMATEX format{};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = config.channels;
        format.nSamplesPerSec = config.sample_rate;
        format.wBitsPerSample = 16;
        format.nBlockAlign = static_cast<WORD>(block);
        format.nAvgBytesPerSec = static_cast<DWORD>(config.sample_rate * block);
        format.cbSize = 0;
        // Four periods of buffer, in units of 100 ns, at most two seconds.
        const REFERENCE_TIME duration = static_cast<REFERENCE_TIME>(
            std::min<std::uint64_t>(40000000ull * config.period_frames / config.sample_rate, 20000000ull));
        hr = client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY,
                                std::max<REFERENCE_TIME>(duration, 1), 0, &format, nullptr);
        if (FAILED(hr)) fail(hr);
        UINT32 buffer_frames = 0;
        hr = client->GetBufferSize(&buffer_frames);
        if (FAILED(hr)) fail(hr);
        Com<IAudioRenderClient> render;
        hr = client->GetService(iid_render_client, reinterpret_cast<void**>(render.out()));
        if (FAILED(hr) || !render) fail(FAILED(hr) ? hr : E_POINTER);
        // Poll at about a quarter of the buffer's length.
        const DWORD wait_ms = static_cast<DWORD>(
            std::clamp<std::uint64_t>(250ull * buffer_frames / config.sample_rate, 1, 50));
        return std::make_unique<WasapiStream>(client.release(), render.release(), buffer_frames, config.channels,
                                              wait_ms);
    }

private:
    Com<IMMDevice> device_;
};

class WasapiCollection final : public Collection {
public:
    explicit WasapiCollection(IMMDeviceCollection* c) : collection_(c) {}

    std::optional<std::uint32_t> count() override {
        UINT n = 0;
        if (FAILED(collection_->GetCount(&n))) return std::nullopt;
        return n;
    }

    std::shared_ptr<Device> item(std::uint32_t index) override {
        Com<IMMDevice> device;
        if (FAILED(collection_->Item(index, device.out())) || !device) return nullptr;
        return std::make_shared<WasapiDevice>(device.release());
    }

private:
    Com<IMMDeviceCollection> collection_;
};

class WasapiEnumerator final : public Enumerator {
public:
    explicit WasapiEnumerator(IMMDeviceEnumerator* e) : enumerator_(e) {}

    std::shared_ptr<Device> default_output() override {
        Com<IMMDevice> device;
        if (FAILED(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, device.out())) || !device) return nullptr;
        return std::make_shared<WasapiDevice>(device.release());
    }

    std::unique_ptr<Collection> active_endpoints() override {
        Com<IMMDeviceCollection> collection;
        if (FAILED(enumerator_->EnumAudioEndpoints(eAll, DEVICE_STATE_ACTIVE, collection.out())) || !collection) {
            return nullptr;
        }
        return std::make_unique<WasapiCollection>(collection.release());
    }

private:
    Com<IMMDeviceEnumerator> enumerator_;
};

class WasapiPlatform final : public Platform {
public:
    ThreadSetup setup_thread() override {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(hr)) return {ThreadSetup::done, {}};
        if (hr == RPC_E_CHANGED_MODE) return {ThreadSetup::no_undo, {}};
        return {ThreadSetup::failed, system_text(hr)};
    }

    void undo_thread_setup() override { CoUninitialize(); }

    std::unique_ptr<Enumerator> create_enumerator(std::string& error) override {
        Com<IMMDeviceEnumerator> e;
        const HRESULT hr = CoCreateInstance(clsid_enumerator, nullptr, CLSCTX_ALL, iid_enumerator,
                                            reinterpret_cast<void**>(e.out()));
        if (FAILED(hr) || !e) {
            error = system_text(FAILED(hr) ? hr : E_POINTER);
            return nullptr;
        }
        return std::make_unique<WasapiEnumerator>(e.release());
    }
};

}  // namespace

Service& system_service() {
    // Kept until the process ends: releasing the enumerator at exit could
    // come after the thread's apartment is gone.
    static Service* service = new Service(std::make_shared<WasapiPlatform>());
    return *service;
}

}  // namespace tamlor::audio_output

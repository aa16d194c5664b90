// Windows backend: the audio endpoints of the Windows audio service, reached
// through COM. Every thread that uses the service joins a single-threaded
// apartment (or keeps the model it already has) and leaves it when it ends;
// the device enumerator is one object for the whole process.
#include <windows.h>
#include <mmdeviceapi.h>
#include <propidl.h>

#include <string>

#include "audio_output/devices.hpp"
#include "midi_input/text.hpp"

namespace tamlor::audio_output {
namespace {

constexpr CLSID clsid_enumerator = {0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};
constexpr IID iid_enumerator = {0xA95664D2, 0x9614, 0x4F35, {0xA7, 0x46, 0xDE, 0x8D, 0xB6, 0x36, 0x17, 0xE6}};
constexpr IID iid_endpoint = {0x1BE09788, 0x6894, 0x4089, {0x85, 0x86, 0x9A, 0x2A, 0x6C, 0x26, 0x5A, 0xC5}};
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

// The system's text for an error code, without the trailing line break.
std::string system_text(HRESULT code) {
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

// MIDI input port enumeration against a scripted service, and the text
// conversion of device names.
#include <gtest/gtest.h>

#include "device_support/device_error.hpp"
#include "midi_input/fake_service.hpp"
#include "device_support/text.hpp"

namespace tamlor::midi_input {
namespace {

using Names = std::vector<std::string>;
using Device = FakeMidiDevice;

Names ports_of(std::vector<Device> devices) {
    FakeMidiService service(std::move(devices));
    return list_ports(service);
}

std::string error_of(std::vector<Device> devices) {
    try {
        ports_of(std::move(devices));
    } catch (const devices::DeviceError& e) {
        return e.what();
    }
    return "no error";
}

TEST(MidiPorts, NamesInDeviceOrderWithDuplicates) {
    EXPECT_EQ(ports_of({}), Names{});
    EXPECT_EQ(ports_of({Device::named(u"Keys"), Device::named(u"Pads"), Device::named(u"Keys")}),
              (Names{"Keys", "Pads", "Keys"}));
}

TEST(MidiPorts, DevicesThatCannotBeDescribedAreLeftOut) {
    Device no_caps = Device::named(u"A");
    no_caps.name_field.reset();
    Device no_size = Device::named(u"B");
    no_size.path_size.reset();
    Device no_path = Device::named(u"C");
    no_path.path.reset();
    EXPECT_EQ(ports_of({no_caps, Device::named(u"Keys"), no_size, no_path, Device::named(u"Pads")}),
              (Names{"Keys", "Pads"}));
}

TEST(MidiPorts, NameEndsAtFirstZero) {
    Device d = Device::named(u"Keys");
    (*d.name_field)[2] = u'\0';
    EXPECT_EQ(ports_of({d}), Names{"Ke"});
    EXPECT_EQ(ports_of({Device::named(u"")}), Names{""});
}

TEST(MidiPorts, MissingTerminatorsFailTheCall) {
    Device full_name = Device::named(u"");
    full_name.name_field = std::u16string(32, u'x');
    EXPECT_EQ(error_of({Device::named(u"Keys"), full_name}),
              "MIDI input device 1 reported a product name without terminator");

    Device open_path = Device::named(u"Keys");
    open_path.path->back() = u'x';
    Device empty_path = Device::named(u"Keys");
    empty_path.path_size = 1;  // below two bytes: an empty buffer
    for (const Device& bad : {open_path, empty_path}) {
        EXPECT_EQ(error_of({bad}), "MIDI input device 0 reported an interface path without terminator");
    }
    // The service stays usable.
    EXPECT_EQ(ports_of({Device::named(u"Keys")}), Names{"Keys"});
}

TEST(MidiPorts, PathBufferHoldsHalfAsManyUnitsAsBytes) {
    Device d = Device::named(u"Keys");
    d.path = std::u16string(u"ab") + u'\0';
    d.path_size = 7;  // an odd count must not let the service write past the buffer
    FakeMidiService service({d});
    EXPECT_EQ(list_ports(service), Names{"Keys"});
    EXPECT_EQ(service.last_buffer_units, 3u);
}

TEST(MidiPorts, UnpairedSurrogatesBecomeReplacementCharacters) {
    const std::u16string name = {u'a', 0xD800, u'b', 0xDC00, 0xD83D, 0xDE00, 0xDBFF};
    EXPECT_EQ(ports_of({Device::named(name)}), Names{"a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD"});
}

TEST(MidiPorts, ClientReadsAFreshServiceEachCall) {
    int opened = 0;
    InputClient client([&]() -> std::unique_ptr<Service> {
        ++opened;
        return std::make_unique<FakeMidiService>(std::vector<Device>{Device::named(u"Keys")});
    });
    EXPECT_EQ(client.list_ports(), Names{"Keys"});
    EXPECT_EQ(client.list_ports(), Names{"Keys"});
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(InputClient([] { return std::unique_ptr<Service>(); }).list_ports(), Names{});
}

TEST(DeviceText, MalformedUtf8BecomesReplacementCharacters) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"Keys \xE2\x82\xAC", u"Keys \u20AC"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xC0\x80", u"\uFFFD\uFFFD"},           // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"a\xE2\x82", u"a\uFFFD"},               // truncated at the end
        {"\xE2\x82z", u"\uFFFDz"},
        {"\xFF", u"\uFFFD"},
    };
    for (const auto& [bytes, units] : cases) {
        EXPECT_EQ(devices::utf8_to_utf16(bytes), units) << bytes;
    }
    EXPECT_EQ(devices::sanitize_utf8("x\xFFy"), "x\xEF\xBF\xBDy");
}

}  // namespace
}  // namespace tamlor::midi_input

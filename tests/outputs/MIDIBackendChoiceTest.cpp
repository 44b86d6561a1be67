#include "outputs/MIDIBackendChoice.h"

#include <gtest/gtest.h>

namespace varnello {
namespace {

TEST(MIDIBackendChoiceTest, ParsesTheThreeOptionValuesOnly) {
    const struct {
        const char* text;
        std::optional<MIDIBackendChoice> choice;
    } cases[] = {
        {"auto", MIDIBackendChoice::automatic},
        {"alsa", MIDIBackendChoice::alsa},
        {"jack", MIDIBackendChoice::jack},
        {"", std::nullopt},
        {"ALSA", std::nullopt},
        {"Jack", std::nullopt},
        {"auto ", std::nullopt},
        {" jack", std::nullopt},
        {"automatic", std::nullopt},
        {"pipewire", std::nullopt},
        {"--midi=alsa", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parseMIDIBackendChoice(c.text), c.choice) << '"' << c.text << '"';
    }
    EXPECT_EQ(parseMIDIBackendChoice(std::string_view("alsa\0", 5)), std::nullopt);
}

TEST(MIDIBackendChoiceTest, EachChoiceIsNamedAsItIsWrittenAndEachSystemNamesItsOwn) {
    for (const auto choice :
         {MIDIBackendChoice::automatic, MIDIBackendChoice::alsa, MIDIBackendChoice::jack}) {
        EXPECT_EQ(parseMIDIBackendChoice(midiBackendChoiceName(choice)), choice);
    }
    EXPECT_EQ(makeMIDISystem(MIDIBackendChoice::alsa)->systemName(), "alsa");
    EXPECT_EQ(makeMIDISystem(MIDIBackendChoice::jack)->systemName(), "jack");
}

} // namespace
} // namespace varnello

#include "platform/input/KeyCodeMapping.hpp"

#include "platform/input/InputTestSupport.hpp"
#include "platform/input/KeyboardLayout.hpp"

#include <X11/Xlib.h>

#include <gtest/gtest.h>

#include <set>

namespace keysym = platform::input::keysym;
namespace modifier = platform::input::modifier;
namespace modifierFlag = platform::input::modifierFlag;
using platform::input::KeyCodeMapping;

TEST(KeyCodeMapping, MapsStoredKeyCodesAndFlagsToX11AndBack)
{
    EXPECT_EQ(KeyCodeMapping::keysymForKeyCode(9), keysym::v);
    EXPECT_EQ(KeyCodeMapping::keysymForKeyCode(49), keysym::space);
    EXPECT_EQ(KeyCodeMapping::keysymForKeyCode(36), keysym::returnKey);
    EXPECT_EQ(KeyCodeMapping::keysymForKeyCode(60), keysym::shiftRight);
    EXPECT_EQ(KeyCodeMapping::keysymForKeyCode(62), keysym::controlRight);
    EXPECT_EQ(KeyCodeMapping::keysymForKeyCode(18), platform::input::Keysym('1'));
    EXPECT_EQ(KeyCodeMapping::keysymForKeyCode(52), std::nullopt);
    EXPECT_EQ(KeyCodeMapping::keysymForKeyCode(65535), std::nullopt);
    EXPECT_EQ(KeyCodeMapping::keyCodeForKeysym('V'), 9);
    EXPECT_EQ(KeyCodeMapping::keyCodeForKeysym(0x6c1), std::nullopt);

    // One key per code and one code per key: the table reads the same both ways.
    std::set<platform::input::Keysym> seen;
    for (unsigned code = 0; code <= 0xffff; ++code) {
        if (const auto symbol = KeyCodeMapping::keysymForKeyCode(static_cast<std::uint16_t>(code))) {
            EXPECT_TRUE(seen.insert(*symbol).second) << "keysym of key code " << code << " appears twice";
            EXPECT_EQ(KeyCodeMapping::keyCodeForKeysym(*symbol), code);
        }
    }

    // Control-Option-Space as stored: 0x0C0000.
    EXPECT_EQ(KeyCodeMapping::xModifiers(0x0C0000), modifier::control | modifier::mod1);
    EXPECT_EQ(KeyCodeMapping::xModifiers(modifierFlag::command | modifierFlag::shift | modifierFlag::function),
              modifier::mod4 | modifier::shift);
    EXPECT_EQ(KeyCodeMapping::modifierFlags(modifier::control | modifier::mod1 | modifier::mod2), 0x0C0000u);
    EXPECT_EQ(KeyCodeMapping::modifierFlags(modifier::mod5), modifierFlag::option);
    EXPECT_EQ(KeyCodeMapping::modifierFlags(modifier::mod4 | modifier::lock), modifierFlag::command | modifierFlag::capsLock);
}

TEST(KeyCodeMapping, EveryNamedHotkeyKeyIsOnTheDefaultLayout)
{
    auto server = inputtests::startServer();
    ASSERT_TRUE(server);
    Display* display = XOpenDisplay(server->displayName().c_str());
    ASSERT_TRUE(display);
    for (const std::uint16_t code : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 31, 32, 34, 35, 36, 37,
                                     38, 40, 45, 46, 48, 49, 51, 53, 123, 124, 125, 126, 18, 29, 122, 111}) {
        const auto symbol = KeyCodeMapping::keysymForKeyCode(code);
        ASSERT_TRUE(symbol) << code;
        EXPECT_FALSE(platform::input::KeyboardLayout::keycodesFor(display, *symbol).empty()) << "key code " << code;
    }
    XCloseDisplay(display);
}

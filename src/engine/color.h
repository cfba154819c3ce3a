// SPDX-FileCopyrightText: 2026 the モジタン developers
//
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <cstdint>

namespace mojitan {

// A colour as the window keeps it: either an RGB value (red in the low byte, blue in
// bits 16-23) or, with the top bit set, a reference to one of the system's colours.
// Keeping the reference (not the RGB it resolves to today) is what lets a restored
// background follow the desktop theme.
class Color {
public:
    enum class System : std::uint8_t {
        ButtonFace = 15,
        ButtonText = 18,
        Window = 5,
        WindowText = 8
    };

    constexpr Color() = default;
    static constexpr Color fromValue(std::uint32_t value) { return Color(value); }
    static constexpr Color rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b)
    {
        return Color(std::uint32_t(r) | std::uint32_t(g) << 8 | std::uint32_t(b) << 16);
    }
    static constexpr Color system(System which)
    {
        return Color(kSystemFlag | std::uint32_t(which));
    }

    constexpr std::uint32_t value() const { return m_value; }
    constexpr bool isSystem() const { return (m_value & kSystemFlag) != 0; }
    constexpr System systemColor() const { return System(m_value & 0xffU); }
    constexpr std::uint8_t red() const { return std::uint8_t(m_value); }
    constexpr std::uint8_t green() const { return std::uint8_t(m_value >> 8); }
    constexpr std::uint8_t blue() const { return std::uint8_t(m_value >> 16); }

    // The 32-bit value as a signed number, the form in which the game parks it in a double.
    constexpr double toDouble() const { return double(std::int32_t(m_value)); }
    static constexpr Color fromDouble(double value)
    {
        return Color(std::uint32_t(std::int32_t(value)));
    }

    friend constexpr bool operator==(Color, Color) = default;

private:
    static constexpr std::uint32_t kSystemFlag = 0x80000000U;
    constexpr explicit Color(std::uint32_t value)
        : m_value(value)
    {
    }
    std::uint32_t m_value = 0;
};

inline constexpr Color kPureRed = Color::fromValue(255);

} // namespace mojitan

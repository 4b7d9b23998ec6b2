// Key codes as the windows' key handlers know them.
#pragma once

#include <cstdint>

inline constexpr uint16_t VK_UP = 0x26;
inline constexpr uint16_t VK_DOWN = 0x28;

// The virtual-key code of a Qt key, or 0 for a key the program has no code for.
uint16_t VirtualKeyFromQt(int qtKey);

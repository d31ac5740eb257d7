// Two small image disks served by the test WNASPI32.DLL:
//   adapter 0 target 2: the player's disk, sector n filled with pattern(n),
//                       sector BAD_READ_SECTOR unreadable
//   adapter 1 target 5: another maker's disk, read-only
#pragma once

#include <cstdint>
#include <string>

constexpr int PLAYER_ADAPTER = 0;
constexpr int PLAYER_TARGET = 2;
constexpr int OTHER_ADAPTER = 1;
constexpr int OTHER_TARGET = 5;
constexpr std::uint32_t TEST_DISK_SECTORS = 64;
constexpr std::uint32_t BAD_READ_SECTOR = 7;
constexpr const char* PLAYER_MODEL = "TOSHIBA MK6015MAP";
constexpr const char* OTHER_MODEL = "IBM     DTLA-307030";  // not a player disk

// Byte i of sector n of the player's disk as made.
std::uint8_t pattern_byte(std::uint32_t sector, std::uint32_t i);

// Writes both images into the current folder and sets ASPI_DISKS for them.
bool make_test_disks();

// The player's image file, for looking at it behind the layer's back.
std::string player_image_path();

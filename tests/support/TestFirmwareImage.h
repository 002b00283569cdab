#pragma once

#include <cstdint>
#include <vector>

/**
    A small, deterministic firmware image as the updater carries them: one SysEx message with
    the header for the given processor (0x00 control, 0x10 audio, 0x20 graphics) and an Intel HEX
    body of 16-byte data records, extended-address records at every 64 KiB, and the end-of-file
    record. It is at least minimumSize bytes long.
*/
std::vector<std::uint8_t>
makeTestFirmwareImage (std::uint8_t processor, std::size_t minimumSize, std::uint32_t seed = 1);

#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

/**
    The build's test of a firmware file before it is embedded. The updater itself never looks
    inside an image and sends whatever it carries, so a file in the wrong slot or a damaged file
    must be caught here: the device would take it and be left unusable.

    A file passes when it is exactly one SysEx message whose header addresses the processor
    behind the port the catalogue sends it to, whose bytes between F0 and F7 are all below 0x80,
    and whose body is Intel HEX: records separated by CR LF, each well formed with a correct
    checksum, and the end-of-file record last.
*/
namespace FirmwareImageCheck
{
enum class Processor
{
    control,
    audio,
    graphics
};

/** The processor behind one of the device's port names ("KX Control", "KX Audio", "KX Graphics"). */
std::optional<Processor> processorForPort (const std::string& portName);

struct Problem
{
    std::size_t offset; // of the first byte found wrong
    std::string reason;
};

/** One Intel HEX record of the body, as found. */
struct HexRecord
{
    std::size_t offset; // of its ':'
    int type;
    int address;              // the record's 16-bit address field
    const std::uint8_t* text; // the record's hex digits after the type, two per data byte
    int dataLength;

    /** Data byte i (0 to dataLength - 1). */
    std::uint8_t dataByte (int i) const;
};

/** Nothing when the image passes; otherwise the first problem found. */
std::optional<Problem> check (const std::uint8_t* data, std::size_t size, Processor processor);

/** The same check, handing every record it parses to onRecord, in file order. */
std::optional<Problem> check (const std::uint8_t* data,
                              std::size_t size,
                              Processor processor,
                              const std::function<void (const HexRecord&)>& onRecord);
} // namespace FirmwareImageCheck

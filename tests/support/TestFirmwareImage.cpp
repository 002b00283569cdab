#include "tests/support/TestFirmwareImage.h"

#include <cstdio>
#include <string>

namespace
{
void appendRecord (std::vector<std::uint8_t>& out,
                   std::uint8_t type,
                   std::uint16_t address,
                   const std::vector<std::uint8_t>& data)
{
    std::vector<std::uint8_t> fields{
        (std::uint8_t)data.size (), (std::uint8_t) (address >> 8), (std::uint8_t)address, type
    };
    fields.insert (fields.end (), data.begin (), data.end ());

    unsigned sum = 0;
    for (auto field : fields)
        sum += field;
    fields.push_back ((std::uint8_t) (0x100 - (sum & 0xFF)));

    out.push_back (':');
    for (auto field : fields)
    {
        char hex[3];
        std::snprintf (hex, sizeof (hex), "%02X", field);
        out.push_back ((std::uint8_t)hex[0]);
        out.push_back ((std::uint8_t)hex[1]);
    }
    out.push_back ('\r');
    out.push_back ('\n');
}
} // namespace

std::vector<std::uint8_t> makeTestFirmwareImage (std::uint8_t processor, std::size_t minimumSize, std::uint32_t seed)
{
    std::vector<std::uint8_t> image = processor == 0x00
                                          ? std::vector<std::uint8_t>{ 0xF0, 0x00, 0x6A, 0x13, 0x00, 0x5A, 0x70 }
                                          : std::vector<std::uint8_t>{ 0xF0, 0x7D, processor, 0x5A, 0x70 };
    std::uint32_t state = seed * 2654435761u + 1;
    std::uint32_t address = 0;

    // The end-of-file record takes 13 bytes, the final F7 one.
    while (image.size () + 13 + 1 < minimumSize || address == 0)
    {
        if ((address & 0xFFFF) == 0)
            appendRecord (image, 0x04, 0, { (std::uint8_t) (address >> 24), (std::uint8_t) (address >> 16) });

        std::vector<std::uint8_t> data (16);
        for (auto& byte : data)
        {
            state = state * 1664525u + 1013904223u;
            byte = (std::uint8_t) (state >> 24);
        }

        appendRecord (image, 0x00, (std::uint16_t)address, data);
        address += 16;
    }

    appendRecord (image, 0x01, 0, {});
    image.push_back (0xF7);
    return image;
}

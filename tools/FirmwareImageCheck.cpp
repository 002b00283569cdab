#include "tools/FirmwareImageCheck.h"

#include <cstdio>
#include <vector>

namespace FirmwareImageCheck
{
namespace
{
struct Header
{
    Processor processor;
    const char* portName;
    const char* processorName;
    std::vector<std::uint8_t> bytes; // F0 up to and including the command byte
};

const Header headers[] = {
    { Processor::control, "KX Control", "control", { 0xF0, 0x00, 0x6A, 0x13, 0x00, 0x5A, 0x70 } },
    { Processor::audio, "KX Audio", "audio", { 0xF0, 0x7D, 0x10, 0x5A, 0x70 } },
    { Processor::graphics, "KX Graphics", "graphics", { 0xF0, 0x7D, 0x20, 0x5A, 0x70 } },
};

const Header& headerFor (Processor processor)
{
    for (const auto& header : headers)
        if (header.processor == processor)
            return header;
    return headers[0];
}

std::string hexByte (std::uint8_t value)
{
    char text[8];
    std::snprintf (text, sizeof (text), "0x%02X", value);
    return text;
}

std::string spelled (const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (auto b : bytes)
    {
        char digits[4];
        std::snprintf (digits, sizeof (digits), "%02X", b);
        text += (text.empty() ? "" : " ") + std::string (digits);
    }
    return text;
}

bool startsWith (const std::uint8_t* data, std::size_t size, const std::vector<std::uint8_t>& prefix)
{
    if (size < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (data[i] != prefix[i])
            return false;
    return true;
}

int hexDigit (std::uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::optional<Problem> checkHeader (const std::uint8_t* data, std::size_t size, const Header& expected)
{
    if (startsWith (data, size, expected.bytes))
        return std::nullopt;

    // Name the port whose header the file carries, if it is one of the device's: the usual
    // mistake is a good image in the wrong slot.
    for (const auto& other : headers)
    {
        if (&other == &expected || ! startsWith (data, size, other.bytes))
            continue;

        std::size_t offset = 0;
        while (offset < expected.bytes.size() && data[offset] == expected.bytes[offset])
            ++offset;
        return Problem { offset,
                         std::string ("the SysEx header (") + spelled (other.bytes) + ") addresses the " +
                             other.processorName + " processor, but this image goes to " + expected.portName +
                             ", which needs " + spelled (expected.bytes) };
    }

    for (std::size_t i = 0; i < expected.bytes.size(); ++i)
    {
        if (i >= size)
            return Problem { i, "the file ends inside the SysEx header" };

        if (data[i] != expected.bytes[i])
        {
            if (i == 0)
                return Problem {
                    0, "the file does not begin with the SysEx start byte F0 (found " + hexByte (data[0]) + ")"
                };

            return Problem { i,
                             "SysEx header byte " + hexByte (data[i]) + " should be " + hexByte (expected.bytes[i]) +
                                 ": an image for " + expected.portName + " begins " + spelled (expected.bytes) };
        }
    }
    return std::nullopt;
}

// Everything after F0 up to the last byte must be 7-bit data, and the last byte must be F7.
std::optional<Problem> checkFraming (const std::uint8_t* data, std::size_t size)
{
    for (std::size_t i = 1; i + 1 < size; ++i)
    {
        if (data[i] < 0x80)
            continue;

        if (data[i] == 0xF7)
            return Problem { i,
                             "the SysEx message ends here (F7) but the file goes on for " +
                                 std::to_string (size - i - 1) +
                                 " more bytes; a firmware file must hold exactly one message" };
        if (data[i] == 0xF0)
            return Problem {
                i, "a second SysEx start byte (F0) inside the message; a firmware file must hold exactly one message"
            };

        return Problem {
            i, "byte " + hexByte (data[i]) + " is not 7-bit data; every byte between F0 and F7 must be below 0x80"
        };
    }

    if (data[size - 1] != 0xF7)
        return Problem { size - 1,
                         "the file does not end with the SysEx end byte F7 (found " + hexByte (data[size - 1]) + ")" };
    return std::nullopt;
}

struct RecordRule
{
    int type;
    int dataLength; // -1: any
    const char* name;
};

const RecordRule recordRules[] = {
    { 0x00, -1, "data" },
    { 0x01, 0, "end-of-file" },
    { 0x02, 2, "extended segment address" },
    { 0x03, 4, "start segment address" },
    { 0x04, 2, "extended linear address" },
    { 0x05, 4, "start linear address" },
};

// The Intel HEX text from begin up to end (the offset of the final F7).
std::optional<Problem> checkHex (const std::uint8_t* data,
                                 std::size_t begin,
                                 std::size_t end,
                                 const std::function<void (const HexRecord&)>& onRecord)
{
    if (begin == end)
        return Problem { begin, "the message holds no Intel HEX records" };

    auto position = begin;

    // Reads one byte written as two hex digits at position.
    auto readByte = [&] (std::optional<Problem>& problem) -> int
    {
        for (int i = 0; i < 2; ++i)
        {
            if (position + static_cast<std::size_t> (i) >= end)
            {
                problem = Problem { end, "the last Intel HEX record is cut short by the end of the message" };
                return -1;
            }
            const auto c = data[position + static_cast<std::size_t> (i)];
            if (hexDigit (c) < 0)
            {
                problem = Problem { position + static_cast<std::size_t> (i),
                                    "byte " + hexByte (c) + " is not a hexadecimal digit in an Intel HEX record" };
                return -1;
            }
        }
        const int value = hexDigit (data[position]) * 16 + hexDigit (data[position + 1]);
        position += 2;
        return value;
    };

    for (;;)
    {
        const auto recordStart = position;
        if (data[position] != ':')
            return Problem { position,
                             "an Intel HEX record must begin with ':' (found " + hexByte (data[position]) + ")" };
        ++position;

        std::optional<Problem> problem;
        const int length = readByte (problem);
        const int addressHigh = problem ? 0 : readByte (problem);
        const int addressLow = problem ? 0 : readByte (problem);
        const int type = problem ? 0 : readByte (problem);
        if (problem)
            return problem;

        const auto* dataText = data + position;
        int sum = length + addressHigh + addressLow + type;
        for (int i = 0; i < length; ++i)
        {
            sum += readByte (problem);
            if (problem)
                return problem;
        }

        const auto checksumOffset = position;
        const int checksum = readByte (problem);
        if (problem)
            return problem;

        const auto expectedChecksum = static_cast<std::uint8_t> (0x100 - (sum & 0xFF));
        if (checksum != expectedChecksum)
            return Problem { checksumOffset,
                             "Intel HEX record checksum is " + hexByte (static_cast<std::uint8_t> (checksum)) +
                                 " but the record's bytes need " + hexByte (expectedChecksum) };

        const RecordRule* rule = nullptr;
        for (const auto& r : recordRules)
            if (r.type == type)
                rule = &r;

        if (rule == nullptr)
            return Problem { recordStart + 7,
                             "unknown Intel HEX record type " + hexByte (static_cast<std::uint8_t> (type)) };
        if (rule->dataLength >= 0 && rule->dataLength != length)
            return Problem { recordStart + 1,
                             std::string ("an Intel HEX ") + rule->name + " record carries " +
                                 std::to_string (rule->dataLength) + " data bytes, not " + std::to_string (length) };

        if (onRecord)
            onRecord (HexRecord { recordStart, type, addressHigh * 256 + addressLow, dataText, length });

        // Records are separated by CR LF; one CR LF may follow the last record.
        if (position < end)
        {
            if (position + 1 >= end || data[position] != '\r' || data[position + 1] != '\n')
                return Problem {
                    position, "Intel HEX records must be separated by CR LF (found " + hexByte (data[position]) + ")"
                };
            position += 2;
        }

        if (type == 0x01)
        {
            if (position != end)
                return Problem { position, "data after the Intel HEX end-of-file record" };
            return std::nullopt;
        }

        if (position == end)
            return Problem { end, "the Intel HEX body ends without an end-of-file record" };
    }
}
} // namespace

std::uint8_t HexRecord::dataByte (int i) const
{
    return static_cast<std::uint8_t> (hexDigit (text[2 * i]) * 16 + hexDigit (text[2 * i + 1]));
}

std::optional<Processor> processorForPort (const std::string& portName)
{
    for (const auto& header : headers)
        if (portName == header.portName)
            return header.processor;
    return std::nullopt;
}

std::optional<Problem> check (const std::uint8_t* data, std::size_t size, Processor processor)
{
    return check (data, size, processor, nullptr);
}

std::optional<Problem> check (const std::uint8_t* data,
                              std::size_t size,
                              Processor processor,
                              const std::function<void (const HexRecord&)>& onRecord)
{
    if (size == 0)
        return Problem { 0, "the file is empty" };

    const auto& header = headerFor (processor);

    if (auto problem = checkHeader (data, size, header))
        return problem;
    if (auto problem = checkFraming (data, size))
        return problem;

    // Both checks passed, so the header is followed by at least the final F7.
    return checkHex (data, header.bytes.size(), size - 1, onRecord);
}
} // namespace FirmwareImageCheck

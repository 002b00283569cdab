#include "DeviceMessages.h"

#include <algorithm>
#include <cstdio>

namespace kxdevice
{
namespace
{
int hexValue (std::uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string at (size_t offset)
{
    return " at byte " + std::to_string (offset);
}

/** One Intel HEX record, the text between ':' and CR LF. Returns its type or a fault. */
std::string checkRecord (const Bytes& image, size_t begin, size_t end, int& type)
{
    if (image[begin] != ':')
        return "Intel HEX record does not start with ':'" + at (begin);

    const auto digits = end - begin - 1;

    if (digits < 10 || digits % 2 != 0)
        return "Intel HEX record of " + std::to_string (digits) + " hex digits" + at (begin);

    std::vector<int> fields;

    for (size_t i = begin + 1; i < end; i += 2)
    {
        const auto high = hexValue (image[i]);
        const auto low = hexValue (image[i + 1]);

        if (high < 0 || low < 0)
            return "Intel HEX record holds a character that is not a hex digit" + at (high < 0 ? i : i + 1);

        fields.push_back (high * 16 + low);
    }

    const auto length = fields[0];

    if ((size_t)length + 5 != fields.size ())
        return "Intel HEX record's byte count " + std::to_string (length) + " does not match its " +
               std::to_string (fields.size () - 5) + " data bytes" + at (begin);

    int sum = 0;
    for (auto field : fields)
        sum += field;

    if ((sum & 0xFF) != 0)
        return "Intel HEX record has a wrong checksum" + at (begin);

    type = fields[3];
    static const int lengths[] = { -1, 0, 2, 4, 2, 4 }; // -1: any

    if (type > 5)
        return "Intel HEX record of unknown type " + std::to_string (type) + at (begin);

    if (lengths[type] >= 0 && lengths[type] != length)
        return "Intel HEX record of type " + std::to_string (type) + " with " + std::to_string (length) +
               " data bytes" + at (begin);

    return {};
}
} // namespace

const std::array<PortInfo, 3>& getPorts ()
{
    static const std::array<PortInfo, 3> ports{
        { { "control", "KX Control", 0x00 }, { "audio", "KX Audio", 0x10 }, { "graphics", "KX Graphics", 0x20 } }
    };
    return ports;
}

int findPort (const std::string& keyOrName)
{
    for (size_t i = 0; i < getPorts ().size (); ++i)
        if (keyOrName == getPorts ()[i].key || keyOrName == getPorts ()[i].name)
            return (int)i;

    return -1;
}

bool isIdentityRequest (const Bytes& message)
{
    return message.size () == 6 && message[0] == 0xF0 && message[1] == 0x7E && message[2] < 0x80 &&
           message[3] == 0x06 && message[4] == 0x01 && message[5] == 0xF7;
}

Bytes makeIdentityReply (std::uint8_t processor, const std::array<std::uint8_t, 4>& version, ReplyMode mode)
{
    Bytes reply;
    reply.reserve (37);

    for (auto byte : { 0xF0, 0x7E, 0x00, 0x06, 0x02, 0x00, 0x6A, 0x13, 0x5A, 0x01, 0x00 })
        reply.push_back ((std::uint8_t)byte);

    for (auto number : version)
        reply.push_back (number);

    reply.push_back (processor);

    // Data bytes 15 to 34 are not examined by the updater; a real unit puts its own there.
    for (std::uint8_t i = 0; i < 20; ++i)
        reply.push_back ((std::uint8_t) (0x30 + i));

    if (mode == ReplyMode::malformed)
        reply.pop_back ();

    reply.push_back (0xF7);
    return reply;
}

std::string checkImageStructure (const Bytes& image, std::uint8_t processor)
{
    const bool control = processor == 0x00;
    const Bytes header =
        control ? Bytes{ 0xF0, 0x00, 0x6A, 0x13, 0x00, 0x5A, 0x70 } : Bytes{ 0xF0, 0x7D, processor, 0x5A, 0x70 };
    const size_t processorOffset = control ? 4 : 2;

    if (image.size () < header.size () + 1)
        return "message of " + std::to_string (image.size ()) + " bytes is too short for a firmware image";

    for (size_t i = 0; i < header.size (); ++i)
    {
        if (image[i] != header[i])
        {
            if (i == processorOffset)
                return "processor byte " + hexByte (image[i]) + " does not match the port's " + hexByte (processor);

            return "header byte " + std::to_string (i) + " is " + hexByte (image[i]) + ", expected " +
                   hexByte (header[i]);
        }
    }

    const auto last = image.size () - 1;

    if (image[last] != 0xF7)
        return "image does not end with F7";

    for (size_t i = 1; i < last; ++i)
        if (image[i] >= 0x80)
            return "data byte " + hexByte (image[i]) + at (i);

    // The body: records separated by CR LF, the end-of-file record last (a final CR LF allowed).
    size_t pos = header.size ();
    bool sawEnd = false;

    if (pos == last)
        return "image has no Intel HEX body";

    while (pos < last)
    {
        if (sawEnd)
            return "data after the end-of-file record" + at (pos);

        size_t end = pos;
        while (end < last && image[end] != '\r' && image[end] != '\n')
            ++end;

        if (end == pos)
            return "empty line in the Intel HEX body" + at (pos);

        int type = -1;
        const auto fault = checkRecord (image, pos, end, type);

        if (! fault.empty ())
            return fault;

        sawEnd = type == 1;

        if (end == last)
            break;

        if (image[end] != '\r' || end + 1 >= last || image[end + 1] != '\n')
            return "Intel HEX records not separated by CR LF" + at (end);

        pos = end + 2;
    }

    if (! sawEnd)
        return "no end-of-file record at the end of the Intel HEX body";

    return {};
}

std::string compareBytes (const Bytes& received, const Bytes& expected)
{
    const auto common = std::min (received.size (), expected.size ());

    for (size_t i = 0; i < common; ++i)
        if (received[i] != expected[i])
            return "byte " + std::to_string (i) + " is " + hexByte (received[i]) + ", expected " +
                   hexByte (expected[i]);

    if (received.size () != expected.size ())
        return std::to_string (received.size ()) + " bytes received, " + std::to_string (expected.size ()) +
               " expected";

    return {};
}

std::string hexByte (std::uint8_t value)
{
    char text[8];
    std::snprintf (text, sizeof (text), "0x%02X", value);
    return text;
}
} // namespace kxdevice

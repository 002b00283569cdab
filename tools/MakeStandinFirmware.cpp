// Writes one stand-in firmware image: a single SysEx message of an exact byte size whose body
// is valid Intel HEX, in the same form as the device's real firmware files. The content is
// deterministic (a fixed pseudo-random sequence per image), so every build embeds the same bytes.
//
// Usage: kx_make_standin_firmware <resource name> <output file>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace
{
struct StandIn
{
    const char* name;
    std::vector<std::uint8_t> header; // F0, manufacturer ID, processor, product code, command
    std::size_t size;                 // of the whole file, F0 to F7
    std::uint32_t seed;               // images with the same seed carry the same Intel HEX body
};

// Sizes are those of the images the updater carries. The two asset images share their body,
// so they differ only in the processor byte, as the real ones do.
const StandIn standIns[] = {
    { "audioApplicationFirmware", { 0xF0, 0x7D, 0x10, 0x5A, 0x70 }, 706120, 0x5EED0A01u },
    { "graphicsApplicationFirmware", { 0xF0, 0x7D, 0x20, 0x5A, 0x70 }, 686185, 0x5EED0A02u },
    { "graphicsAssets", { 0xF0, 0x7D, 0x20, 0x5A, 0x70 }, 8266441, 0x5EED0A55u },
    { "audioAssets", { 0xF0, 0x7D, 0x10, 0x5A, 0x70 }, 8266441, 0x5EED0A55u },
    { "controlFirmware", { 0xF0, 0x00, 0x6A, 0x13, 0x00, 0x5A, 0x70 }, 65077, 0x5EED0C01u },
};

// The first data bytes say what this is, for anyone who dumps a build's images.
const char banner[] = "KX STAND-IN IMAGE, NOT DEVICE FIRMWARE. ";

constexpr std::size_t fullRecordLength = 16;    // data bytes per record, as most toolchains write them
constexpr std::size_t maxTailRecordLength = 16; // the last few records are shorter to hit the size
constexpr std::size_t segmentSize = 0x10000;    // what one extended linear address record covers

// Text bytes of one record: ':' count(2) address(4) type(2) data(2 per byte) checksum(2) CR LF.
constexpr std::size_t recordTextSize (std::size_t dataLength)
{
    return 1 + 2 + 4 + 2 + 2 * dataLength + 2 + 2;
}

struct Layout
{
    std::size_t fullRecords = 0;
    std::vector<std::size_t> tailLengths; // one to three records after the full ones
};

std::size_t dataBytes (const Layout& layout)
{
    auto total = layout.fullRecords * fullRecordLength;
    for (auto length : layout.tailLengths)
        total += length;
    return total;
}

// Data records start at address 0 and are contiguous; one extended linear address record
// opens every 64 KiB segment that holds data, the first one included.
std::size_t fileSize (const Layout& layout, std::size_t headerSize)
{
    const auto data = dataBytes (layout);
    const auto segments = data == 0 ? 1 : (data - 1) / segmentSize + 1;
    auto size = headerSize + 1 /* F7 */ + recordTextSize (0) /* end of file */ + segments * recordTextSize (2);
    size += layout.fullRecords * recordTextSize (fullRecordLength);
    for (auto length : layout.tailLengths)
        size += recordTextSize (length);
    return size;
}

// A record must not run over the end of a 64 KiB segment: its address would wrap.
bool tailStaysInSegments (const Layout& layout)
{
    auto address = layout.fullRecords * fullRecordLength;
    for (auto length : layout.tailLengths)
    {
        if (address % segmentSize + length > segmentSize)
            return false;
        address += length;
    }
    return true;
}

// Full records fill the image; the last one to three records are shortened so that the file
// comes out at exactly the size wanted. A record's length moves the size in steps of two and
// every record adds an odd number of bytes, so one short record reaches only some sizes and
// up to three reach every size; the fewest that fit are used.
std::optional<Layout> planLayout (std::size_t targetSize, std::size_t headerSize)
{
    const auto estimate = targetSize / recordTextSize (fullRecordLength) + 1;

    for (std::size_t count = 1; count <= 3; ++count)
    {
        for (std::size_t back = 0; back <= 64 && back <= estimate; ++back)
        {
            for (std::size_t tailBytes = count; tailBytes <= count * maxTailRecordLength; ++tailBytes)
            {
                Layout layout;
                layout.fullRecords = estimate - back;
                for (std::size_t i = 0; i < count; ++i)
                    layout.tailLengths.push_back (tailBytes / count + (i < tailBytes % count ? 1 : 0));

                if (fileSize (layout, headerSize) == targetSize && tailStaysInSegments (layout))
                    return layout;
            }
        }
    }
    return std::nullopt;
}

class HexWriter
{
public:
    explicit HexWriter (std::vector<std::uint8_t>& out) : text (out) {}

    void record (std::uint8_t type, std::uint16_t address, const std::uint8_t* data, std::size_t length)
    {
        std::uint8_t sum = static_cast<std::uint8_t> (length + (address >> 8) + (address & 0xFF) + type);
        text.push_back (':');
        byte (static_cast<std::uint8_t> (length));
        byte (static_cast<std::uint8_t> (address >> 8));
        byte (static_cast<std::uint8_t> (address & 0xFF));
        byte (type);
        for (std::size_t i = 0; i < length; ++i)
        {
            byte (data[i]);
            sum = static_cast<std::uint8_t> (sum + data[i]);
        }
        byte (static_cast<std::uint8_t> (0x100 - sum));
        text.push_back ('\r');
        text.push_back ('\n');
    }

private:
    void byte (std::uint8_t value)
    {
        static const char digits[] = "0123456789ABCDEF";
        text.push_back (static_cast<std::uint8_t> (digits[value >> 4]));
        text.push_back (static_cast<std::uint8_t> (digits[value & 0x0F]));
    }

    std::vector<std::uint8_t>& text;
};

// xorshift32: small, fast and the same on every platform.
class Bytes
{
public:
    explicit Bytes (std::uint32_t seed) : state (seed != 0 ? seed : 1u) {}

    std::uint8_t next()
    {
        if (position < sizeof (banner) - 1)
            return static_cast<std::uint8_t> (banner[position++]);

        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return static_cast<std::uint8_t> (state >> 24);
    }

private:
    std::uint32_t state;
    std::size_t position = 0;
};

std::vector<std::uint8_t> makeImage (const StandIn& standIn, const Layout& layout)
{
    std::vector<std::uint8_t> image (standIn.header);
    image.reserve (standIn.size);
    HexWriter hex (image);
    Bytes source (standIn.seed);

    std::vector<std::size_t> lengths (layout.fullRecords, fullRecordLength);
    lengths.insert (lengths.end(), layout.tailLengths.begin(), layout.tailLengths.end());

    std::size_t address = 0;
    bool firstRecord = true;
    std::uint8_t data[255];

    for (auto length : lengths)
    {
        if (firstRecord || address % segmentSize == 0)
        {
            const auto upper = static_cast<std::uint16_t> (address >> 16);
            const std::uint8_t upperBytes[] = { static_cast<std::uint8_t> (upper >> 8),
                                                static_cast<std::uint8_t> (upper & 0xFF) };
            hex.record (0x04, 0, upperBytes, 2);
            firstRecord = false;
        }

        for (std::size_t i = 0; i < length; ++i)
            data[i] = source.next();

        hex.record (0x00, static_cast<std::uint16_t> (address & 0xFFFF), data, length);
        address += length;
    }

    hex.record (0x01, 0, nullptr, 0);
    image.push_back (0xF7);
    return image;
}

bool writeFile (const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    // Written under a temporary name first, so an interrupted run never leaves a file that
    // looks complete to the build.
    const auto temporary = path + ".part";
    auto* file = std::fopen (temporary.c_str(), "wb");
    if (file == nullptr)
        return false;

    const bool written = std::fwrite (bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose (file) == 0;

    if (! (written && closed))
    {
        std::remove (temporary.c_str());
        return false;
    }

    std::remove (path.c_str()); // rename does not replace an existing file everywhere
    return std::rename (temporary.c_str(), path.c_str()) == 0;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf (stderr, "usage: %s <resource name> <output file>\n", argv[0]);
        return 2;
    }

    for (const auto& standIn : standIns)
    {
        if (std::strcmp (standIn.name, argv[1]) != 0)
            continue;

        const auto layout = planLayout (standIn.size, standIn.header.size());
        if (! layout)
        {
            std::fprintf (stderr, "error: no record layout gives %s exactly %zu bytes\n", standIn.name, standIn.size);
            return 1;
        }

        const auto image = makeImage (standIn, *layout);
        if (image.size() != standIn.size)
        {
            std::fprintf (
                stderr, "error: %s came out at %zu bytes instead of %zu\n", standIn.name, image.size(), standIn.size);
            return 1;
        }

        if (! writeFile (argv[2], image))
        {
            std::fprintf (stderr, "error: cannot write %s\n", argv[2]);
            return 1;
        }
        return 0;
    }

    std::fprintf (stderr, "error: %s is not one of the five firmware resources\n", argv[1]);
    return 2;
}

// Checks one firmware file before the build embeds it; a failure stops the build.
//
// Usage: kx_check_firmware_image <file> <port name>
//   <port name> is the port its catalogue entry sends it to: "KX Control", "KX Audio" or "KX Graphics".

#include "tools/FirmwareImageCheck.h"

#include <cstdio>
#include <fstream>
#include <vector>

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf (stderr, "usage: %s <file> <port name>\n", argv[0]);
        return 2;
    }

    const char* path = argv[1];
    const auto processor = FirmwareImageCheck::processorForPort (argv[2]);
    if (! processor)
    {
        std::fprintf (stderr, "error: \"%s\" is not one of the device's ports\n", argv[2]);
        return 2;
    }

    std::ifstream file (path, std::ios::binary | std::ios::ate);
    if (! file)
    {
        std::fprintf (stderr, "error: %s: cannot be read\n", path);
        return 1;
    }

    // The updater holds each image's size in an int.
    const auto size = static_cast<long long> (file.tellg());
    if (size < 0 || size > 0x7FFFFFFF)
    {
        std::fprintf (stderr, "error: %s: not a readable file of a firmware image's size\n", path);
        return 1;
    }

    std::vector<std::uint8_t> bytes (static_cast<std::size_t> (size));
    file.seekg (0);
    if (! file.read (reinterpret_cast<char*> (bytes.data()), static_cast<std::streamsize> (size)))
    {
        std::fprintf (stderr, "error: %s: reading failed\n", path);
        return 1;
    }

    if (const auto problem = FirmwareImageCheck::check (bytes.data(), bytes.size(), *processor))
    {
        std::fprintf (stderr,
                      "error: %s: byte offset %zu (0x%zX): %s\n",
                      path,
                      problem->offset,
                      problem->offset,
                      problem->reason.c_str());
        return 1;
    }
    return 0;
}

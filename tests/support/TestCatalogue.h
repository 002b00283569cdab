#pragma once

#include "transfer/FirmwareImage.h"

#include <vector>

/** Bytes shaped like a firmware image: one SysEx message of the given size. */
inline std::vector<juce::uint8> makeImageBytes (int size, juce::uint8 seed)
{
    std::vector<juce::uint8> bytes ((size_t)size);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = (juce::uint8) ((i * 31 + seed) % 0x80);
    if (! bytes.empty())
    {
        bytes.front() = 0xF0;
        bytes.back() = 0xF7;
    }
    return bytes;
}

struct CatalogueEntry
{
    const char* name;
    const char* port;
    int size;
};

/** The updater's catalogue: order, names, ports and sizes of the images it carries. */
inline const CatalogueEntry catalogueEntries[] = {
    { "Audio Application Firmware", "KX Audio", 706120 }, { "Graphics Application Firmware", "KX Graphics", 686185 },
    { "Graphics Assets", "KX Graphics", 8266441 },        { "Audio Assets", "KX Audio", 8266441 },
    { "Control Firmware", "KX Control", 65077 },
};

/** Five images with the catalogue's names and ports, in its order; real sizes unless others are given. */
struct Catalogue
{
    Catalogue() { build ({}); }
    explicit Catalogue (std::vector<int> sizes) { build (std::move (sizes)); }

    /** The catalogue's images, with other sizes where given. */
    void build (std::vector<int> sizes)
    {
        bytes.clear();
        images.clear();
        juce::uint8 seed = 1;
        for (const auto& entry : catalogueEntries)
        {
            const auto size = sizes.empty() ? entry.size : sizes[(size_t)(seed - 1)];
            bytes.push_back (makeImageBytes (size, seed++));
            images.add (new FirmwareImage (bytes.back().data(), size, 256, 3, entry.port, entry.name));
        }
    }

    /** The bytes of the given images, one after the other. */
    std::vector<juce::uint8> joined (std::initializer_list<int> imageIndexes) const
    {
        std::vector<juce::uint8> result;
        for (auto i : imageIndexes)
            result.insert (result.end(), bytes[(size_t)i].begin(), bytes[(size_t)i].end());
        return result;
    }

    std::vector<std::vector<juce::uint8>> bytes;
    juce::OwnedArray<FirmwareImage> images;
};

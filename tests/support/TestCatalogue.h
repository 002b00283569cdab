#pragma once

#include "app/FirmwareCatalogue.h"
#include "resources/EmbeddedResources.h"
#include "transfer/FirmwareImage.h"

#include <vector>

/** Bytes shaped like a firmware image: one SysEx message of the given size. */
inline std::vector<juce::uint8> makeImageBytes (int size, juce::uint8 seed)
{
    std::vector<juce::uint8> bytes ((size_t) size);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = (juce::uint8) ((i * 31 + seed) % 0x80);
    if (! bytes.empty())
    {
        bytes.front() = 0xF0;
        bytes.back() = 0xF7;
    }
    return bytes;
}

/** The images the updater carries, or images of other sizes in the same order, names and ports. */
struct Catalogue
{
    Catalogue() { build ({}); }
    explicit Catalogue (std::vector<int> sizes) { build (std::move (sizes)); }

    void build (std::vector<int> sizes)
    {
        bytes.clear();
        images.clear();
        buildFirmwareCatalogue (images);

        if (sizes.empty())
        {
            const std::pair<const char*, int> embedded[] = {
                { EmbeddedResources::audioApplicationFirmware, EmbeddedResources::audioApplicationFirmwareSize },
                { EmbeddedResources::graphicsApplicationFirmware, EmbeddedResources::graphicsApplicationFirmwareSize },
                { EmbeddedResources::graphicsAssets, EmbeddedResources::graphicsAssetsSize },
                { EmbeddedResources::audioAssets, EmbeddedResources::audioAssetsSize },
                { EmbeddedResources::controlFirmware, EmbeddedResources::controlFirmwareSize },
            };
            for (const auto& [data, size] : embedded)
                bytes.emplace_back (data, data + size);
            return;
        }

        juce::OwnedArray<FirmwareImage> resized;
        for (int i = 0; i < images.size(); ++i)
        {
            bytes.push_back (makeImageBytes (sizes[(size_t) i], (juce::uint8) (i + 1)));
            resized.add (new FirmwareImage (
                bytes.back().data(), sizes[(size_t) i], 256, 3, images[i]->getPortName(), images[i]->getName()));
        }
        images.swapWith (resized);
    }

    /** The bytes of the given images, one after the other. */
    std::vector<juce::uint8> joined (std::initializer_list<int> imageIndexes) const
    {
        std::vector<juce::uint8> result;
        for (auto i : imageIndexes)
            result.insert (result.end(), bytes[(size_t) i].begin(), bytes[(size_t) i].end());
        return result;
    }

    std::vector<std::vector<juce::uint8>> bytes;
    juce::OwnedArray<FirmwareImage> images;
};

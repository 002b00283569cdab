#include "app/FirmwareCatalogue.h"

#include "resources/EmbeddedResources.h"

void buildFirmwareCatalogue (juce::OwnedArray<FirmwareImage>& firmwareImages)
{
    struct Entry
    {
        const char* data;
        const int& size;
        const char* portName;
        const char* name;
    };

    // Both names are keys: the port name finds the MIDI port, the display name is what the
    // controller selects images by. The order is the order the controller starts them in.
    const Entry entries[] = {
        { EmbeddedResources::audioApplicationFirmware,
          EmbeddedResources::audioApplicationFirmwareSize,
          "KX Audio",
          "Audio Application Firmware" },
        { EmbeddedResources::graphicsApplicationFirmware,
          EmbeddedResources::graphicsApplicationFirmwareSize,
          "KX Graphics",
          "Graphics Application Firmware" },
        { EmbeddedResources::graphicsAssets, EmbeddedResources::graphicsAssetsSize, "KX Graphics", "Graphics Assets" },
        { EmbeddedResources::audioAssets, EmbeddedResources::audioAssetsSize, "KX Audio", "Audio Assets" },
        { EmbeddedResources::controlFirmware,
          EmbeddedResources::controlFirmwareSize,
          "KX Control",
          "Control Firmware" },
    };

    const int chunkSize = 256;
    const int intervalMs = 3;

    for (const auto& entry : entries)
        firmwareImages.add (new FirmwareImage (
            entry.data, entry.size, chunkSize, intervalMs, juce::String (entry.portName), juce::String (entry.name)));
}

#pragma once

/**
    Everything the updater sends and shows, compiled into the executable: five firmware
    images and six PNG pictures. Each resource is a pointer to read-only bytes that live
    for the whole process and a byte count of the same name followed by Size.

    The bytes are put into the program by an assembler file that resources/CMakeLists.txt
    generates (one .incbin per file); it defines the C-named symbols below, and this header
    gives them their names in EmbeddedResources. The pointers and the references to the counts
    are constant-initialised, so they are valid before any static constructor runs.
*/
extern "C"
{
    extern const char kxEmbedded_audioApplicationFirmware[];
    extern const int kxEmbedded_audioApplicationFirmwareSize;
    extern const char kxEmbedded_graphicsApplicationFirmware[];
    extern const int kxEmbedded_graphicsApplicationFirmwareSize;
    extern const char kxEmbedded_graphicsAssets[];
    extern const int kxEmbedded_graphicsAssetsSize;
    extern const char kxEmbedded_audioAssets[];
    extern const int kxEmbedded_audioAssetsSize;
    extern const char kxEmbedded_controlFirmware[];
    extern const int kxEmbedded_controlFirmwareSize;
    extern const char kxEmbedded_backgroundImage[];
    extern const int kxEmbedded_backgroundImageSize;
    extern const char kxEmbedded_updateButtonNormalImage[];
    extern const int kxEmbedded_updateButtonNormalImageSize;
    extern const char kxEmbedded_updateButtonOverImage[];
    extern const int kxEmbedded_updateButtonOverImageSize;
    extern const char kxEmbedded_updateButtonDownImage[];
    extern const int kxEmbedded_updateButtonDownImageSize;
    extern const char kxEmbedded_hardwareNotDetectedImage[];
    extern const int kxEmbedded_hardwareNotDetectedImageSize;
    extern const char kxEmbedded_hardwareDetectedImage[];
    extern const int kxEmbedded_hardwareDetectedImageSize;
}

namespace EmbeddedResources
{
inline const char* const audioApplicationFirmware = kxEmbedded_audioApplicationFirmware;
inline const int& audioApplicationFirmwareSize = kxEmbedded_audioApplicationFirmwareSize;
inline const char* const graphicsApplicationFirmware = kxEmbedded_graphicsApplicationFirmware;
inline const int& graphicsApplicationFirmwareSize = kxEmbedded_graphicsApplicationFirmwareSize;
inline const char* const graphicsAssets = kxEmbedded_graphicsAssets;
inline const int& graphicsAssetsSize = kxEmbedded_graphicsAssetsSize;
inline const char* const audioAssets = kxEmbedded_audioAssets;
inline const int& audioAssetsSize = kxEmbedded_audioAssetsSize;
inline const char* const controlFirmware = kxEmbedded_controlFirmware;
inline const int& controlFirmwareSize = kxEmbedded_controlFirmwareSize;

inline const char* const backgroundImage = kxEmbedded_backgroundImage;
inline const int& backgroundImageSize = kxEmbedded_backgroundImageSize;
inline const char* const updateButtonNormalImage = kxEmbedded_updateButtonNormalImage;
inline const int& updateButtonNormalImageSize = kxEmbedded_updateButtonNormalImageSize;
inline const char* const updateButtonOverImage = kxEmbedded_updateButtonOverImage;
inline const int& updateButtonOverImageSize = kxEmbedded_updateButtonOverImageSize;
inline const char* const updateButtonDownImage = kxEmbedded_updateButtonDownImage;
inline const int& updateButtonDownImageSize = kxEmbedded_updateButtonDownImageSize;
inline const char* const hardwareNotDetectedImage = kxEmbedded_hardwareNotDetectedImage;
inline const int& hardwareNotDetectedImageSize = kxEmbedded_hardwareNotDetectedImageSize;
inline const char* const hardwareDetectedImage = kxEmbedded_hardwareDetectedImage;
inline const int& hardwareDetectedImageSize = kxEmbedded_hardwareDetectedImageSize;
} // namespace EmbeddedResources

#pragma once

/**
    Everything the updater sends and shows, compiled into the executable: five firmware
    images and six PNG pictures. Each resource is a pointer to read-only bytes that live
    for the whole process and a byte count of the same name followed by Size.
*/
namespace EmbeddedResources
{
extern const char* const audioApplicationFirmware;
extern const int audioApplicationFirmwareSize;
extern const char* const graphicsApplicationFirmware;
extern const int graphicsApplicationFirmwareSize;
extern const char* const graphicsAssets;
extern const int graphicsAssetsSize;
extern const char* const audioAssets;
extern const int audioAssetsSize;
extern const char* const controlFirmware;
extern const int controlFirmwareSize;

extern const char* const backgroundImage;
extern const int backgroundImageSize;
extern const char* const updateButtonNormalImage;
extern const int updateButtonNormalImageSize;
extern const char* const updateButtonOverImage;
extern const int updateButtonOverImageSize;
extern const char* const updateButtonDownImage;
extern const int updateButtonDownImageSize;
extern const char* const hardwareNotDetectedImage;
extern const int hardwareNotDetectedImageSize;
extern const char* const hardwareDetectedImage;
extern const int hardwareDetectedImageSize;
} // namespace EmbeddedResources

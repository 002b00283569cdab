#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

/**
    What a KX device says and expects on the wire, written independently of the updater's
    own code so that the two cannot share a mistake.
*/
namespace kxdevice
{
using Bytes = std::vector<std::uint8_t>;

/** Processor codes of the three ports: 0x00 control, 0x10 audio, 0x20 graphics. */
struct PortInfo
{
    const char* key;  // "control", "audio", "graphics"
    const char* name; // "KX Control", ...
    std::uint8_t processor;
};

const std::array<PortInfo, 3>& getPorts ();

/** Index into getPorts() for "control", "audio", "graphics" or a full port name; -1 if none. */
int findPort (const std::string& keyOrName);

/** F0 7E <any device> 06 01 F7. */
bool isIdentityRequest (const Bytes& message);

enum class ReplyMode
{
    normal,    // the 37-byte identity reply
    malformed, // one data byte short (36 bytes), which the updater must ignore
    none       // no answer at all
};

/** The identity reply for a port: 37 bytes, version w.x.y.z, processor at data byte 14. */
Bytes makeIdentityReply (std::uint8_t processor, const std::array<std::uint8_t, 4>& version, ReplyMode mode);

/**
    Checks one received firmware image by its structure: a single SysEx message with the
    header for the given processor, only 7-bit bytes inside, and a body of well-formed Intel HEX
    records with correct checksums ending with the end-of-file record.
    Returns an empty string when it is sound, otherwise a description of the first fault.
*/
std::string checkImageStructure (const Bytes& image, std::uint8_t processor);

/** Empty when equal, otherwise where and how the received bytes differ from the expected. */
std::string compareBytes (const Bytes& received, const Bytes& expected);

std::string hexByte (std::uint8_t value);
} // namespace kxdevice

#include "tools/FirmwareImageCheck.h"

#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using FirmwareImageCheck::Processor;

namespace
{
using Bytes = std::vector<std::uint8_t>;

std::string hexRecord (int type, int address, const Bytes& data)
{
    static const char digits[] = "0123456789ABCDEF";
    Bytes fields {
        (std::uint8_t) data.size(), (std::uint8_t) (address >> 8), (std::uint8_t) address, (std::uint8_t) type
    };
    fields.insert (fields.end(), data.begin(), data.end());

    int sum = 0;
    for (auto b : fields)
        sum += b;
    fields.push_back ((std::uint8_t) (0x100 - (sum & 0xFF)));

    std::string text = ":";
    for (auto b : fields)
    {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

Bytes headerFor (Processor processor)
{
    switch (processor)
    {
    case Processor::control:
        return { 0xF0, 0x00, 0x6A, 0x13, 0x00, 0x5A, 0x70 };
    case Processor::audio:
        return { 0xF0, 0x7D, 0x10, 0x5A, 0x70 };
    case Processor::graphics:
        return { 0xF0, 0x7D, 0x20, 0x5A, 0x70 };
    }
    return {};
}

const std::vector<std::string> records = {
    hexRecord (0x04, 0x0000, { 0x00, 0x00 }),
    hexRecord (0x00,
               0x0000,
               { 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF }),
    hexRecord (0x00, 0x0010, { 0xF0, 0xF7, 0x80, 0x7F, 0x01 }),
    hexRecord (0x01, 0x0000, {}),
};

std::string bodyOf (const std::vector<std::string>& lines, const std::string& separator = "\r\n")
{
    std::string body;
    for (const auto& line : lines)
        body += line + separator;
    return body;
}

Bytes makeImage (Processor processor, const std::string& body = bodyOf (records))
{
    auto image = headerFor (processor);
    image.insert (image.end(), body.begin(), body.end());
    image.push_back (0xF7);
    return image;
}

std::optional<FirmwareImageCheck::Problem> checkImage (const Bytes& image, Processor processor)
{
    return FirmwareImageCheck::check (image.data(), image.size(), processor);
}

// Offset in an image of the given text, which must occur in it.
std::size_t offsetOf (const Bytes& image, const std::string& text)
{
    const std::string all (image.begin(), image.end());
    const auto at = all.find (text);
    EXPECT_NE (at, std::string::npos) << text;
    return at;
}
} // namespace

TEST (FirmwareImageCheck, PassesWellFormedImagesForEachPort)
{
    for (auto port : { "KX Control", "KX Audio", "KX Graphics" })
    {
        SCOPED_TRACE (port);
        const auto processor = FirmwareImageCheck::processorForPort (port);
        ASSERT_TRUE (processor.has_value());

        // Records separated by CR LF, with and without a CR LF after the last one.
        auto unterminated = bodyOf (records);
        unterminated.resize (unterminated.size() - 2);
        auto lowerCase = bodyOf (records);
        for (auto& c : lowerCase)
            c = (char) std::tolower ((unsigned char) c);

        for (const auto& body : { bodyOf (records), unterminated, lowerCase })
        {
            const auto problem = checkImage (makeImage (*processor, body), *processor);
            EXPECT_FALSE (problem.has_value()) << problem->offset << ": " << problem->reason;
        }
    }

    EXPECT_FALSE (FirmwareImageCheck::processorForPort ("KX audio").has_value());
}

TEST (FirmwareImageCheck, HandsEveryRecordToTheVisitorInOrder)
{
    const auto image = makeImage (Processor::audio);
    std::vector<int> types;
    std::vector<int> addresses;
    Bytes data;

    const auto problem = FirmwareImageCheck::check (image.data(),
                                                    image.size(),
                                                    Processor::audio,
                                                    [&] (const FirmwareImageCheck::HexRecord& record)
                                                    {
                                                        types.push_back (record.type);
                                                        addresses.push_back (record.address);
                                                        for (int i = 0; i < record.dataLength; ++i)
                                                            data.push_back (record.dataByte (i));
                                                    });

    EXPECT_FALSE (problem.has_value());
    EXPECT_EQ (types, (std::vector<int> { 0x04, 0x00, 0x00, 0x01 }));
    EXPECT_EQ (addresses, (std::vector<int> { 0, 0, 0x10, 0 }));
    ASSERT_EQ (data.size(), 2u + 16u + 5u);
    EXPECT_EQ (data[2 + 15], 0xFF);
    EXPECT_EQ (data[2 + 16], 0xF0);
}

TEST (FirmwareImageCheck, RejectsBrokenImagesWithOffsetAndReason)
{
    struct Case
    {
        const char* what;
        Processor port;
        // Breaks a good audio image and returns the offset the check must report.
        std::function<std::size_t (Bytes&)> breakImage;
        const char* reason;
    };

    const auto secondDataRecord = records[2];

    const Case cases[] = {
        { "empty file",
          Processor::audio,
          [] (Bytes& image)
          {
              image.clear();
              return 0;
          },
          "the file is empty" },
        { "no SysEx start",
          Processor::audio,
          [] (Bytes& image)
          {
              image[0] = 0x3A;
              return 0;
          },
          "does not begin with the SysEx start byte F0" },
        { "audio image on the graphics port",
          Processor::graphics,
          [] (Bytes&) { return 2; },
          "addresses the audio processor, but this image goes to KX Graphics" },
        { "wrong processor byte",
          Processor::audio,
          [] (Bytes& image)
          {
              image[2] = 0x30;
              return 2;
          },
          "SysEx header byte 0x30 should be 0x10" },
        { "audio image on the control port",
          Processor::control,
          [] (Bytes&) { return 1; },
          "addresses the audio processor, but this image goes to KX Control" },
        { "stray 0x80",
          Processor::audio,
          [&] (Bytes& image)
          {
              const auto at = offsetOf (image, secondDataRecord) + 9;
              image[at] = 0x80;
              return at;
          },
          "byte 0x80 is not 7-bit data" },
        { "bad record checksum",
          Processor::audio,
          [&] (Bytes& image)
          {
              const auto checksum = offsetOf (image, secondDataRecord) + secondDataRecord.size() - 2;
              image[checksum + 1] = image[checksum + 1] == '0' ? '1' : '0';
              return checksum;
          },
          "Intel HEX record checksum is" },
        { "missing F7",
          Processor::audio,
          [] (Bytes& image)
          {
              image.pop_back();
              return image.size() - 1;
          },
          "does not end with the SysEx end byte F7 (found 0x0A)" },
        { "two messages in one file",
          Processor::audio,
          [] (Bytes& image)
          {
              const auto first = image;
              image.insert (image.end(), first.begin(), first.end());
              return first.size() - 1;
          },
          "must hold exactly one message" },
        { "a second F0 inside the message",
          Processor::audio,
          [&] (Bytes& image)
          {
              const auto at = offsetOf (image, secondDataRecord);
              image[at] = 0xF0;
              return at;
          },
          "a second SysEx start byte (F0)" },
        { "no Intel HEX at all",
          Processor::audio,
          [] (Bytes& image)
          {
              image = makeImage (Processor::audio, "");
              return 5;
          },
          "holds no Intel HEX records" },
        { "no end-of-file record",
          Processor::audio,
          [&] (Bytes& image)
          {
              image = makeImage (Processor::audio, bodyOf ({ records[0], records[1], records[2] }));
              return image.size() - 1;
          },
          "ends without an end-of-file record" },
        { "a record after the end-of-file record",
          Processor::audio,
          [&] (Bytes& image)
          {
              image = makeImage (Processor::audio, bodyOf ({ records[0], records[1], records[3], records[2] }));
              return offsetOf (image, records[3]) + records[3].size() + 2;
          },
          "data after the Intel HEX end-of-file record" },
        { "records separated by LF alone",
          Processor::audio,
          [] (Bytes& image)
          {
              image = makeImage (Processor::audio, bodyOf (records, "\n"));
              return offsetOf (image, records[0]) + records[0].size();
          },
          "must be separated by CR LF (found 0x0A)" },
        { "not a hex digit",
          Processor::audio,
          [&] (Bytes& image)
          {
              const auto at = offsetOf (image, secondDataRecord) + 10;
              image[at] = 'G';
              return at;
          },
          "byte 0x47 is not a hexadecimal digit" },
        { "record without a colon",
          Processor::audio,
          [&] (Bytes& image)
          {
              const auto at = offsetOf (image, secondDataRecord);
              image[at] = ';';
              return at;
          },
          "must begin with ':'" },
        { "record cut short",
          Processor::audio,
          [&] (Bytes& image)
          {
              image = makeImage (Processor::audio, bodyOf ({ records[0] }) + ":0400");
              return image.size() - 1;
          },
          "cut short by the end of the message" },
        { "end-of-file record with data",
          Processor::audio,
          [&] (Bytes& image)
          {
              const auto eof = hexRecord (0x01, 0x0000, { 0x00 });
              image = makeImage (Processor::audio, bodyOf ({ records[0], eof }));
              return offsetOf (image, eof) + 1;
          },
          "end-of-file record carries 0 data bytes, not 1" },
        { "unknown record type",
          Processor::audio,
          [&] (Bytes& image)
          {
              const auto odd = hexRecord (0x06, 0x0000, {});
              image = makeImage (Processor::audio, bodyOf ({ odd, records[3] }));
              return offsetOf (image, odd) + 7;
          },
          "unknown Intel HEX record type 0x06" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto image = makeImage (Processor::audio);
        const auto expectedOffset = c.breakImage (image);

        const auto problem = checkImage (image, c.port);
        ASSERT_TRUE (problem.has_value());
        EXPECT_EQ (problem->offset, expectedOffset);
        EXPECT_NE (problem->reason.find (c.reason), std::string::npos) << problem->reason;
    }
}

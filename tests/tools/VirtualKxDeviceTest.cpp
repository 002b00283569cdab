#include "DeviceMessages.h"
#include "PortReceiver.h"
#include "tests/support/TestFirmwareImage.h"

#include <functional>
#include <gtest/gtest.h>

using namespace kxdevice;

namespace
{
const PortInfo& audioPort ()
{
    return getPorts ()[1];
}

/** Offset of the first occurrence of text in the image. */
size_t find (const Bytes& image, const std::string& text)
{
    const auto it = std::search (image.begin (), image.end (), text.begin (), text.end ());
    EXPECT_NE (it, image.end ()) << text;
    return (size_t)(it - image.begin ());
}

void feedInPieces (PortReceiver& receiver, const Bytes& bytes, size_t pieceSize, double startMs = 0.0)
{
    for (size_t offset = 0, index = 0; offset < bytes.size (); offset += pieceSize, ++index)
    {
        const auto size = std::min (pieceSize, bytes.size () - offset);
        receiver.receive (bytes.data () + offset, size, startMs + 3.0 * (double)index);
    }
}
} // namespace

TEST (VirtualKxDeviceMessages, GeneratedImagesOfEveryProcessorPassTheStructureCheck)
{
    for (const auto& port : getPorts ())
    {
        const auto image = makeTestFirmwareImage (port.processor, 200000);
        EXPECT_GE (image.size (), 200000u);
        EXPECT_EQ (checkImageStructure (image, port.processor), "") << port.name;
    }
}

TEST (VirtualKxDeviceMessages, EachStructuralFaultIsFoundAndNamed)
{
    const auto good = makeTestFirmwareImage (0x10, 3000);
    const auto firstData = find (good, ":10000000");
    const auto endRecord = find (good, ":00000001FF");

    struct Case
    {
        const char* what;
        std::function<void (Bytes&)> damage;
        const char* expected;
    };

    const Case cases[] = {
        { "processor of another port", [] (Bytes& b) { b[2] = 0x20; }, "processor byte 0x20" },
        { "wrong manufacturer", [] (Bytes& b) { b[1] = 0x7E; }, "header byte 1" },
        { "wrong command", [] (Bytes& b) { b[4] = 0x71; }, "header byte 4" },
        { "no final F7", [] (Bytes& b) { b.back () = '\n'; }, "does not end with F7" },
        { "8-bit byte inside", [&] (Bytes& b) { b[firstData + 12] = 0xC1; }, "data byte 0xC1" },
        { "second SysEx inside", [&] (Bytes& b) { b[firstData + 12] = 0xF7; }, "data byte 0xF7" },
        { "checksum", [&] (Bytes& b) { b[firstData + 10] = b[firstData + 10] == '0' ? '1' : '0'; }, "wrong checksum" },
        { "not hex", [&] (Bytes& b) { b[firstData + 10] = 'G'; }, "not a hex digit" },
        { "byte count", [&] (Bytes& b) { b[firstData + 2] = '1'; }, "byte count" },
        { "missing colon", [&] (Bytes& b) { b[firstData] = ';'; }, "does not start with ':'" },
        { "LF only", [&] (Bytes& b) { b.erase (b.begin () + (long)firstData - 2); }, "CR LF" },
        { "no end-of-file record",
          [&] (Bytes& b) { b.erase (b.begin () + (long)endRecord - 2, b.end () - 1); },
          "no end-of-file record" },
        { "a record after the end-of-file record",
          [&] (Bytes& b)
          {
              const std::string extra = "\r\n:0400000500000000F7";
              b.insert (b.end () - 1, extra.begin (), extra.end ());
          },
          "after the end-of-file record" },
    };

    for (const auto& c : cases)
    {
        auto image = good;
        c.damage (image);
        EXPECT_NE (checkImageStructure (image, 0x10).find (c.expected), std::string::npos)
            << c.what << ": " << checkImageStructure (image, 0x10);
    }

    auto control = makeTestFirmwareImage (0x00, 3000);
    EXPECT_EQ (checkImageStructure (control, 0x00), "");
    control[4] = 0x10;
    EXPECT_NE (checkImageStructure (control, 0x00).find ("processor byte 0x10"), std::string::npos);
    EXPECT_NE (checkImageStructure (good, 0x00).find ("header byte 1"), std::string::npos);
}

TEST (VirtualKxDeviceMessages, IdentityReplyHasTheLayoutTheUpdaterReads)
{
    const auto reply = makeIdentityReply (0x20, { 0, 0, 2, 5 }, ReplyMode::normal);
    ASSERT_EQ (reply.size (), 37u);
    EXPECT_EQ (reply.front (), 0xF0);
    EXPECT_EQ (reply.back (), 0xF7);
    const Bytes fixed{ 0x7E, 0x00, 0x06, 0x02, 0x00, 0x6A, 0x13, 0x5A };
    EXPECT_EQ (Bytes (reply.begin () + 1, reply.begin () + 9), fixed);
    EXPECT_EQ (Bytes (reply.begin () + 11, reply.begin () + 16), Bytes ({ 0, 0, 2, 5, 0x20 }));
    for (size_t i = 1; i + 1 < reply.size (); ++i)
        EXPECT_LT (reply[i], 0x80);

    EXPECT_EQ (makeIdentityReply (0x20, { 0, 0, 2, 5 }, ReplyMode::malformed).size (), 36u);
    EXPECT_TRUE (isIdentityRequest ({ 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 }));
    EXPECT_FALSE (isIdentityRequest ({ 0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7 }));
}

TEST (VirtualKxDeviceReceiver, ReassemblesPiecesAndMatchesTheExpectedImageByteForByte)
{
    const auto image = makeTestFirmwareImage (0x10, 5000);
    PortReceiver receiver (audioPort (), 256);
    receiver.expect (image, "audio.syx");

    const Bytes request{ 0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7 };
    EXPECT_EQ (receiver.receive (request.data (), request.size (), 0.0).identityRequests, 1);
    feedInPieces (receiver, image, 256, 10.0);
    receiver.finish ();

    EXPECT_TRUE (receiver.isSound ()) << receiver.getProblems ().front ();
    EXPECT_EQ (receiver.getNumImages (), 1);
    EXPECT_EQ (receiver.getNumPieces (), (int)((image.size () + 255) / 256));
    const auto report = receiver.getReport ();
    EXPECT_NE (report[0].find ("images 1, bytes " + std::to_string (image.size ())), std::string::npos) << report[0];
    EXPECT_NE (report[0].find ("gaps ms min 3.00 median 3.00"), std::string::npos) << report[0];
    EXPECT_NE (report[0].find ("identity requests 1, verdict OK"), std::string::npos) << report[0];
}

TEST (VirtualKxDeviceReceiver, FindsWhatALossyOrWrongTransferDid)
{
    const auto image = makeTestFirmwareImage (0x10, 3000);

    struct Case
    {
        const char* what;
        std::function<void (PortReceiver&)> transfer;
        const char* expected;
    };

    auto withoutPiece = [&] (size_t missing)
    {
        return [&image, missing] (PortReceiver& r)
        {
            for (size_t offset = 0, i = 0; offset < image.size (); offset += 256, ++i)
                if (i != missing)
                    r.receive (image.data () + offset, std::min<size_t> (256, image.size () - offset), 0.0);
        };
    };

    const Case cases[] = {
        { "a piece in the middle lost", withoutPiece (3), "byte 768 is" },
        { "the first piece lost", withoutPiece (0), "bytes arrived outside any SysEx message" },
        { "the last piece lost", withoutPiece ((image.size () - 1) / 256), "incomplete" },
        { "a byte changed",
          [&] (PortReceiver& r)
          {
              auto copy = image;
              copy[1000] ^= 0x01;
              feedInPieces (r, copy, 256);
          },
          "byte 1000 is" },
        { "pieces of the wrong size",
          [&] (PortReceiver& r) { feedInPieces (r, image, 255); },
          "piece 0 has 255 bytes" },
        { "the image twice",
          [&] (PortReceiver& r)
          {
              feedInPieces (r, image, 256);
              feedInPieces (r, image, 256);
          },
          "one image more than expected" },
        { "nothing at all", [] (PortReceiver&) {}, "did not arrive" },
    };

    for (const auto& c : cases)
    {
        PortReceiver receiver (audioPort (), 256);
        receiver.expect (image, "audio.syx");
        c.transfer (receiver);
        receiver.finish ();

        ASSERT_FALSE (receiver.isSound ()) << c.what;
        std::string all;
        for (const auto& problem : receiver.getProblems ())
            all += problem + "; ";
        EXPECT_NE (all.find (c.expected), std::string::npos) << c.what << ": " << all;
        EXPECT_NE (receiver.getReport ()[0].find ("verdict MISMATCH"), std::string::npos) << c.what;
    }
}

TEST (VirtualKxDeviceReceiver, AnUnplugMayCutTheImageShortButWhatCameMustBeItsStart)
{
    const auto image = makeTestFirmwareImage (0x10, 5000);

    for (const bool damaged : { false, true })
    {
        PortReceiver receiver (audioPort (), 256);
        receiver.expect (image, "audio.syx");
        auto sent = Bytes (image.begin (), image.begin () + 256 * 5);
        if (damaged)
            sent[700] ^= 0x02;

        feedInPieces (receiver, sent, 256);
        receiver.markUnplugged ();
        receiver.finish ();

        EXPECT_EQ (receiver.isSound (), ! damaged);
        const auto report = receiver.getReport ();
        EXPECT_NE (report[0].find ("unplugged after 5 pieces"), std::string::npos) << report[0];
        EXPECT_NE (report[1].find ("(cut short)"), std::string::npos) << report[1];
    }
}

TEST (VirtualKxDeviceReceiver, WithoutExpectedFilesImagesAreCheckedByStructureAgainstThePortsProcessor)
{
    PortReceiver receiver (audioPort (), 256);
    feedInPieces (receiver, makeTestFirmwareImage (0x10, 2000), 256);
    EXPECT_TRUE (receiver.isSound ());

    feedInPieces (receiver, makeTestFirmwareImage (0x20, 2000), 256);
    receiver.finish ();
    ASSERT_EQ (receiver.getProblems ().size (), 1u);
    EXPECT_NE (receiver.getProblems ()[0].find ("image 2: processor byte 0x20"), std::string::npos);
}

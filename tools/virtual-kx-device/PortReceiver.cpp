#include "PortReceiver.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kxdevice
{
namespace
{
std::string format (const char* pattern, double value)
{
    char text[64];
    std::snprintf (text, sizeof (text), pattern, value);
    return text;
}

double percentile (std::vector<double> sorted, double fraction)
{
    const auto index = (size_t)std::max (0.0, std::ceil (fraction * (double)sorted.size ()) - 1.0);
    return sorted[std::min (index, sorted.size () - 1)];
}
} // namespace

PortReceiver::PortReceiver (const PortInfo& portToUse, int expectedPieceSize)
    : port (portToUse), pieceSize (expectedPieceSize)
{
}

void PortReceiver::expect (Bytes image, std::string label)
{
    expected.push_back ({ std::move (image), std::move (label) });
    expectationsGiven = true;
}

PortReceiver::Outcome PortReceiver::receive (const std::uint8_t* data, size_t size, double timeMs)
{
    Outcome outcome;
    const auto event = events++;
    outcome.firmwarePiece = ! (current == std::nullopt && isIdentityRequest (Bytes (data, data + size)));

    if (outcome.firmwarePiece)
        ++firmwarePieces;

    for (size_t i = 0; i < size; ++i)
    {
        const auto byte = data[i];

        if (byte == 0xF0)
        {
            if (current)
            {
                problems.push_back ("a message of " + std::to_string (current->bytes.size ()) +
                                    " bytes was cut short by a new F0");
                current.reset ();
            }

            current = Message {}; // not emplace(): clang 14 finds Message not default-constructible there
        }
        else if (! current)
        {
            ++strayBytes;
            continue;
        }

        if (current->lastEvent != event)
        {
            current->lastEvent = event;
            current->pieceTimes.push_back (timeMs);
            current->pieceSizes.push_back (size);
        }

        current->bytes.push_back (byte);

        if (byte == 0xF7)
        {
            completeMessage (*current, outcome);
            current.reset ();
        }
    }

    return outcome;
}

void PortReceiver::completeMessage (Message& message, Outcome& outcome)
{
    if (isIdentityRequest (message.bytes))
    {
        ++identityRequests;
        ++outcome.identityRequests;
        return;
    }

    Image image;
    image.bytes = message.bytes.size ();
    image.pieceTimes = message.pieceTimes;

    if (! expected.empty ())
    {
        image.checkedAgainst = "byte-exact with " + expected.front ().label;
        image.problem = compareBytes (message.bytes, expected.front ().bytes);
        expected.pop_front ();
    }
    else if (expectationsGiven)
    {
        image.checkedAgainst = "nothing";
        image.problem = "one image more than expected";
    }
    else
    {
        image.checkedAgainst = "structure";
        image.problem = checkImageStructure (message.bytes, port.processor);
    }

    if (image.problem.empty ())
        image.problem = checkPieceSizes (message, true);

    if (! image.problem.empty ())
        problems.push_back ("image " + std::to_string (images.size () + 1) + ": " + image.problem);

    images.push_back (std::move (image));
}

std::string PortReceiver::checkPieceSizes (const Message& message, bool complete) const
{
    if (pieceSize <= 0)
        return {};

    const auto& sizes = message.pieceSizes;

    for (size_t i = 0; i < sizes.size (); ++i)
    {
        const bool last = complete && i + 1 == sizes.size ();

        if (last ? sizes[i] > (size_t)pieceSize : sizes[i] != (size_t)pieceSize)
            return "piece " + std::to_string (i) + " has " + std::to_string (sizes[i]) + " bytes, expected " +
                   (last ? "at most " : "") + std::to_string (pieceSize);
    }

    return {};
}

void PortReceiver::addProblem (const std::string& problem)
{
    problems.push_back (problem);
}

void PortReceiver::markUnplugged ()
{
    unplugged = true;
}

void PortReceiver::finish ()
{
    if (finished)
        return;

    finished = true;

    if (current)
    {
        Image image;
        image.bytes = current->bytes.size ();
        image.pieceTimes = current->pieceTimes;
        image.complete = false;

        if (! unplugged)
        {
            image.problem = "incomplete: " + std::to_string (image.bytes) + " bytes and no F7";
        }
        else if (! expected.empty ())
        {
            // Cut short by the unplug: what did arrive must be the start of the expected image.
            const auto& whole = expected.front ().bytes;
            image.checkedAgainst = "a prefix of " + expected.front ().label;

            if (image.bytes > whole.size () ||
                ! std::equal (current->bytes.begin (), current->bytes.end (), whole.begin ()))
                image.problem = "the bytes before the unplug are not the start of " + expected.front ().label;

            expected.pop_front ();
        }
        else
        {
            image.checkedAgainst = "7-bit data so far";
            for (size_t i = 1; i < current->bytes.size () && image.problem.empty (); ++i)
                if (current->bytes[i] >= 0x80)
                    image.problem = "data byte " + hexByte (current->bytes[i]) + " at byte " + std::to_string (i);
        }

        if (image.problem.empty ())
            image.problem = checkPieceSizes (*current, false);

        if (! image.problem.empty ())
            problems.push_back ("image " + std::to_string (images.size () + 1) + ": " + image.problem);

        images.push_back (std::move (image));
        current.reset ();
    }

    if (strayBytes > 0)
        problems.push_back (std::to_string (strayBytes) + " bytes arrived outside any SysEx message");

    // After an unplug nothing more can arrive, so the images still expected are not a fault.
    if (! unplugged)
        for (const auto& missing : expected)
            problems.push_back ("expected image " + missing.label + " did not arrive");
}

std::vector<std::string> PortReceiver::getReport () const
{
    size_t bytes = 0;
    int pieces = 0;
    double duration = 0.0;
    std::vector<double> gaps;

    for (const auto& image : images)
    {
        bytes += image.bytes;
        pieces += (int)image.pieceTimes.size ();

        if (! image.pieceTimes.empty ())
            duration += image.pieceTimes.back () - image.pieceTimes.front ();

        for (size_t i = 1; i < image.pieceTimes.size (); ++i)
            gaps.push_back (image.pieceTimes[i] - image.pieceTimes[i - 1]);
    }

    std::string line = std::string (port.name) + ": images " + std::to_string (images.size ()) + ", bytes " +
                       std::to_string (bytes) + ", pieces " + std::to_string (pieces);

    if (gaps.empty ())
    {
        line += ", gaps -";
    }
    else
    {
        std::sort (gaps.begin (), gaps.end ());
        line += ", gaps ms min " + format ("%.2f", gaps.front ()) + " median " +
                format ("%.2f", percentile (gaps, 0.5)) + " p99 " + format ("%.2f", percentile (gaps, 0.99)) + " max " +
                format ("%.2f", gaps.back ());
    }

    if (pieces > 0)
    {
        // Ideal time of a transfer: (pieces + 1) ticks of 3 ms, counted per image.
        const auto ideal = 3.0 * (double)(pieces + (int)images.size ());
        line += ", duration " + format ("%.3f", duration / 1000.0) + " s = " + format ("%.3f", duration / ideal) +
                " x (pieces+1) x 3 ms";
    }

    line += ", identity requests " + std::to_string (identityRequests);

    if (unplugged)
        line += ", unplugged after " + std::to_string (firmwarePieces) + " pieces";

    line += ", verdict " + (problems.empty () ? std::string ("OK") : "MISMATCH: " + problems.front ());

    std::vector<std::string> lines{ line };

    for (size_t i = 0; i < images.size (); ++i)
    {
        const auto& image = images[i];
        lines.push_back ("  image " + std::to_string (i + 1) + ": " + std::to_string (image.bytes) + " bytes in " +
                         std::to_string (image.pieceTimes.size ()) + " pieces" +
                         (image.complete ? "" : " (cut short)") + ", checked against " + image.checkedAgainst + ": " +
                         (image.problem.empty () ? "OK" : image.problem));
    }

    return lines;
}
} // namespace kxdevice
